// Turns fuzz bytes into the arguments of the exports: counts, arrays of
// exactly their stated length, and values that include NaN, infinities,
// subnormals, huge and tiny numbers. After each call the contract is checked
// and any breach aborts, which libFuzzer reports.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace qav_fuzz {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

inline double Value(FuzzedDataProvider& in, double low, double high) {
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return std::numeric_limits<double>::denorm_min() * in.ConsumeIntegralInRange<int>(-3, 3);
    case 4: return in.ConsumeBool() ? 1e300 : -1e300;
    case 5: return in.ConsumeBool() ? 1e-300 : -1e-300;
    case 6: return 0.0;
    case 7: return -999.0;
    case 8: {
        double raw = 0;
        const auto bytes = in.ConsumeBytes<unsigned char>(sizeof raw);
        if (!bytes.empty()) std::memcpy(&raw, bytes.data(), bytes.size());
        return raw;
    }
    default: return in.ConsumeFloatingPointInRange<double>(low, high);
    }
}

// An array of exactly n values; empty when n < 1.
inline std::vector<double> Array(FuzzedDataProvider& in, int n, double low, double high) {
    std::vector<double> values(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (double& v : values) v = Value(in, low, high);
    return values;
}

// A profile that mostly rises towards the dike, sometimes anything at all.
inline void Profile(FuzzedDataProvider& in, int m, std::vector<double>& x, std::vector<double>& z) {
    x.assign(m > 0 ? static_cast<std::size_t>(m) : 0, 0.0);
    z = x;
    const bool wild = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    double position = in.ConsumeFloatingPointInRange<double>(-1000, 1000);
    double level = in.ConsumeFloatingPointInRange<double>(-30, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (wild) {
            x[i] = Value(in, -1e4, 1e4);
            z[i] = Value(in, -50, 10);
        } else {
            x[i] = position;
            z[i] = level;
            const double step = in.ConsumeFloatingPointInRange<double>(0.0, 200.0);
            position += step;
            level += step * in.ConsumeFloatingPointInRange<double>(-0.02, 0.11);
        }
    }
}

// The smallest grid step that keeps the grid below 20000 points, so a run
// stays quick under the sanitizers; the grid limit itself is exercised by the
// tests.
inline double BoundedMinStepSize(FuzzedDataProvider& in, const std::vector<double>& x) {
    double step = Value(in, 0.01, 50);
    if (x.size() >= 2) {
        const double length = std::fabs(x.back() - x.front());
        if (std::isfinite(length) && step > 0 && length / step > 2e4) step = length / 2e4;
    }
    return step;
}

// A message text without trailing blanks: the trimmed length.
inline std::size_t TrimmedLength(const char* text, std::size_t length) {
    while (length > 0 && text[length - 1] == ' ') --length;
    return length;
}

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Each result is InvalidValue or a finite number (a wave height of at least
// 0); a calm or out-of-range step hands back its own Tp and incoming angle,
// whatever they hold.
inline void RequireResults(const std::vector<double>& hm0, const std::vector<double>& tp,
                           const std::vector<double>& angle, const std::vector<double>& tpIn,
                           const std::vector<double>& angleIn, double invalid) {
    for (std::size_t i = 0; i < hm0.size(); ++i) {
        Require(SameBits(hm0[i], invalid) || (std::isfinite(hm0[i]) && hm0[i] >= 0.0),
                "Hm0Toe finite and not negative, or InvalidValue");
        Require(SameBits(tp[i], invalid) || SameBits(tp[i], tpIn[i]), "TpToe is Tp or InvalidValue");
        Require(SameBits(angle[i], invalid) || std::isfinite(angle[i]) || SameBits(angle[i], angleIn[i]),
                "WaveAngleToe finite, the incoming angle, or InvalidValue");
    }
}

} // namespace qav_fuzz
