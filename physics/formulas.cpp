// Closed-form wave relations. The order of operations is written out as the
// model defines it: the last bits of every result depend on it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "physics/physics.h"

namespace qav {

double WaveNumber(double omega, double h, const Constants& c) {
    // x = k h solves x tanh(x) = omega^2 h / g; start from the deep-water value.
    const double deep = (h * (omega * omega)) * (1.0 / c.g);
    double x = deep;
    for (int step = 0; step < 2; ++step) {
        const double T = std::tanh(x);
        const double halfSlope = ((1.0 - T * T) * x + T) * 0.5;
        const double f = T * x - deep;
        x = x - f / (std::sqrt((T * x - 1.0) * (1.0 - T * T) * f + halfSlope * halfSlope) + halfSlope);
    }
    return omega >= 0.0 ? x / h : -x / h;
}

void WaveNumber(double omega, std::span<const double> h, std::span<double> k, const Constants& c) {
    for (std::size_t i = 0; i < h.size(); ++i) k[i] = WaveNumber(omega, h[i], c);
}

double PhaseCelerity(double omega, double k) { return omega / k; }

double GroupVelocityRatioFromTanh(double k, double h, double T) {
    return (1.0 - T * T) * (h * k) / (T + T) + 0.5;
}

double GroupVelocity(double n, double k, double Tp) { return n * TwoPi / (Tp * k); }

double WaveEnergy(double Hrms, const Constants& c) { return Hrms * Hrms * (c.rho * 0.125 * c.g); }

double WaveHeightFromEnergy(double E, const Constants& c) { return std::sqrt(E * 8.0 / (c.g * c.rho)); }

double BreakerIndex(double k, double h) { return k * 0.76 * h + 0.29; }

double BreakerHeightRatio(double gamma, double h, double Hrms) { return h * gamma / Hrms; }

double BreakingDissipation(double Alpha, double fp, double R, double Hrms, double h, const Constants& c) {
    const double bracket =
        (1.0 - std::erf(R)) + std::exp(-R * R) * ((1.5 * R + R * R * R) * FourOverThreeSqrtPi);
    // The bracket is carried in single precision: part of the model's result.
    const double Q = static_cast<double>(static_cast<float>(bracket));
    const double A = Alpha * ThreeSqrtPiOver16 * c.rho * c.g * fp;
    return Q * (Hrms * Hrms * Hrms * A) / h;
}

double FrictionDissipation(double Fc, double Hrms, double k, double h, double Tp, const Constants& c) {
    const double u = (Hrms * Pi) / (std::sinh(h * k) * Tp);
    return u * u * u * (c.rho * TwoOverThreePi * Fc);
}

double FrictionDissipationFromTanh(double Fc, double Hrms, double /*k*/, double /*h*/, double Tp, double T,
                                   const Constants& c) {
    // 1 / sinh(x) = sqrt(1 - tanh^2 x) / tanh x; no velocity once T reaches 1.
    const double u = std::sqrt(std::max(1.0 - T * T, 0.0)) * (Hrms * Pi) / (T * Tp);
    return u * u * u * (c.rho * TwoOverThreePi * Fc);
}

double RefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst, double cLast,
                              double (*sine)(double), double (*arcsine)(double)) {
    // Directions more than one and a half turns apart are first brought into
    // [0, 360]: the difference below is then the angle between them, and the
    // single correction of the result suffices.
    if (std::fabs(IncomingWaveAngle - DikeNormal) > 540.0) {
        IncomingWaveAngle = Modulo360(IncomingWaveAngle);
        DikeNormal = Modulo360(DikeNormal);
    }
    double theta = std::fabs(IncomingWaveAngle - DikeNormal);
    if (theta > 180.0) theta = theta - 360.0;
    double r = sine(theta * DegreesToRadians) * cLast / cFirst;
    if (std::fabs(r) > 1.01) return std::numeric_limits<double>::quiet_NaN();
    r = std::clamp(r, -1.0, 1.0);
    const double refracted = arcsine(r) * RadiansToDegrees;
    double beta = DikeNormal < IncomingWaveAngle ? DikeNormal + refracted : DikeNormal - refracted;
    if (beta < 0.0) {
        beta = beta + 360.0;
    } else if (beta > 360.0) {
        beta = beta - 360.0;
    }
    // A normal outside [0, 360] can leave the direction outside after that
    // one correction (adding 0 turns a -0 into 0).
    if (beta < 0.0 || beta > 360.0) beta = Modulo360(beta) + 0.0;
    // An incoming angle of 360 keeps being reported as 360, not 0.
    if (std::fabs(beta) < 1e-15 && std::fabs(IncomingWaveAngle - 360.0) < 1e-15) beta = 360.0;
    return beta;
}

double RefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst, double cLast) {
    return RefractedWaveDirection(
        DikeNormal, IncomingWaveAngle, cFirst, cLast, [](double x) { return std::sin(x); },
        [](double x) { return std::asin(x); });
}

bool IsIncomingAngleValid(double DikeNormal, double IncomingWaveAngle) {
    const double difference = std::fabs(Modulo360(IncomingWaveAngle) - Modulo360(DikeNormal));
    // Written so that a NaN difference counts as valid.
    return !(difference > 90.0 && difference < 270.0);
}

double Modulo360(double angle) {
    double r = std::fmod(angle, 360.0);
    if (r < 0.0) r = r + 360.0;
    return r;
}

}  // namespace qav
