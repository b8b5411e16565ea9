#include "common/run_input.h"

#include <string>

#include "common/log.h"

namespace qav {
namespace {

int CountOf(std::span<const double> values) { return static_cast<int>(values.size()); }

void LogFirst(const char* label, std::span<const double> values) {
    if (!values.empty()) LogReal(label, values[0]);
}

}  // namespace

void LogInputLines(const RunInput& input, std::span<const InputLine> lines) {
    if (!LogEnabled()) return;
    const ModelParameters& p = input.Parameters;
    for (const InputLine line : lines) {
        switch (line) {
            case InputLine::Alpha:
                LogReal("Entry Alpha:", p.Alpha);
                break;
            case InputLine::Fc:
                LogReal("Entry Fc:", p.Fc);
                break;
            case InputLine::Ag:
                LogReal("Entry Ag:", p.Ag);
                break;
            case InputLine::Rho:
                LogReal("Entry Rho:", p.Rho);
                break;
            case InputLine::InvalidValue:
                LogReal("Entry Invalid Value:", p.InvalidValue);
                break;
            case InputLine::DamType:
                LogInteger("Entry DamType:", input.DamType);
                break;
            case InputLine::DamHeight:
                LogReal("Entry DamHeight:", input.DamHeight);
                break;
            case InputLine::MinStepSize:
                LogReal("Entry MinStepSize:", p.MinStepSize);
                break;
            case InputLine::RatioDepth:
                LogReal("Entry RatioDepth:", p.RatioDepth);
                break;
            case InputLine::Hm0Count:
                LogInteger("Entry Total number of Hm0 values:", CountOf(input.Hm0));
                break;
            case InputLine::Hm0First:
                LogFirst("Entry Hm0 first array value:", input.Hm0);
                break;
            case InputLine::TpCount:
                LogInteger("Entry Total number of Tp values:", CountOf(input.Tp));
                break;
            case InputLine::TpFirst:
                LogFirst("Entry Tp first array value:", input.Tp);
                break;
            case InputLine::WlevCount:
                LogInteger("Entry Total number of Water Level values:", CountOf(input.Wlev));
                break;
            case InputLine::WlevFirst:
                LogFirst("Entry Water Level first array value:", input.Wlev);
                break;
            case InputLine::AngleCount:
                LogInteger("Entry Total number of Incoming Wave Angle values:",
                           CountOf(input.IncomingWaveAngle));
                break;
            case InputLine::AngleFirst:
                LogFirst("Entry Incoming Wave Angle first array value:", input.IncomingWaveAngle);
                break;
            case InputLine::XCount:
                LogInteger("Entry Total number of X values:", CountOf(input.ProfileX));
                break;
            case InputLine::XFirst:
                LogFirst("Entry Profile first X value:", input.ProfileX);
                break;
            case InputLine::BottomCount:
                LogInteger("Entry Total number of Bottom Level values:", CountOf(input.ProfileBottomLevel));
                break;
            case InputLine::BottomFirst:
                LogFirst("Entry Profile first Bottom value:", input.ProfileBottomLevel);
                break;
            case InputLine::DikeNormal:
                LogReal("Entry Dike normal:", input.DikeNormal);
                break;
        }
    }
}

void LogInterfaceHeader(const RunInput& input, std::string_view versionText) {
    using enum InputLine;
    static constexpr InputLine Lines[] = {Alpha,      Fc,         Ag,          Rho,         InvalidValue,
                                          DamType,    DamHeight,  MinStepSize, RatioDepth,  Hm0Count,
                                          Hm0First,   TpCount,    TpFirst,     WlevCount,   WlevFirst,
                                          AngleCount, AngleFirst, XCount,      BottomCount, DikeNormal};
    WriteLogLine("Start Interface Logging:" + std::string(View(DateTimeStamp())));
    WriteLogLine("DynamicLib-Qav.dll: VERSION " + std::string(versionText));
    LogInputLines(input, Lines);
    WriteLogLine("Entry Log Interface Finished at" + std::string(View(DateTimeStamp())) +
                 std::string(41, '-'));
}

}  // namespace qav
