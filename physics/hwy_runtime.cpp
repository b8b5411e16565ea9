// The functions of Google Highway's library that its headers call: which
// targets the processor runs, the target chosen for dynamic dispatch, and
// Abort. They are built into the library instead of linking Highway's shared
// library, whose static initializer takes milliseconds at every load (it
// measures its benchmark timer's resolution); here nothing runs at load, and the processor is asked
// on the first march. Debian ships Highway's library for Linux only, so the
// Windows build needs them too. The features asked of each target are those
// its code is compiled with (HWY_TARGET_STR_* of hwy/ops/set_macros-inl.h);
// GCC's processor check also asks whether the system saves the AVX and
// AVX-512 registers.
#include <hwy/targets.h>

#if HWY_ARCH_ARM_A64 && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace hwy {
namespace {

std::atomic<int64_t> disabledTargets{0};
std::atomic<int64_t> mockTargets{0};

int64_t ProcessorTargets() {
    int64_t bits = HWY_SCALAR | HWY_EMU128;
#if HWY_ARCH_X86_64
    __builtin_cpu_init();
    const bool ssse3 = __builtin_cpu_supports("sse2") && __builtin_cpu_supports("ssse3");
    const bool sse4 = ssse3 && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("sse4.2") &&
                      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("aes");
    const bool avx2 = sse4 && __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
                      __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
                      __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c");
    const bool avx3 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
    const bool avx3dl = avx3 && __builtin_cpu_supports("avx512vnni") &&
                        __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512vbmi") &&
                        __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("vaes") &&
                        __builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("avx512bitalg");
    if (ssse3) bits |= HWY_SSSE3;
    if (sse4) bits |= HWY_SSE4;
    if (avx2) bits |= HWY_AVX2;
    if (avx3) bits |= HWY_AVX3;
    if (avx3dl) bits |= HWY_AVX3_DL;
#elif HWY_ARCH_ARM_A64 && defined(__linux__)
    // Highway's NEON target on 64-bit ARM includes AES. SVE is not reported:
    // the march is not built for it.
    const unsigned long hwcap = getauxval(AT_HWCAP);
    if ((hwcap & HWCAP_ASIMD) != 0 && (hwcap & HWCAP_AES) != 0) bits |= HWY_NEON;
#endif
    return bits;
}

}  // namespace

HWY_DLLEXPORT int64_t SupportedTargets() {
    static const int64_t processor = ProcessorTargets();
    const int64_t mock = mockTargets.load();
    int64_t targets = (mock != 0 ? mock : processor) & ~disabledTargets.load();
    // There is always one target to call.
    if (targets == 0) targets = HWY_STATIC_TARGET;
    GetChosenTarget().Update(targets);
    return targets;
}

HWY_DLLEXPORT void DisableTargets(int64_t disabled_targets) {
    disabledTargets.store(disabled_targets);
    GetChosenTarget().DeInit();
}

HWY_DLLEXPORT void SetSupportedTargetsForTest(int64_t targets) {
    mockTargets.store(targets);
    GetChosenTarget().DeInit();
}

HWY_DLLEXPORT ChosenTarget& GetChosenTarget() {
    static ChosenTarget chosen;
    return chosen;
}

HWY_DLLEXPORT HWY_NORETURN void HWY_FORMAT(3, 4) Abort(const char* file, int line, const char* format, ...) {
    char text[2000];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "Abort at %s:%d: %s\n", file, line, text);
    std::fflush(stderr);
    std::abort();
}

}  // namespace hwy
