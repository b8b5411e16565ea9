// The five C exports of DynamicLib-Qav: argument handling only. Every entry
// checks its pointers, runs the C++ core inside try/catch and reports any
// failure through its return code and message; nothing is thrown across.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <span>
#include <string>

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

// The arguments of the entries, as the host passed them. The by-reference
// entry passes the seven model parameters as one array, the C entry one by
// one; both end up in the seven parameter pointers. The check entries fill
// only what they take.
struct EntryArguments {
    const int* DamType = nullptr;
    const double* DamHeight = nullptr;
    const double* ModelParameters = nullptr;  // the by-reference entry's array
    const double* Ag = nullptr;
    const double* Rho = nullptr;
    const double* Alpha = nullptr;
    const double* Fc = nullptr;
    const double* RatioDepth = nullptr;
    const double* InvalidValue = nullptr;
    const double* MinStepSize = nullptr;
    const int* NumberOfTimeSteps = nullptr;
    const double* Hm0 = nullptr;
    const double* Tp = nullptr;
    const double* Wlev = nullptr;
    const double* IncomingWaveAngle = nullptr;
    const double* DikeNormal = nullptr;
    const int* NumberOfProfilePoints = nullptr;
    const double* ProfileX = nullptr;
    const double* ProfileBottomLevel = nullptr;
    const int* Logging = nullptr;
    const char* LogFileName = nullptr;
    std::int64_t LogFileNameLength = 0;
    double* Hm0Toe = nullptr;
    double* TpToe = nullptr;
    double* WaveAngleToe = nullptr;
};

// Each argument an entry checks; an entry lists them in the order of its
// parameters, and the first one missing is reported.
enum class Argument {
    DamType,
    DamHeight,
    ModelParameters,
    Alpha,
    Fc,
    InvalidValue,
    NumberOfTimeSteps,
    Hm0,
    Tp,
    Wlev,
    IncomingWaveAngle,
    DikeNormal,
    NumberOfProfilePoints,
    ProfileX,
    MinStepSize,
    ProfileBottomLevel,
    RatioDepth,
    Logging,
    LogFileName,
    Ag,
    Rho,
    Hm0Toe,
    TpToe,
    WaveAngleToe,
};

namespace order {
using enum Argument;
// The order in which each entry checks its arguments: that of its parameters.
constexpr Argument ReferenceEntryOrder[] = {DamType,
                                            DamHeight,
                                            ModelParameters,
                                            NumberOfTimeSteps,
                                            Hm0,
                                            Tp,
                                            Wlev,
                                            IncomingWaveAngle,
                                            DikeNormal,
                                            NumberOfProfilePoints,
                                            ProfileX,
                                            ProfileBottomLevel,
                                            Logging,
                                            LogFileName,
                                            Hm0Toe,
                                            TpToe,
                                            WaveAngleToe};
constexpr Argument CEntryOrder[] = {DamType,
                                    DamHeight,
                                    Alpha,
                                    Fc,
                                    InvalidValue,
                                    NumberOfTimeSteps,
                                    Hm0,
                                    Tp,
                                    Wlev,
                                    IncomingWaveAngle,
                                    DikeNormal,
                                    NumberOfProfilePoints,
                                    ProfileX,
                                    MinStepSize,
                                    ProfileBottomLevel,
                                    RatioDepth,
                                    Logging,
                                    LogFileName,
                                    Ag,
                                    Rho,
                                    Hm0Toe,
                                    TpToe,
                                    WaveAngleToe};
constexpr Argument ProfileCheckOrder[] = {NumberOfProfilePoints, ProfileX, ProfileBottomLevel};
constexpr Argument SeriesCheckOrder[] = {NumberOfTimeSteps, Hm0, Tp, Wlev, IncomingWaveAngle, InvalidValue};
}  // namespace order

// The pointer an argument was passed as, and the count that makes it a
// required array (1 for a scalar).
struct Passed {
    const void* pointer;
    std::size_t count;
};

Passed PassedAs(const EntryArguments& a, Argument argument) {
    const std::size_t n = Count(a.NumberOfTimeSteps);
    const std::size_t m = Count(a.NumberOfProfilePoints);
    switch (argument) {
        case Argument::DamType:
            return {a.DamType, 1};
        case Argument::DamHeight:
            return {a.DamHeight, 1};
        case Argument::ModelParameters:
            return {a.ModelParameters, 1};
        case Argument::Alpha:
            return {a.Alpha, 1};
        case Argument::Fc:
            return {a.Fc, 1};
        case Argument::InvalidValue:
            return {a.InvalidValue, 1};
        case Argument::NumberOfTimeSteps:
            return {a.NumberOfTimeSteps, 1};
        case Argument::Hm0:
            return {a.Hm0, n};
        case Argument::Tp:
            return {a.Tp, n};
        case Argument::Wlev:
            return {a.Wlev, n};
        case Argument::IncomingWaveAngle:
            return {a.IncomingWaveAngle, n};
        case Argument::DikeNormal:
            return {a.DikeNormal, 1};
        case Argument::NumberOfProfilePoints:
            return {a.NumberOfProfilePoints, 1};
        case Argument::ProfileX:
            return {a.ProfileX, m};
        case Argument::MinStepSize:
            return {a.MinStepSize, 1};
        case Argument::ProfileBottomLevel:
            return {a.ProfileBottomLevel, m};
        case Argument::RatioDepth:
            return {a.RatioDepth, 1};
        case Argument::Logging:
            return {a.Logging, 1};
        case Argument::LogFileName:
            return {a.LogFileName, TextLength(a.LogFileNameLength)};
        case Argument::Ag:
            return {a.Ag, 1};
        case Argument::Rho:
            return {a.Rho, 1};
        case Argument::Hm0Toe:
            return {a.Hm0Toe, n};
        case Argument::TpToe:
            return {a.TpToe, n};
        case Argument::WaveAngleToe:
            return {a.WaveAngleToe, n};
    }
    return {nullptr, 1};
}

constexpr const char* ArgumentNames[] = {"DamType",
                                         "DamHeight",
                                         "ModelParameters",
                                         "Alpha",
                                         "Fc",
                                         "InvalidValue",
                                         "NumberOfTimeSteps",
                                         "Hm0",
                                         "Tp",
                                         "Wlev",
                                         "IncomingWaveAngle",
                                         "DikeNormal",
                                         "NumberOfProfilePoints",
                                         "ProfileX",
                                         "MinStepSize",
                                         "ProfileBottomLevel",
                                         "RatioDepth",
                                         "Logging",
                                         "LogFileName",
                                         "Ag",
                                         "Rho",
                                         "Hm0Toe",
                                         "TpToe",
                                         "WaveAngleToe"};

// The name of the first argument, in the entry's order, that is missing: a
// null scalar, or a null array whose count is 1 or more.
const char* FirstMissing(const EntryArguments& a, std::span<const Argument> order) {
    for (const Argument argument : order) {
        const Passed passed = PassedAs(a, argument);
        if (passed.count > 0 && passed.pointer == nullptr) return ArgumentNames[static_cast<int>(argument)];
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
    const std::size_t n = Count(a.NumberOfTimeSteps);
    const std::size_t m = Count(a.NumberOfProfilePoints);
    const std::size_t nameLength = TextLength(a.LogFileNameLength);
    qav::RunInput input;
    input.DamType = *a.DamType;
    input.DamHeight = *a.DamHeight;
    // Every pointer was found present by ReportMissing (the seven parameters
    // through ModelParameters for the by-reference entry).
    input.Parameters = {*a.Ag,         *a.Rho,          *a.Alpha,       *a.Fc,  // NOLINT(clang-analyzer-core.NullDereference)
                        *a.RatioDepth, *a.InvalidValue, *a.MinStepSize};
    input.Hm0 = Array(a.Hm0, n);
    input.Tp = Array(a.Tp, n);
    input.Wlev = Array(a.Wlev, n);
    input.IncomingWaveAngle = Array(a.IncomingWaveAngle, n);
    input.DikeNormal = *a.DikeNormal;
    input.ProfileX = Array(a.ProfileX, m);
    input.ProfileBottomLevel = Array(a.ProfileBottomLevel, m);

    const int logging = *a.Logging;
    const bool logReady =
        qav::InitLog(logging, std::string_view(nameLength > 0 ? a.LogFileName : "", nameLength));
    if (logReady && logging != 0) qav::LogInterfaceHeader(input, VersionText());

    qav::RunOutput output;
    output.Hm0Toe = Array(a.Hm0Toe, n);
    output.TpToe = Array(a.TpToe, n);
    output.WaveAngleToe = Array(a.WaveAngleToe, n);
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
    EntryArguments a;
    a.DamType = DamType;
    a.DamHeight = DamHeight;
    a.ModelParameters = ModelParameters;
    if (ModelParameters != nullptr) {
        // Ag, Rho, Alpha, Fc, RatioDepth, InvalidValue, MinStepSize.
        a.Ag = ModelParameters;
        a.Rho = ModelParameters + 1;
        a.Alpha = ModelParameters + 2;
        a.Fc = ModelParameters + 3;
        a.RatioDepth = ModelParameters + 4;
        a.InvalidValue = ModelParameters + 5;
        a.MinStepSize = ModelParameters + 6;
    }
    a.NumberOfTimeSteps = NumberOfTimeSteps;
    a.Hm0 = Hm0;
    a.Tp = Tp;
    a.Wlev = Wlev;
    a.IncomingWaveAngle = IncomingWaveAngle;
    a.DikeNormal = DikeNormal;
    a.NumberOfProfilePoints = NumberOfProfilePoints;
    a.ProfileX = ProfileX;
    a.ProfileBottomLevel = ProfileBottomLevel;
    a.Logging = Logging;
    a.LogFileName = LogFileName;
    a.LogFileNameLength = LogFileNameLength;
    a.Hm0Toe = Hm0Toe;
    a.TpToe = TpToe;
    a.WaveAngleToe = WaveAngleToe;
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
    EntryArguments a;
    a.DamType = DamType;
    a.DamHeight = DamHeight;
    a.Ag = Ag;
    a.Rho = Rho;
    a.Alpha = Alpha;
    a.Fc = Fc;
    a.RatioDepth = RatioDepth;
    a.InvalidValue = InvalidValue;
    a.MinStepSize = MinStepSize;
    a.NumberOfTimeSteps = NumberOfTimeSteps;
    a.Hm0 = Hm0;
    a.Tp = Tp;
    a.Wlev = Wlev;
    a.IncomingWaveAngle = IncomingWaveAngle;
    a.DikeNormal = DikeNormal;
    a.NumberOfProfilePoints = NumberOfProfilePoints;
    a.ProfileX = ProfileX;
    a.ProfileBottomLevel = ProfileBottomLevel;
    a.Logging = Logging;
    a.LogFileName = LogFileName;
    a.LogFileNameLength = LogFileNameLength;
    a.Hm0Toe = Hm0Toe;
    a.TpToe = TpToe;
    a.WaveAngleToe = WaveAngleToe;
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
