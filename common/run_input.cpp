#include "common/run_input.h"

#include <string>

#include "common/log.h"

namespace qav {
namespace {

void LogArgument(double value, InputLine::Part, const char* label, const char*) { LogReal(label, value); }

void LogArgument(int value, InputLine::Part, const char* label, const char*) { LogInteger(label, value); }

// An array's count, or its first value; an empty array has no first value to
// show, and its line is left out.
void LogArgument(std::span<const double> values, InputLine::Part part, const char* countLabel,
                 const char* firstLabel) {
    if (part == InputLine::Part::First) {
        if (!values.empty()) LogReal(firstLabel, values[0]);
    } else {
        LogInteger(countLabel, static_cast<int>(values.size()));
    }
}

}  // namespace

void LogInputLines(const RunInput& input, std::span<const InputLine> lines) {
    if (!LogEnabled()) return;
    for (const InputLine line : lines) {
        switch (line.argument) {
#define QAV_LOG_Run(Name, Label, FirstLabel) LogArgument(input.Name, line.part, Label, FirstLabel);
#define QAV_LOG_Parameter(Name, Label, FirstLabel) \
    LogArgument(input.Parameters.Name, line.part, Label, FirstLabel);
#define QAV_LOG_Output(Name, Label, FirstLabel)
#define QAV_LOG_Call(Name, Label, FirstLabel)
#define QAV_LOG_LINE(Name, Type, Count, Place, PythonName, Label, FirstLabel) \
    case Argument::Name:                                                      \
        QAV_LOG_##Place(Name, Label, FirstLabel) break;
            QAV_ENTRY_ARGUMENTS(QAV_LOG_LINE)
#undef QAV_LOG_LINE
#undef QAV_LOG_Call
#undef QAV_LOG_Output
#undef QAV_LOG_Parameter
#undef QAV_LOG_Run
            case Argument::ModelParameters:
                break;
        }
    }
}

double* ParameterField(ModelParameters& parameters, Argument argument) {
    switch (argument) {
#define QAV_FIELD_Parameter(Name) \
    case Argument::Name:          \
        return &parameters.Name;
#define QAV_FIELD_Run(Name)
#define QAV_FIELD_Output(Name)
#define QAV_FIELD_Call(Name)
#define QAV_FIELD(Name, Type, Many, Place, ...) QAV_FIELD_##Place(Name)
        QAV_ENTRY_ARGUMENTS(QAV_FIELD)
#undef QAV_FIELD
#undef QAV_FIELD_Call
#undef QAV_FIELD_Output
#undef QAV_FIELD_Run
#undef QAV_FIELD_Parameter
        default:
            return nullptr;
    }
}

void LogInterfaceHeader(const RunInput& input, std::string_view versionText) {
    using enum Argument;
    using Line = InputLine;
    static constexpr InputLine Lines[] = {Line::Value(Alpha),
                                          Line::Value(Fc),
                                          Line::Value(Ag),
                                          Line::Value(Rho),
                                          Line::Value(InvalidValue),
                                          Line::Value(DamType),
                                          Line::Value(DamHeight),
                                          Line::Value(MinStepSize),
                                          Line::Value(RatioDepth),
                                          Line::Count(Hm0),
                                          Line::First(Hm0),
                                          Line::Count(Tp),
                                          Line::First(Tp),
                                          Line::Count(Wlev),
                                          Line::First(Wlev),
                                          Line::Count(IncomingWaveAngle),
                                          Line::First(IncomingWaveAngle),
                                          Line::Count(ProfileX),
                                          Line::Count(ProfileBottomLevel),
                                          Line::Value(DikeNormal)};
    WriteLogLine("Start Interface Logging:" + std::string(View(DateTimeStamp())));
    WriteLogLine("DynamicLib-Qav.dll: VERSION " + std::string(versionText));
    LogInputLines(input, Lines);
    WriteLogLine("Entry Log Interface Finished at" + std::string(View(DateTimeStamp())) +
                 std::string(41, '-'));
}

}  // namespace qav
