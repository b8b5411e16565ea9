// The functions of Google Highway's library that its headers call: which
// targets the processor runs, the target chosen for dynamic dispatch, and
// Abort. They are built into the library instead of linking Highway's shared
// library, whose static initializer takes milliseconds at every load (it
// measures its benchmark timer's resolution); here nothing runs at load, and the processor is asked
// on the first march. Debian ships Highway's library for Linux only, so the
// Windows build needs them too. The features asked of each target are those
// its code is compiled with (HWY_TARGET_STR_* of hwy/ops/set_macros-inl.h),
// read from the processor's CPUID bits, and the AVX and AVX-512 targets only
// where the system saves their registers (XCR0). The bits are read directly
// rather than through the compiler's processor check, whose feature names
// differ between GCC and clang.
#include <hwy/targets.h>

#if HWY_ARCH_X86_64
#include <cpuid.h>
#endif

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

#if HWY_ARCH_X86_64
constexpr bool Has(unsigned reg, int bit) { return ((reg >> bit) & 1u) != 0; }
#endif

int64_t ProcessorTargets() {
    int64_t bits = HWY_SCALAR | HWY_EMU128;
#if HWY_ARCH_X86_64
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return bits;
    const unsigned c1 = c, d1 = d;
    unsigned b7 = 0, c7 = 0;
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b7, c7, d);
    }
    // The register state the system saves on a switch: SSE and AVX (bits 1,
    // 2), and for AVX-512 the mask and upper registers (bits 5 to 7).
    unsigned long long xcr0 = 0;
    if (Has(c1, 27)) {  // OSXSAVE
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (static_cast<unsigned long long>(hi) << 32) | lo;
    }
    const bool avxState = (xcr0 & 0x6) == 0x6;
    const bool avx512State = (xcr0 & 0xE6) == 0xE6;

    const bool ssse3 = Has(d1, 26) && Has(c1, 9);  // SSE2, SSSE3
    const bool sse4 =
        ssse3 && Has(c1, 19) && Has(c1, 20) && Has(c1, 1) && Has(c1, 25);      // SSE4.1/4.2, PCLMUL, AES
    const bool avx2 = sse4 && avxState && Has(c1, 28) && Has(b7, 5) &&         // AVX, AVX2
                      Has(b7, 3) && Has(b7, 8) && Has(c1, 12) && Has(c1, 29);  // BMI, BMI2, FMA, F16C
    const bool avx3 = avx2 && avx512State && Has(b7, 16) && Has(b7, 31) &&     // AVX512F, VL
                      Has(b7, 17) && Has(b7, 30);                              // DQ, BW
    const bool avx3dl = avx3 && Has(c7, 11) && Has(c7, 10) && Has(c7, 1) &&    // VNNI, VPCLMULQDQ, VBMI
                        Has(c7, 6) && Has(c7, 9) &&                            // VBMI2, VAES
                        Has(c7, 14) && Has(c7, 12);                            // VPOPCNTDQ, BITALG
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
