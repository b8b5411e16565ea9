// The stationary one-dimensional wave energy balance d(E cg)/dx = -(Db + Df),
// marched explicitly from the offshore end of the grid to the dike toe.
#include <cmath>

#include "physics/physics.h"

namespace qav {
namespace {

struct NoVisitor {
    void operator()(std::size_t /*index*/, const GridPointState& /*state*/) const {}
};

struct ForwardVisitor {
    GridPointVisitor visit;
    void* context;
    void operator()(std::size_t index, const GridPointState& state) const { visit(context, index, state); }
};

// The march, with the per-point observer compiled away on the model's own path.
template <class Visitor>
ToeWaves March(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev, double DikeNormal,
               double IncomingWaveAngle, double gridStep, std::span<const double> bottomLevel,
               const Constants& c, RollerWorkspace& work, const Visitor& visit) {
    const std::size_t P = bottomLevel.size();
    if (P == 0) return {std::nan(""), std::nan("")};  // no grid point to carry waves along
    const double f = 1.0 / Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double HIn = TransmittedHm0 * Hm0ToHrms;

    work.depth.resize(P);
    work.waveNumber.resize(P);
    std::span<double> h(work.depth.data(), P);
    std::span<double> k(work.waveNumber.data(), P);
    for (std::size_t i = 0; i < P; ++i) {
        const double depth = Wlev - bottomLevel[i];
        // A dry point, or a NaN difference, keeps the minimum depth.
        h[i] = depth > MinimumWaterDepth ? depth : MinimumWaterDepth;
    }
    WaveNumber(omega, h, k, c);

    // First point: the offshore boundary, no threshold test.
    double t = omega2 / (k[0] * c.g);
    double n = GroupVelocityRatioFromTanh(k[0], h[0], t);
    double cg = GroupVelocity(n, k[0], Tp);
    double E = WaveEnergy(HIn, c);
    double H = WaveHeightFromEnergy(E, c);
    double gamma = BreakerIndex(k[0], h[0]);
    double R = BreakerHeightRatio(gamma, h[0], H);
    double Db = BreakingDissipation(Alpha, f, R, H, h[0], c);
    double Df = FrictionDissipation(Fc, H, k[0], h[0], Tp, c);
    double D = Db + Df;
    visit(0, GridPointState{h[0], k[0], cg, E, H, Db, Df});
    const double significant = ClampedEnergyShare * E;
    bool clamped = false;

    for (std::size_t i = 1; i < P; ++i) {
        t = omega2 / (k[i] * c.g);
        n = GroupVelocityRatioFromTanh(k[i], h[i], t);
        const double cgNext = GroupVelocity(n, k[i], Tp);
        // First-order upwind: the dissipation of the point behind drains the
        // flux over the step. A negative or NaN energy becomes 0.
        const double v = (cg * E - D * gridStep) / cgNext;
        clamped = clamped || (v < 0.0 && E > significant && h[i] > MinimumWaterDepth);
        E = v > 0.0 ? v : 0.0;
        cg = cgNext;
        if (E > EnergyThreshold) {
            H = WaveHeightFromEnergy(E, c);
            gamma = BreakerIndex(k[i], h[i]);
            R = BreakerHeightRatio(gamma, h[i], H);
            Db = BreakingDissipation(Alpha, f, R, H, h[i], c);
            Df = FrictionDissipationFromTanh(Fc, H, k[i], h[i], Tp, t, c);
        } else {
            H = 0.0;
            Db = 0.0;
            Df = 0.0;
        }
        D = Db + Df;
        visit(i, GridPointState{h[i], k[i], cg, E, H, Db, Df});
    }

    const double cFirst = PhaseCelerity(omega, k[0]);
    const double cLast = PhaseCelerity(omega, k[P - 1]);
    return {H * HrmsToHm0, RefractedWaveDirection(DikeNormal, IncomingWaveAngle, cFirst, cLast), clamped};
}

} // namespace

ToeWaves RunRollerModel(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                        double DikeNormal, double IncomingWaveAngle, double gridStep,
                        std::span<const double> bottomLevel, const Constants& c, RollerWorkspace& work) {
    return March(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel, c,
                 work, NoVisitor{});
}

ToeWaves RunRollerModelTraced(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                              double DikeNormal, double IncomingWaveAngle, double gridStep,
                              std::span<const double> bottomLevel, const Constants& c, GridPointVisitor visit,
                              void* context) {
    RollerWorkspace work;
    return March(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel, c,
                 work, ForwardVisitor{visit, context});
}

} // namespace qav
