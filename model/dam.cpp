// Transmission of waves over a dam, caisson or wall in front of the dike.
#include <cmath>

#include "model/grid.h"

namespace qav {
namespace {

struct DamShape {
    double alpha;
    double beta;
};

// Shape coefficients per dam type 1 (caisson), 2 (wall), 3 (dam).
constexpr DamShape DamShapes[] = {{2.2, 0.4}, {1.8, 0.1}, {2.6, 0.15}};

}  // namespace

double TransmissionCoefficient(double R, double alpha, double beta) {
    if (R <= -(alpha + beta)) return 1.0;  // crest so deep that all waves pass
    if (R >= alpha - beta) return 0.0;     // crest so high that none pass
    return 0.5 + 0.5 * std::sin((beta + R) * (-1.5707963267948966) / alpha);
}

double DamTransmission(int DamType, double DamHeight, double Wlev, double Hm0) {
    if (DamType <= 0 || DamType > 3) return Hm0;
    const DamShape shape = DamShapes[DamType - 1];
    const double R = (DamHeight - Wlev) / Hm0;  // relative freeboard
    return Hm0 * TransmissionCoefficient(R, shape.alpha, shape.beta);
}

}  // namespace qav
