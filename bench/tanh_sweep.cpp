// The wave numbers of the fast marches against the reference's, on random
// arguments:
// - the marches' tanh (glibc's algorithm, each operation rounded on its own)
//   against the C library's tanh, for arguments spread evenly in log between
//   e^-7 and 25;
// - h gamma (depth times breaker index, the numerator of the bracket's R) from
//   the marches' wave number against the one from the reference's, for depths
//   spread evenly in log between 0.01 and 30 m and periods between 2 and 15 s.
// The march's parts are compiled here for the baseline alone: every
// instruction set gives the same bits.
// Usage: qav_tanh_sweep [arguments]
#ifndef HWY_COMPILE_ONLY_STATIC
#define HWY_COMPILE_ONLY_STATIC 1
#endif
#include "physics/march_targets.h"
#include "physics/march_wave_number-inl.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

// Highway's operations carry the target's attributes (on Arm too): so must
// the code that calls them.
HWY_BEFORE_NAMESPACE();
namespace {

namespace hn = hwy::HWY_NAMESPACE;
namespace march = qav::HWY_NAMESPACE;

using D1 = hn::CappedTag<double, 1>;

double Plain(double x) {
    const D1 d;
    return hn::GetLane(march::Tanh<march::Rounding::Plain>(d, march::Constant<1>(d, x)).v[0]);
}

// h gamma from the marches' own wave number.
double MarchHGamma(double h, double omega, double inverseG) {
    return h * (march::WaveNumberOf<march::Rounding::Plain>(h, omega, inverseG) * 0.76 * h + 0.29);
}

double UnitsApart(double a, double b) { return std::fabs(a - b) / (std::nextafter(b, INFINITY) - b); }

}  // namespace
HWY_AFTER_NAMESPACE();

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 10000000L;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> logArgument(-7.0, std::log(25.0));
    long differ = 0;
    long differBelowOne = 0;
    double worst = 0.0;
    for (long i = 0; i < n; ++i) {
        const double x = std::exp(logArgument(random));
        const double ours = Plain(x);
        const double library = std::tanh(x);
        if (ours != library) {
            ++differ;
            differBelowOne += x < 1.0;
            worst = std::max(worst, UnitsApart(ours, library));
        }
    }
    std::printf(
        "tanh: %ld of %ld differ from the C library's (%ld of them below 1), by at most %.0f units in "
        "the last place\n",
        differ, n, differBelowOne, worst);

    std::uniform_real_distribution<double> logDepth(std::log(0.01), std::log(30.0));
    std::uniform_real_distribution<double> period(2.0, 15.0);
    const double inverseG = 1.0 / 9.81;
    long points = 0;
    differ = 0;
    worst = 0.0;
    for (long i = 0; i < n; ++i) {
        const double h = std::exp(logDepth(random));
        const double omega = 1.0 / period(random) * 6.283185307179586;
        const double ours = MarchHGamma(h, omega, inverseG);
        const double reference = march::ReferenceHGamma(h, omega, inverseG);
        ++points;
        if (ours != reference) {
            ++differ;
            worst = std::max(worst, UnitsApart(ours, reference));
        }
    }
    std::printf(
        "h gamma: %ld of %ld points differ from the reference's, by at most %.0f units in the last place\n",
        differ, points, worst);
    return 0;
}
