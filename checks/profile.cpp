#include <cmath>
#include <string>

#include "checks/checks.h"
#include "common/log.h"

namespace qav {
namespace {

// Steepest slope allowed, 1:10, as the single-precision value nearest to 0.1.
constexpr double MaximumSlope = 0.100000001490116119384765625;

int Refuse(MessageBuffer message, std::string_view label) {
    WriteLogLine(std::string(label) + std::string(message.Trimmed()));
    return -1;
}

} // namespace

int CheckProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                 MessageBuffer message) {
    const std::size_t nX = ProfileX.size();
    const std::size_t nZ = ProfileBottomLevel.size();
    if (nX == 0) {
        message.Append("The size of the grid array equals 0. Must be at least 1!");
        return Refuse(message, "Entry Grid size error:");
    }
    if (nZ == 0) {
        message.Append("The size of the depth array equals 0. Must be at least 1!");
        return Refuse(message, "Entry Bottom level size error:");
    }
    if (nX != nZ) {
        message.Append("The array size of the grid does not match the array size of the depth values!");
        return Refuse(message, "Entry Grid and Bottom level size error:");
    }
    const std::size_t n = nX;
    if (n == 1) return 0;

    const auto& X = ProfileX;
    const auto& Z = ProfileBottomLevel;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(X[i]) || !std::isfinite(Z[i])) {
            message.Replace("The profile contains a value that is not a finite number!");
            return Refuse(message, "");
        }
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (X[i - 1] >= X[i]) {
            message.Replace("x-values not increasing");
            return Refuse(message, "");
        }
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (Z[0] > Z[i]) {
            message.Replace("bottom below toe");
            return Refuse(message, "");
        }
    }
    for (std::size_t i = 1; i < n; ++i) {
        const double slope = std::fabs(Z[i] - Z[i - 1]) / (X[i] - X[i - 1]);
        if (slope > MaximumSlope) {
            message.Replace("The absolute slope between succeeding grid points exceeds 1:10!");
            return Refuse(message, "");
        }
    }
    return 0;
}

} // namespace qav
