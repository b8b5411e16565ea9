#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace qav {

// Gravitational acceleration g (m/s2) and water density rho (kg/m3) of one
// run. They travel with the run, so concurrent runs with different values
// never disturb each other.
struct Constants {
    double g = 9.81;
    double rho = 1025.0;
};

inline constexpr double TwoPi = 6.283185307179586;
inline constexpr double Pi = 3.141592653589793;
inline constexpr double DegreesToRadians = 0.017453292519943295;
inline constexpr double RadiansToDegrees = 57.29577951308232;
// The factors of the breaking and friction dissipation, written as the exact
// doubles the formulas use; the bracket's exact sums (long double) take the
// same digits.
inline constexpr double FourOverThreeSqrtPi = 0.7522527780636751;  // 4 / (3 sqrt(pi))
inline constexpr long double FourOverThreeSqrtPiLong = 0.7522527780636751L;
inline constexpr double ThreeSqrtPiOver16 = 0.33233509704478426;  // 3 sqrt(pi) / 16
inline constexpr double TwoOverThreePi = 0.2122065907891938;      // 2 / (3 pi)
inline constexpr double Hm0ToHrms = 0.7071067811865475;
inline constexpr double HrmsToHm0 = 1.4142135623730951;
inline constexpr double MinimumWaterDepth = 0.001;  // m
inline constexpr double EnergyThreshold = 1e-15;    // J/m2

// Wave number k (rad/m) for angular frequency omega (rad/s) and depth h (m):
// exactly two Halley steps on omega^2 = g k tanh(k h), no convergence test.
[[nodiscard]] double WaveNumber(double omega, double h, const Constants& c);
// Array form: k[i] = WaveNumber(omega, h[i]); k and h have one length.
void WaveNumber(double omega, std::span<const double> h, std::span<double> k, const Constants& c);
// Phase speed C = omega / k (m/s).
[[nodiscard]] double PhaseCelerity(double omega, double k);
// n = Cg / C from k, h and T = tanh(k h) as supplied by the caller.
[[nodiscard]] double GroupVelocityRatioFromTanh(double k, double h, double T);
// Group velocity Cg = n 2 pi / (Tp k) (m/s).
[[nodiscard]] double GroupVelocity(double n, double k, double Tp);
// Wave energy E = rho g Hrms^2 / 8 (J/m2).
[[nodiscard]] double WaveEnergy(double Hrms, const Constants& c);
// Hrms = sqrt(8 E / (g rho)) (m).
[[nodiscard]] double WaveHeightFromEnergy(double E, const Constants& c);
// Breaker index gamma = 0.29 + 0.76 k h (Ruessink, Walstra and Southgate 2003).
[[nodiscard]] double BreakerIndex(double k, double h);
// R = gamma h / Hrms.
[[nodiscard]] double BreakerHeightRatio(double gamma, double h, double Hrms);
// Dissipation by depth-induced breaking (W/m2), Janssen and Battjes (2007);
// the bracket is rounded to single precision.
[[nodiscard]] double BreakingDissipation(double Alpha, double fp, double R, double Hrms, double h,
                                         const Constants& c);
// Dissipation by bottom friction (W/m2) from sinh(k h).
[[nodiscard]] double FrictionDissipation(double Fc, double Hrms, double k, double h, double Tp,
                                         const Constants& c);
// The same dissipation from T = tanh(k h); k and h are not used.
[[nodiscard]] double FrictionDissipationFromTanh(double Fc, double Hrms, double k, double h, double Tp,
                                                 double T, const Constants& c);
// Wave direction at the dike toe (deg) by Snell's law between the celerities
// at the first and last grid point, or a quiet NaN when the sine ratio
// exceeds 1.01 in magnitude. The direction lies in [0, 360] (360 for an
// incoming 360 refracted to 0), whatever turns the two angles are given in.
[[nodiscard]] double RefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst,
                                            double cLast);
// The same rule with the sine and arcsine given (the C library's above; the
// fast marches take ones that round alike on every processor).
[[nodiscard]] double RefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst,
                                            double cLast, double (*sine)(double), double (*arcsine)(double));
// True unless the waves come from more than 90 degrees off the dike normal;
// both limits inclusive, NaN counts as valid.
[[nodiscard]] bool IsIncomingAngleValid(double DikeNormal, double IncomingWaveAngle);
// angle brought into [0, 360] (deg).
[[nodiscard]] double Modulo360(double angle);

// Wave height and direction at the dike toe.
struct ToeWaves {
    double hm0;        // m
    double direction;  // deg, NaN when it cannot be computed
    // The march set the energy to 0 at a point still under water (depth above
    // MinimumWaterDepth) because one grid step's dissipation exceeded the
    // flux, while the energy before that step was significant: more than
    // ClampedEnergyShare of the energy at the offshore end. The waves then
    // stop within one grid step, which says the grid is too coarse for the
    // breaking there. It changes no number.
    bool energyClamped = false;
};

// Share of the offshore energy above which a clamped energy is reported.
inline constexpr double ClampedEnergyShare = 1e-3;

// Values of one grid point during the march, for callers that want to look
// along the foreshore (see RunRollerModelTraced).
struct GridPointState {
    double depth;                // m
    double waveNumber;           // rad/m
    double groupVelocity;        // m/s
    double energy;               // J/m2
    double hrms;                 // m
    double breakingDissipation;  // W/m2
    double frictionDissipation;  // W/m2
};

// Reusable work arrays of one calling thread, so that a series of time steps
// allocates only when the grid grows.
struct RollerWorkspace {
    std::vector<double> depth;
    std::vector<double> waveNumber;
};

// The energy balance of one time step along the grid, from the offshore end
// to the toe. bottomLevel holds the P >= 1 bottom levels (m) of the grid
// points, gridStep the uniform step (m).
[[nodiscard]] ToeWaves RunRollerModel(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                                      double DikeNormal, double IncomingWaveAngle, double gridStep,
                                      std::span<const double> bottomLevel, const Constants& c,
                                      RollerWorkspace& work);

// As RunRollerModel, and also hands the state of every grid point to visit(i,
// state) in march order. Same results.
using GridPointVisitor = void (*)(void* context, std::size_t index, const GridPointState& state);
[[nodiscard]] ToeWaves RunRollerModelTraced(double Tp, double TransmittedHm0, double Alpha, double Fc,
                                            double Wlev, double DikeNormal, double IncomingWaveAngle,
                                            double gridStep, std::span<const double> bottomLevel,
                                            const Constants& c, GridPointVisitor visit, void* context);

}  // namespace qav
