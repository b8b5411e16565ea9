#include <cmath>
#include <string>

#include "checks/checks.h"
#include "common/log.h"
#include "physics/physics.h"

namespace qav {
namespace {

// A value equal to the caller's marker, or not a finite number at all.
bool IsInvalid(double value, double InvalidValue) {
    return std::fabs(value - InvalidValue) <= Tolerance || !std::isfinite(value);
}

} // namespace

int CheckHydraulicConditions(double Hm0, double Tp, double Wlev, double IncomingWaveAngle,
                             double InvalidValue, MessageBuffer message) {
    // A NaN Hm0 fails both comparisons and is judged invalid below.
    if (0.0 <= Hm0 && Hm0 <= Tolerance) {
        message.Replace("Hm0 is (almost) zero");
        return ConditionsCalm;
    }

    std::string problems;
    const auto add = [&problems](const char* text) {
        if (!problems.empty()) problems += " | ";
        problems += text;
    };
    if (IsInvalid(Hm0, InvalidValue)) {
        add("Hm0 is invalid");
    } else if (Hm0 < 0.0) {
        add("Hm0 is negative");
    }
    if (std::fabs(Tp) <= Tolerance) {
        add("Tp is (almost) zero");
    } else if (IsInvalid(Tp, InvalidValue)) {
        add("Tp is invalid");
    } else if (Tp < 0.0) {
        add("Tp is negative");
    }
    if (IsInvalid(Wlev, InvalidValue)) add("Wlev is invalid");
    if (IsInvalid(IncomingWaveAngle, InvalidValue)) add("incoming wave angle is invalid");

    if (problems.empty()) return ConditionsAccepted;
    message.Replace(problems);
    return ConditionsRefused;
}

bool CheckIncomingWaveAngle(double IncomingWaveAngle, double DikeNormal, MessageBuffer message) {
    LogReal("Entry Dike Normal:", DikeNormal);
    if (IsIncomingAngleValid(DikeNormal, IncomingWaveAngle)) return true;
    message.Replace("Entry Incoming wave angle outside valid range");
    WriteLogLine(message.Trimmed());
    return false;
}

int ValidateHydraulicSeries(std::span<const double> Hm0, std::span<const double> Tp,
                            std::span<const double> Wlev, std::span<const double> IncomingWaveAngle,
                            double InvalidValue, MessageBuffer message) {
    const std::size_t n = Hm0.size();
    if (n == 0) return ConditionsAccepted;
    const auto check = [&](std::size_t i) {
        return CheckHydraulicConditions(Hm0[i], Tp[i], Wlev[i], IncomingWaveAngle[i], InvalidValue, message);
    };
    bool calmSeen = false;
    std::size_t calmStep = 0;
    int result = ConditionsAccepted;
    for (std::size_t i = 0; i < n; ++i) {
        result = check(i);
        // A refused step wins over an earlier calm one.
        if (result == ConditionsRefused) return result;
        if (result == ConditionsCalm && i + 1 < n) {
            calmSeen = true;
            calmStep = i;
        }
    }
    if (!calmSeen) return result;
    // Leave the calm step's message in the buffer once more.
    return check(calmStep);
}

} // namespace qav
