#pragma once

// The instruction sets the march is compiled for, set before Highway's
// headers by every file that compiles it (roller_march.cpp, the tests of its
// parts). SSSE3 processors take the baseline: one target less to compile.
// Registers side by side live in arrays, which scalable vectors (SVE) cannot:
// Arm processors take NEON.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
