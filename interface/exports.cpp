// The five C exports of DynamicLib-Qav: argument handling only. Every entry
// checks its pointers, runs the C++ core inside try/catch and reports any
// failure through its return code and message; nothing is thrown across.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <span>
#include <string>

#include "common/arguments.h"
#include "common/log.h"
#include "common/run_input.h"
#include "model/model.h"
#include "qav.h"
#include "qav/version.h"

namespace {

using qav::MessageBuffer;

constexpr std::size_t MessageLength = QAV_MESSAGE_LENGTH;
static_assert(MessageLength == qav::MessageLength);

std::size_t Count(const int* count) {
    return count != nullptr && *count > 0 ? static_cast<std::size_t>(*count) : 0;
}

std::size_t TextLength(std::int64_t length) { return length > 0 ? static_cast<std::size_t>(length) : 0; }

template <class T>
std::span<T> Array(T* values, std::size_t n) {
    return n == 0 ? std::span<T>{} : std::span<T>(values, n);
}

// A run's field from an argument: a value, or a view of an array.
template <class T>
T TakeOne(const T* value, std::size_t /*count*/) {
    return *value;
}
std::span<const double> TakeSteps(const double* values, std::size_t count) { return Array(values, count); }
std::span<const double> TakePoints(const double* values, std::size_t count) { return Array(values, count); }

// The arguments of the entries, as the host passed them: one pointer per row
// of QAV_ENTRY_ARGUMENTS. The by-reference entry passes the seven model
// parameters as one array, the C entry one by one; both end up in the seven
// parameter pointers. The check entries fill only what they take.
struct EntryArguments {
#define QAV_RECORD_FIELD(Name, Type, ...) Type Name = nullptr;
    QAV_ENTRY_ARGUMENTS(QAV_RECORD_FIELD)
#undef QAV_RECORD_FIELD
    const double* ModelParameters = nullptr;  // the by-reference entry's array
    std::int64_t LogFileNameLength = 0;
};

using qav::Argument;

// How many values an argument of each Count points to (1 for a scalar).
std::size_t CountOne(const EntryArguments&) { return 1; }
std::size_t CountSteps(const EntryArguments& a) { return Count(a.NumberOfTimeSteps); }
std::size_t CountPoints(const EntryArguments& a) { return Count(a.NumberOfProfilePoints); }
std::size_t CountText(const EntryArguments& a) { return TextLength(a.LogFileNameLength); }

// The pointer an argument was passed as, and the count that makes it a
// required array (1 for a scalar).
struct Passed {
    const void* pointer;
    std::size_t count;
};

Passed PassedAs(const EntryArguments& a, Argument argument) {
    switch (argument) {
#define QAV_PASSED_AS(Name, Type, Many, ...) \
    case Argument::Name:                     \
        return {a.Name, Count##Many(a)};
        QAV_ENTRY_ARGUMENTS(QAV_PASSED_AS)
#undef QAV_PASSED_AS
        case Argument::ModelParameters:
            return {a.ModelParameters, 1};
    }
    return {nullptr, 1};
}

namespace order {
// The order in which each entry checks its arguments: that of its parameters.
// The C entry takes them in the list's order; the by-reference entry takes
// the model parameters as one array at the place of the first of them.
constexpr auto CEntryOrder = [] {
    std::array<Argument, qav::EntryArgumentCount> order{};
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<Argument>(i);
    return order;
}();
constexpr std::size_t ParameterCount = std::size(qav::ParameterArray);
constexpr auto ReferenceEntryOrder = [] {
    std::array<Argument, qav::EntryArgumentCount - ParameterCount + 1> order{};
    std::size_t n = 0;
    bool parametersPlaced = false;
    for (const Argument argument : CEntryOrder) {
        if (qav::InfoOf(argument).place != qav::Place::Parameter) {
            order[n++] = argument;
        } else if (!parametersPlaced) {
            order[n++] = Argument::ModelParameters;
            parametersPlaced = true;
        }
    }
    return order;
}();
using enum Argument;
constexpr Argument ProfileCheckOrder[] = {NumberOfProfilePoints, ProfileX, ProfileBottomLevel};
constexpr Argument SeriesCheckOrder[] = {NumberOfTimeSteps, Hm0, Tp, Wlev, IncomingWaveAngle, InvalidValue};
}  // namespace order

// The name of the first argument, in the entry's order, that is missing: a
// null scalar, or a null array whose count is 1 or more.
const char* FirstMissing(const EntryArguments& a, std::span<const Argument> order) {
    for (const Argument argument : order) {
        const Passed passed = PassedAs(a, argument);
        if (passed.count > 0 && passed.pointer == nullptr) return qav::InfoOf(argument).name;
    }
    return nullptr;
}

// Writes "Argument <Name> is missing!" for the first missing argument and
// returns true when there is one.
bool ReportMissing(const EntryArguments& a, std::span<const Argument> order, MessageBuffer message) {
    const char* missing = FirstMissing(a, order);
    if (missing == nullptr) return false;
    message.Replace(std::string("Argument ") + missing + " is missing!");
    return true;
}

void ReportUnexpected(MessageBuffer message, const char* what) {
    message.Replace(std::string("Unexpected failure in the model: ") + what);
}

std::string VersionText() {
    char buffer[MessageLength];
    GetVersionInfo(buffer);
    return std::string(qav::TrimTrailingBlanks(std::string_view(buffer, MessageLength)));
}

// The common body of both main entries, once no argument is missing.
int RunMainEntry(const EntryArguments& a, MessageBuffer message) {
    const std::size_t nameLength = TextLength(a.LogFileNameLength);
    qav::RunInput input;
    qav::RunOutput output;
    // Every pointer was found present by ReportMissing (the seven parameters
    // through ModelParameters for the by-reference entry).
#define QAV_TAKE_Run(Name, Many) input.Name = Take##Many(a.Name, Count##Many(a));
#define QAV_TAKE_Parameter(Name, Many) input.Parameters.Name = *a.Name;
#define QAV_TAKE_Output(Name, Many) output.Name = Array(a.Name, Count##Many(a));
#define QAV_TAKE_Call(Name, Many)
#define QAV_TAKE(Name, Type, Many, Place, ...) QAV_TAKE_##Place(Name, Many)
    QAV_ENTRY_ARGUMENTS(QAV_TAKE)
#undef QAV_TAKE
#undef QAV_TAKE_Call
#undef QAV_TAKE_Output
#undef QAV_TAKE_Parameter
#undef QAV_TAKE_Run

    const int logging = *a.Logging;
    const bool logReady =
        qav::InitLog(logging, std::string_view(nameLength > 0 ? a.LogFileName : "", nameLength));
    if (logReady && logging != 0) qav::LogInterfaceHeader(input, VersionText());

    return qav::RollerModel5(input, output, message);
}

// Checks the arguments in the entry's order and runs the model; nothing is
// thrown out of it.
int MainEntry(const EntryArguments& a, std::span<const Argument> order, MessageBuffer message) {
    try {
        if (ReportMissing(a, order, message)) return -1;
        return RunMainEntry(a, message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

// The C entry hands the message back without trailing blanks, NUL-terminated
// within its 1000 characters.
void TerminateMessage(char* message) {
    const std::size_t length = qav::TrimTrailingBlanks(std::string_view(message, MessageLength)).size();
    message[std::min<std::size_t>(length, MessageLength - 1)] = '\0';
}

}  // namespace

extern "C" {

QAV_API int FORTRANENTRY_ROLLERMODEL5(const int* DamType, const double* DamHeight,
                                      const double* ModelParameters, const int* NumberOfTimeSteps,
                                      const double* Hm0, const double* Tp, const double* Wlev,
                                      const double* IncomingWaveAngle, const double* DikeNormal,
                                      const int* NumberOfProfilePoints, const double* ProfileX,
                                      const double* ProfileBottomLevel, const int* Logging,
                                      const char* LogFileName, double* Hm0Toe, double* TpToe,
                                      double* WaveAngleToe, char* ErrorMessage, int64_t LogFileNameLength,
                                      int64_t /*ErrorMessageLength*/) {
    if (ErrorMessage == nullptr) return -1;
    // Each argument by its name, the model parameters from their slots of the
    // array.
    EntryArguments a;
#define QAV_PASSED_Parameter(Name) \
    a.Name = ModelParameters == nullptr ? nullptr : ModelParameters + qav::SlotOf(Argument::Name);
#define QAV_PASSED_Run(Name) a.Name = Name;
#define QAV_PASSED_Output(Name) a.Name = Name;
#define QAV_PASSED_Call(Name) a.Name = Name;
#define QAV_PASSED(Name, Type, Count, Place, ...) QAV_PASSED_##Place(Name)
    QAV_ENTRY_ARGUMENTS(QAV_PASSED)
#undef QAV_PASSED
#undef QAV_PASSED_Call
#undef QAV_PASSED_Output
#undef QAV_PASSED_Run
#undef QAV_PASSED_Parameter
    a.LogFileNameLength = LogFileNameLength;
    a.ModelParameters = ModelParameters;
    return MainEntry(a, order::ReferenceEntryOrder, MessageBuffer(ErrorMessage, MessageLength));
}

QAV_API int C_FORTRANENTRY_RollerModel5(
    const int* DamType, const double* DamHeight, const double* Alpha, const double* Fc,
    const double* InvalidValue, const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
    const double* Wlev, const double* IncomingWaveAngle, const double* DikeNormal,
    const int* NumberOfProfilePoints, const double* ProfileX, const double* MinStepSize,
    const double* ProfileBottomLevel, const double* RatioDepth, const int* Logging, const char* LogFileName,
    int64_t LogFileNameLength, const double* Ag, const double* Rho, double* Hm0Toe, double* TpToe,
    double* WaveAngleToe, char* ErrorMessage) {
    if (ErrorMessage == nullptr) return -1;
        // The C entry's parameters are the record's fields, in its order.
#define QAV_PASSED(Name, ...) Name,
    const EntryArguments a{QAV_ENTRY_ARGUMENTS(QAV_PASSED) nullptr, LogFileNameLength};
#undef QAV_PASSED
    const int code = MainEntry(a, order::CEntryOrder, MessageBuffer(ErrorMessage, MessageLength));
    TerminateMessage(ErrorMessage);
    return code;
}

QAV_API int VALIDATEPROFILE(const int* NumberOfProfilePoints, const double* ProfileX,
                            const double* ProfileBottomLevel, const void* /*Reserved1*/,
                            const void* /*Reserved2*/, char* ErrorMessage, int64_t ErrorMessageLength) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, TextLength(ErrorMessageLength));
    try {
        EntryArguments a;
        a.NumberOfProfilePoints = NumberOfProfilePoints;
        a.ProfileX = ProfileX;
        a.ProfileBottomLevel = ProfileBottomLevel;
        if (ReportMissing(a, order::ProfileCheckOrder, message)) return -1;
        const std::size_t m = Count(NumberOfProfilePoints);
        qav::InitLog(0, " ");
        return qav::ValidateProfile(Array(ProfileX, m), Array(ProfileBottomLevel, m), message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

QAV_API int VALIDATEHYDRAULICDATA(const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
                                  const double* Wlev, const double* IncomingWaveAngle,
                                  const double* InvalidValue, char* ErrorMessage,
                                  int64_t ErrorMessageLength) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, TextLength(ErrorMessageLength));
    try {
        EntryArguments a;
        a.NumberOfTimeSteps = NumberOfTimeSteps;
        a.Hm0 = Hm0;
        a.Tp = Tp;
        a.Wlev = Wlev;
        a.IncomingWaveAngle = IncomingWaveAngle;
        a.InvalidValue = InvalidValue;
        if (ReportMissing(a, order::SeriesCheckOrder, message)) return -1;
        const std::size_t n = Count(NumberOfTimeSteps);
        qav::InitLog(0, " ");
        return qav::ValidateSeries(Array(Hm0, n), Array(Tp, n), Array(Wlev, n), Array(IncomingWaveAngle, n),
                                   *InvalidValue, message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

// Where there is no version resource to read, the numbers are fixed when the
// build is configured. On Windows the DLL's own resource is read
// (version_windows.cpp).
#if !defined(_WIN32)
QAV_API void GetVersionInfo(char* VersionText) {
    if (VersionText == nullptr) return;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%d.%d.%d.%d", QAV_VERSION_MAJOR, QAV_VERSION_MINOR,
                                     QAV_VERSION_BUILD, QAV_VERSION_REVISION);
    std::memset(VersionText, ' ', MessageLength);
    std::memcpy(VersionText, text, static_cast<std::size_t>(std::max(length, 0)));
}
#endif

}  // extern "C"
