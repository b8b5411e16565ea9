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

#include "checks/checks.h"
#include "interface/log.h"
#include "model/model.h"
#include "qav.h"
#include "qav/version.h"

namespace {

using qav::MessageBuffer;

constexpr std::size_t MessageLength = QAV_MESSAGE_LENGTH;

std::size_t Count(const int* count) { return count != nullptr && *count > 0 ? static_cast<std::size_t>(*count) : 0; }

std::size_t TextLength(std::int64_t length) { return length > 0 ? static_cast<std::size_t>(length) : 0; }

std::span<const double> Array(const double* values, std::size_t n) {
    return n == 0 ? std::span<const double>{} : std::span<const double>(values, n);
}

std::span<double> Array(double* values, std::size_t n) {
    return n == 0 ? std::span<double>{} : std::span<double>(values, n);
}

// Finds the first required argument that is missing: a null scalar, or a
// null array whose count is 1 or more.
class ArgumentCheck {
public:
    ArgumentCheck& Scalar(const void* pointer, const char* name) {
        if (missing_ == nullptr && pointer == nullptr) missing_ = name;
        return *this;
    }
    ArgumentCheck& Array(const void* pointer, std::size_t count, const char* name) {
        return count > 0 ? Scalar(pointer, name) : *this;
    }
    // Writes "Argument <Name> is missing!" and returns true when one is.
    bool Report(MessageBuffer message) const {
        if (missing_ == nullptr) return false;
        message.Replace(std::string("Argument ") + missing_ + " is missing!");
        return true;
    }

private:
    const char* missing_ = nullptr;
};

void ReportUnexpected(MessageBuffer message, const char* what) {
    message.Replace(std::string("Unexpected failure in the model: ") + what);
}

std::string VersionText() {
    char buffer[MessageLength];
    GetVersionInfo(buffer);
    return std::string(qav::TrimTrailingBlanks(std::string_view(buffer, MessageLength)));
}

void WriteInterfaceHeader(const qav::RunInput& input) {
    using qav::LogInteger;
    using qav::LogReal;
    const qav::ModelParameters& p = input.Parameters;
    const int n = static_cast<int>(input.Hm0.size());
    const int m = static_cast<int>(input.ProfileX.size());
    qav::WriteLogLine("Start Interface Logging:" + std::string(qav::View(qav::DateTimeStamp())));
    qav::WriteLogLine("DynamicLib-Qav.dll: VERSION " + VersionText());
    LogReal("Entry Alpha:", p.Alpha);
    LogReal("Entry Fc:", p.Fc);
    LogReal("Entry Ag:", p.Ag);
    LogReal("Entry Rho:", p.Rho);
    LogReal("Entry Invalid Value:", p.InvalidValue);
    LogInteger("Entry DamType:", input.DamType);
    LogReal("Entry DamHeight:", input.DamHeight);
    LogReal("Entry MinStepSize:", p.MinStepSize);
    LogReal("Entry RatioDepth:", p.RatioDepth);
    // With no time steps there is no first value to show.
    LogInteger("Entry Total number of Hm0 values:", n);
    if (n > 0) LogReal("Entry Hm0 first array value:", input.Hm0[0]);
    LogInteger("Entry Total number of Tp values:", n);
    if (n > 0) LogReal("Entry Tp first array value:", input.Tp[0]);
    LogInteger("Entry Total number of Water Level values:", n);
    if (n > 0) LogReal("Entry Water Level first array value:", input.Wlev[0]);
    LogInteger("Entry Total number of Incoming Wave Angle values:", n);
    if (n > 0) LogReal("Entry Incoming Wave Angle first array value:", input.IncomingWaveAngle[0]);
    LogInteger("Entry Total number of X values:", m);
    LogInteger("Entry Total number of Bottom Level values:", m);
    LogReal("Entry Dike normal:", input.DikeNormal);
    qav::WriteLogLine("Entry Log Interface Finished at" + std::string(qav::View(qav::DateTimeStamp())) +
                      std::string(41, '-'));
}

struct MainArguments {
    int damType;
    double damHeight;
    qav::ModelParameters parameters;
    std::size_t n;
    const double* hm0;
    const double* tp;
    const double* wlev;
    const double* angle;
    double dikeNormal;
    std::size_t m;
    const double* profileX;
    const double* profileZ;
    int logging;
    std::string_view logFileName;
    double* hm0Toe;
    double* tpToe;
    double* angleToe;
};

// The common body of both main entries, once the arguments are in hand.
int RunMainEntry(const MainArguments& a, MessageBuffer message) {
    qav::RunInput input;
    input.DamType = a.damType;
    input.DamHeight = a.damHeight;
    input.Parameters = a.parameters;
    input.Hm0 = Array(a.hm0, a.n);
    input.Tp = Array(a.tp, a.n);
    input.Wlev = Array(a.wlev, a.n);
    input.IncomingWaveAngle = Array(a.angle, a.n);
    input.DikeNormal = a.dikeNormal;
    input.ProfileX = Array(a.profileX, a.m);
    input.ProfileBottomLevel = Array(a.profileZ, a.m);

    const bool logReady = qav::InitLog(a.logging, a.logFileName);
    if (logReady && a.logging != 0) WriteInterfaceHeader(input);

    qav::RunOutput output;
    output.Hm0Toe = Array(a.hm0Toe, a.n);
    output.TpToe = Array(a.tpToe, a.n);
    output.WaveAngleToe = Array(a.angleToe, a.n);
    return qav::RollerModel5(input, output, message);
}

// The C entry hands the message back without trailing blanks, NUL-terminated
// within its 1000 characters.
void TerminateMessage(char* message) {
    const std::size_t length = qav::TrimTrailingBlanks(std::string_view(message, MessageLength)).size();
    message[std::min<std::size_t>(length, MessageLength - 1)] = '\0';
}

} // namespace

extern "C" {

QAV_API int FORTRANENTRY_ROLLERMODEL5(const int* DamType, const double* DamHeight, const double* ModelParameters,
                                      const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
                                      const double* Wlev, const double* IncomingWaveAngle,
                                      const double* DikeNormal, const int* NumberOfProfilePoints,
                                      const double* ProfileX, const double* ProfileBottomLevel, const int* Logging,
                                      const char* LogFileName, double* Hm0Toe, double* TpToe,
                                      double* WaveAngleToe, char* ErrorMessage, int64_t LogFileNameLength,
                                      int64_t /*ErrorMessageLength*/) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, MessageLength);
    try {
        const std::size_t n = Count(NumberOfTimeSteps);
        const std::size_t m = Count(NumberOfProfilePoints);
        const std::size_t nameLength = TextLength(LogFileNameLength);
        ArgumentCheck check;
        check.Scalar(DamType, "DamType")
            .Scalar(DamHeight, "DamHeight")
            .Scalar(ModelParameters, "ModelParameters")
            .Scalar(NumberOfTimeSteps, "NumberOfTimeSteps")
            .Array(Hm0, n, "Hm0")
            .Array(Tp, n, "Tp")
            .Array(Wlev, n, "Wlev")
            .Array(IncomingWaveAngle, n, "IncomingWaveAngle")
            .Scalar(DikeNormal, "DikeNormal")
            .Scalar(NumberOfProfilePoints, "NumberOfProfilePoints")
            .Array(ProfileX, m, "ProfileX")
            .Array(ProfileBottomLevel, m, "ProfileBottomLevel")
            .Scalar(Logging, "Logging")
            .Array(LogFileName, nameLength, "LogFileName")
            .Array(Hm0Toe, n, "Hm0Toe")
            .Array(TpToe, n, "TpToe")
            .Array(WaveAngleToe, n, "WaveAngleToe");
        if (check.Report(message)) return -1;

        const MainArguments arguments{*DamType,
                                      *DamHeight,
                                      qav::ModelParameters::FromArray(ModelParameters),
                                      n,
                                      Hm0,
                                      Tp,
                                      Wlev,
                                      IncomingWaveAngle,
                                      *DikeNormal,
                                      m,
                                      ProfileX,
                                      ProfileBottomLevel,
                                      *Logging,
                                      std::string_view(nameLength > 0 ? LogFileName : "", nameLength),
                                      Hm0Toe,
                                      TpToe,
                                      WaveAngleToe};
        return RunMainEntry(arguments, message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

QAV_API int C_FORTRANENTRY_RollerModel5(const int* DamType, const double* DamHeight, const double* Alpha,
                                        const double* Fc, const double* InvalidValue,
                                        const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
                                        const double* Wlev, const double* IncomingWaveAngle,
                                        const double* DikeNormal, const int* NumberOfProfilePoints,
                                        const double* ProfileX, const double* MinStepSize,
                                        const double* ProfileBottomLevel, const double* RatioDepth,
                                        const int* Logging, const char* LogFileName, int64_t LogFileNameLength,
                                        const double* Ag, const double* Rho, double* Hm0Toe, double* TpToe,
                                        double* WaveAngleToe, char* ErrorMessage) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, MessageLength);
    int code = -1;
    try {
        const std::size_t n = Count(NumberOfTimeSteps);
        const std::size_t m = Count(NumberOfProfilePoints);
        const std::size_t nameLength = TextLength(LogFileNameLength);
        ArgumentCheck check;
        check.Scalar(DamType, "DamType")
            .Scalar(DamHeight, "DamHeight")
            .Scalar(Alpha, "Alpha")
            .Scalar(Fc, "Fc")
            .Scalar(InvalidValue, "InvalidValue")
            .Scalar(NumberOfTimeSteps, "NumberOfTimeSteps")
            .Array(Hm0, n, "Hm0")
            .Array(Tp, n, "Tp")
            .Array(Wlev, n, "Wlev")
            .Array(IncomingWaveAngle, n, "IncomingWaveAngle")
            .Scalar(DikeNormal, "DikeNormal")
            .Scalar(NumberOfProfilePoints, "NumberOfProfilePoints")
            .Array(ProfileX, m, "ProfileX")
            .Scalar(MinStepSize, "MinStepSize")
            .Array(ProfileBottomLevel, m, "ProfileBottomLevel")
            .Scalar(RatioDepth, "RatioDepth")
            .Scalar(Logging, "Logging")
            .Array(LogFileName, nameLength, "LogFileName")
            .Scalar(Ag, "Ag")
            .Scalar(Rho, "Rho")
            .Array(Hm0Toe, n, "Hm0Toe")
            .Array(TpToe, n, "TpToe")
            .Array(WaveAngleToe, n, "WaveAngleToe");
        if (!check.Report(message)) {
            const MainArguments arguments{
                *DamType,
                *DamHeight,
                qav::ModelParameters{*Ag, *Rho, *Alpha, *Fc, *RatioDepth, *InvalidValue, *MinStepSize},
                n,
                Hm0,
                Tp,
                Wlev,
                IncomingWaveAngle,
                *DikeNormal,
                m,
                ProfileX,
                ProfileBottomLevel,
                *Logging,
                std::string_view(nameLength > 0 ? LogFileName : "", nameLength),
                Hm0Toe,
                TpToe,
                WaveAngleToe};
            code = RunMainEntry(arguments, message);
        }
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
        code = -1;
    } catch (...) {
        ReportUnexpected(message, "unknown error");
        code = -1;
    }
    TerminateMessage(ErrorMessage);
    return code;
}

QAV_API int VALIDATEPROFILE(const int* NumberOfProfilePoints, const double* ProfileX,
                            const double* ProfileBottomLevel, const void* /*Reserved1*/,
                            const void* /*Reserved2*/, char* ErrorMessage, int64_t ErrorMessageLength) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, TextLength(ErrorMessageLength));
    try {
        const std::size_t m = Count(NumberOfProfilePoints);
        ArgumentCheck check;
        check.Scalar(NumberOfProfilePoints, "NumberOfProfilePoints")
            .Array(ProfileX, m, "ProfileX")
            .Array(ProfileBottomLevel, m, "ProfileBottomLevel");
        if (check.Report(message)) return -1;
        qav::InitLog(0, " ");
        return qav::CheckProfile(Array(ProfileX, m), Array(ProfileBottomLevel, m), message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

QAV_API int VALIDATEHYDRAULICDATA(const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
                                  const double* Wlev, const double* IncomingWaveAngle,
                                  const double* InvalidValue, char* ErrorMessage, int64_t ErrorMessageLength) {
    if (ErrorMessage == nullptr) return -1;
    MessageBuffer message(ErrorMessage, TextLength(ErrorMessageLength));
    try {
        const std::size_t n = Count(NumberOfTimeSteps);
        ArgumentCheck check;
        check.Scalar(NumberOfTimeSteps, "NumberOfTimeSteps")
            .Array(Hm0, n, "Hm0")
            .Array(Tp, n, "Tp")
            .Array(Wlev, n, "Wlev")
            .Array(IncomingWaveAngle, n, "IncomingWaveAngle")
            .Scalar(InvalidValue, "InvalidValue");
        if (check.Report(message)) return -1;
        qav::InitLog(0, " ");
        return qav::ValidateHydraulicSeries(Array(Hm0, n), Array(Tp, n), Array(Wlev, n),
                                            Array(IncomingWaveAngle, n), *InvalidValue, message);
    } catch (const std::exception& error) {
        ReportUnexpected(message, error.what());
    } catch (...) {
        ReportUnexpected(message, "unknown error");
    }
    return -1;
}

QAV_API void GetVersionInfo(char* VersionText) {
    if (VersionText == nullptr) return;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%d.%d.%d.%d", QAV_VERSION_MAJOR, QAV_VERSION_MINOR,
                                     QAV_VERSION_BUILD, QAV_VERSION_REVISION);
    std::memset(VersionText, ' ', MessageLength);
    std::memcpy(VersionText, text, static_cast<std::size_t>(std::max(length, 0)));
}

} // extern "C"
