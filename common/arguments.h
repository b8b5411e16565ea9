#pragma once

// The arguments of the C entries, each described once. Every list of them is
// made from QAV_ENTRY_ARGUMENTS: the entries' record and the order in which
// they report a missing argument (interface/exports.cpp), the log's value
// lines (common/run_input.cpp) and the names of the Python module's arguments
// (python/module/qav_module.cpp), whose positional arguments are named by
// the entry arguments they fill.

#include <cstddef>
#include <iterator>

namespace qav {

// X(Name, Type, Count, Place, PythonName, Label, FirstLabel), one row per
// argument in the order of C_FORTRANENTRY_RollerModel5's parameters.
//   Type        the pointer the host passes.
//   Count       how many values it points to: One, Steps (NumberOfTimeSteps),
//               Points (NumberOfProfilePoints) or Text (LogFileNameLength
//               characters); a pointer to one or more values is required.
//   Place       where a run reads it: Run (a field of RunInput), Parameter (of
//               ModelParameters), Output (of RunOutput) or Call (the entry's own).
//   PythonName  the Python module's name of the argument, or nullptr.
//   Label       the log's line of its value, or of its count for an array;
//               nullptr when the log does not show it.
//   FirstLabel  the log's line of an array's first value.
// The by-reference entry passes the seven Parameter rows in one array,
// ModelParameters, at the place of the first of them.
#define QAV_ENTRY_ARGUMENTS(X)                                                                             \
    X(DamType, const int*, One, Run, "dam_type", "Entry DamType:", nullptr)                                \
    X(DamHeight, const double*, One, Run, "dam_height", "Entry DamHeight:", nullptr)                       \
    X(Alpha, const double*, One, Parameter, "alpha", "Entry Alpha:", nullptr)                              \
    X(Fc, const double*, One, Parameter, "fc", "Entry Fc:", nullptr)                                       \
    X(InvalidValue, const double*, One, Parameter, "invalid_value", "Entry Invalid Value:", nullptr)       \
    X(NumberOfTimeSteps, const int*, One, Call, nullptr, nullptr, nullptr)                                 \
    X(Hm0, const double*, Steps, Run, "hm0",                                                               \
      "Entry Total number of Hm0 values:", "Entry Hm0 first array value:")                                 \
    X(Tp, const double*, Steps, Run, "tp",                                                                 \
      "Entry Total number of Tp values:", "Entry Tp first array value:")                                   \
    X(Wlev, const double*, Steps, Run, "wlev",                                                             \
      "Entry Total number of Water Level values:", "Entry Water Level first array value:")                 \
    X(IncomingWaveAngle, const double*, Steps, Run, "angle",                                               \
      "Entry Total number of Incoming Wave Angle values:", "Entry Incoming Wave Angle first array value:") \
    X(DikeNormal, const double*, One, Run, "dike_normal", "Entry Dike normal:", nullptr)                   \
    X(NumberOfProfilePoints, const int*, One, Call, nullptr, nullptr, nullptr)                             \
    X(ProfileX, const double*, Points, Run, "profile_x",                                                   \
      "Entry Total number of X values:", "Entry Profile first X value:")                                   \
    X(MinStepSize, const double*, One, Parameter, "min_step_size", "Entry MinStepSize:", nullptr)          \
    X(ProfileBottomLevel, const double*, Points, Run, "profile_z",                                         \
      "Entry Total number of Bottom Level values:", "Entry Profile first Bottom value:")                   \
    X(RatioDepth, const double*, One, Parameter, "ratio_depth", "Entry RatioDepth:", nullptr)              \
    X(Logging, const int*, One, Call, nullptr, nullptr, nullptr)                                           \
    X(LogFileName, const char*, Text, Call, "log_file", nullptr, nullptr)                                  \
    X(Ag, const double*, One, Parameter, "ag", "Entry Ag:", nullptr)                                       \
    X(Rho, const double*, One, Parameter, "rho", "Entry Rho:", nullptr)                                    \
    X(Hm0Toe, double*, Steps, Output, nullptr, nullptr, nullptr)                                           \
    X(TpToe, double*, Steps, Output, nullptr, nullptr, nullptr)                                            \
    X(WaveAngleToe, double*, Steps, Output, nullptr, nullptr, nullptr)

#define QAV_ARGUMENT_ENUM(Name, ...) Name,
// Each argument, and last the by-reference entry's array of the parameters.
enum class Argument { QAV_ENTRY_ARGUMENTS(QAV_ARGUMENT_ENUM) ModelParameters };
#undef QAV_ARGUMENT_ENUM

enum class Place { Run, Parameter, Output, Call };

struct ArgumentInfo {
    const char* name;
    Place place;
    const char* pythonName;
    const char* label;
    const char* firstLabel;
};

#define QAV_ARGUMENT_INFO(Name, Type, Count, Where, PythonName, Label, FirstLabel) \
    {#Name, Place::Where, PythonName, Label, FirstLabel},
inline constexpr ArgumentInfo Arguments[] = {
    QAV_ENTRY_ARGUMENTS(QAV_ARGUMENT_INFO){"ModelParameters", Place::Call, nullptr, nullptr, nullptr}};
#undef QAV_ARGUMENT_INFO

constexpr const ArgumentInfo& InfoOf(Argument argument) {
    return Arguments[static_cast<std::size_t>(argument)];
}

// The C entry's arguments in the order of its parameters.
inline constexpr std::size_t EntryArgumentCount = static_cast<std::size_t>(Argument::ModelParameters);

// The order of ModelParameters' seven values in the by-reference entry's
// array (and of the fields of qav::ModelParameters).
inline constexpr Argument ParameterArray[] = {
    Argument::Ag,         Argument::Rho,          Argument::Alpha,      Argument::Fc,
    Argument::RatioDepth, Argument::InvalidValue, Argument::MinStepSize};

// The slot of a model parameter in the by-reference entry's array.
constexpr std::size_t SlotOf(Argument parameter) {
    std::size_t slot = 0;
    while (slot < std::size(ParameterArray) && ParameterArray[slot] != parameter) ++slot;
    return slot;
}

// Every model parameter has its slot, and only they.
static_assert([] {
    std::size_t parameters = 0;
    for (std::size_t i = 0; i < EntryArgumentCount; ++i) {
        if (Arguments[i].place != Place::Parameter) continue;
        if (SlotOf(static_cast<Argument>(i)) == std::size(ParameterArray)) return false;
        ++parameters;
    }
    return parameters == std::size(ParameterArray);
}());

}  // namespace qav
