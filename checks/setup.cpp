#include <cmath>
#include <string>

#include "checks/checks.h"
#include "common/log.h"
#include "common/run_input.h"

namespace qav {
namespace {

int Refuse(MessageBuffer message, std::string_view text, std::string_view label) {
    message.Append(text);
    WriteLogLine(label, message.Trimmed());
    return -1;
}

}  // namespace

int CheckModelSetup(const RunInput& input, MessageBuffer message) {
    using enum Argument;
    using Line = InputLine;
    static constexpr InputLine Values[] = {Line::Value(Alpha),
                                           Line::Value(Fc),
                                           Line::Value(InvalidValue),
                                           Line::Value(DamType),
                                           Line::Value(DamHeight),
                                           Line::Value(MinStepSize),
                                           Line::Value(RatioDepth),
                                           Line::Count(Hm0),
                                           Line::Count(Tp),
                                           Line::Count(Wlev),
                                           Line::Count(IncomingWaveAngle),
                                           Line::Count(ProfileX),
                                           Line::Count(ProfileBottomLevel)};
    LogInputLines(input, Values);
    const qav::ModelParameters& p = input.Parameters;

    const bool foreshore = input.ProfileX.size() >= 2 && input.ProfileBottomLevel.size() >= 2;
    message.Replace(foreshore ? "Foreshore present-" : "No Foreshore present-");
    if (LogEnabled()) WriteLogLine("Entry Foreshore:", message.Trimmed());

    static constexpr const char* DamTexts[] = {"No Dam present-", "Caisson dam type present-",
                                               "Wand dam type present-", "Dam dam type present-"};
    if (input.DamType < 0 || input.DamType > 3) {
        message.Append("Dam type not supported, must be 0,1,2,3-");
        return -1;
    }
    message.Append(DamTexts[input.DamType]);
    if (LogEnabled()) WriteLogLine("Entry Dam Type:", message.Trimmed());

    if (input.Hm0.size() != input.Tp.size() || input.Tp.size() != input.Wlev.size() ||
        input.IncomingWaveAngle.size() != input.Wlev.size()) {
        return Refuse(
            message,
            "The sizes of one or more time depended arrays (Hm0,Wlev,Tp,Incoming wave angle) are not "
            "equal!",
            "Entry Time serie size error:");
    }
    // Written as !(x > 0) so that a NaN is refused too.
    if (!(p.RatioDepth > 0.0)) {
        return Refuse(message, "The value for ratio depth must be larger than zero!",
                      "Entry RatioDepth error:");
    }
    if (!(p.MinStepSize > 0.0)) {
        return Refuse(message, "The value for minimum grid step size must be larger than zero!",
                      "Entry Minimum step grid size error:");
    }
    if (std::fabs(input.DikeNormal - p.InvalidValue) <= Tolerance || !std::isfinite(input.DikeNormal)) {
        return Refuse(message, "Dike normal is invalid", "");
    }
    if (!std::isfinite(p.Ag) || p.Ag <= 0.0) {
        return Refuse(message, "The value for the gravity constant must be larger than zero!",
                      "Entry Gravity constant error:");
    }
    if (!std::isfinite(p.Rho) || p.Rho <= 0.0) {
        return Refuse(message, "The value for the water density must be larger than zero!",
                      "Entry Rho Water error:");
    }
    if (!std::isfinite(p.Alpha) || p.Alpha < 0.0) {
        return Refuse(message, "The value for alpha must be zero or larger!", "Entry Alpha error:");
    }
    if (!std::isfinite(p.Fc) || p.Fc < 0.0) {
        return Refuse(message, "The value for the bottom friction must be zero or larger!",
                      "Entry Fc error:");
    }
    if (input.DamType >= 1 && input.DamType <= 3 && !std::isfinite(input.DamHeight)) {
        return Refuse(message, "The dam height must be a finite number!", "Entry DamHeight error:");
    }

    static constexpr InputLine FirstValues[] = {Line::First(Hm0),      Line::First(Tp),
                                                Line::First(Wlev),     Line::First(IncomingWaveAngle),
                                                Line::First(ProfileX), Line::First(ProfileBottomLevel)};
    LogInputLines(input, FirstValues);

    return CheckProfile(input.ProfileX, input.ProfileBottomLevel, message);
}

}  // namespace qav
