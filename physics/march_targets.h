// The instruction sets that the march's parts are compiled for, once each
// (foreach_target.h), wherever they are compiled: every one Highway has but
// these. SSSE3 processors take the baseline: one target less to compile.
// Registers side by side live in arrays, which scalable vectors (SVE) cannot:
// Arm processors take NEON. Include before Highway's headers.
#ifndef QAV_PHYSICS_MARCH_TARGETS_H_
#define QAV_PHYSICS_MARCH_TARGETS_H_

#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif

#endif  // QAV_PHYSICS_MARCH_TARGETS_H_
