// FORTRANENTRY_ROLLERMODEL5 with fuzzed arguments, on the march path the input
// chooses, the log switched on now and then, up to hundreds of time steps and
// profile points, arguments passed as null pointers now and then, and a check
// that it agrees with the C entry bit for bit.
//
// Linked against the library's floors (not the shared library) so that the
// input can set the thread's march path.
#include <filesystem>

#include "fuzz/fuzz_input.h"
#include "qav.h"

namespace {
constexpr int MaxSteps = 300;
constexpr int MaxPoints = 300;
constexpr int Arguments = 17;  // the pointer arguments before ErrorMessage
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    ChooseMarchPath(in);
    const int n = in.ConsumeIntegralInRange<int>(-2, MaxSteps);
    const int m = in.ConsumeIntegralInRange<int>(-2, MaxPoints);
    const int damType = in.ConsumeIntegralInRange<int>(-1, 4);
    const double damHeight = Value(in, -10, 10), dikeNormal = Value(in, -400, 400);
    double parameters[7];
    parameters[0] = Value(in, 1, 20);
    parameters[1] = Value(in, 900, 1100);
    parameters[2] = Value(in, 0, 3);
    parameters[3] = Value(in, 0, 0.1);
    parameters[4] = Value(in, 0.01, 2);
    parameters[5] = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    const Series s = DrawSeries(in, n);
    std::vector<double> x, z;
    DrawProfile(in, m, x, z);
    parameters[6] = BoundedMinStepSize(in, x, n);
    const int logging = in.ConsumeIntegralInRange<int>(0, 3) == 3 ? 1 : 0;
    const std::string logFile = ScratchFolder() + "/reference.log";
    const std::string name = logging ? logFile + std::string(in.ConsumeIntegralInRange<int>(0, 3), ' ') : "";
    const int64_t nameLength = logging ? static_cast<int64_t>(name.size()) : in.ConsumeIntegralInRange<int64_t>(-3, 0);
    const std::uint32_t nulls = NullArguments(in, Arguments);
    const auto pick = [nulls](int bit, const auto* pointer) { return (nulls >> bit) & 1u ? nullptr : pointer; };
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    std::vector<double> hm0Toe(count), tpToe(count), angleToe(count);
    std::vector<char> message(1000, 'x');

    const int* pDamType = pick(0, &damType);
    const double* pDamHeight = pick(1, &damHeight);
    const double* pParameters = pick(2, parameters);
    const int* pN = pick(3, &n);
    const double* pHm0 = pick(4, s.hm0.data());
    const double* pTp = pick(5, s.tp.data());
    const double* pWlev = pick(6, s.wlev.data());
    const double* pAngle = pick(7, s.angle.data());
    const double* pNormal = pick(8, &dikeNormal);
    const int* pM = pick(9, &m);
    const double* pX = pick(10, x.data());
    const double* pZ = pick(11, z.data());
    const int* pLogging = pick(12, &logging);
    const char* pName = pick(13, name.data());
    double* pHm0Toe = (nulls >> 14) & 1u ? nullptr : hm0Toe.data();
    double* pTpToe = (nulls >> 15) & 1u ? nullptr : tpToe.data();
    double* pAngleToe = (nulls >> 16) & 1u ? nullptr : angleToe.data();
    const std::size_t N = CountOf(pN), M = CountOf(pM);
    const char* missing = FirstMissing({{"DamType", pDamType, 1},
                                        {"DamHeight", pDamHeight, 1},
                                        {"ModelParameters", pParameters, 1},
                                        {"NumberOfTimeSteps", pN, 1},
                                        {"Hm0", pHm0, N},
                                        {"Tp", pTp, N},
                                        {"Wlev", pWlev, N},
                                        {"IncomingWaveAngle", pAngle, N},
                                        {"DikeNormal", pNormal, 1},
                                        {"NumberOfProfilePoints", pM, 1},
                                        {"ProfileX", pX, M},
                                        {"ProfileBottomLevel", pZ, M},
                                        {"Logging", pLogging, 1},
                                        {"LogFileName", pName, nameLength > 0 ? static_cast<size_t>(nameLength) : 0},
                                        {"Hm0Toe", pHm0Toe, N},
                                        {"TpToe", pTpToe, N},
                                        {"WaveAngleToe", pAngleToe, N}});

    const int code = FORTRANENTRY_ROLLERMODEL5(pDamType, pDamHeight, pParameters, pN, pHm0, pTp, pWlev, pAngle,
                                               pNormal, pM, pX, pZ, pLogging, pName, pHm0Toe, pTpToe, pAngleToe,
                                               message.data(), nameLength, in.ConsumeIntegral<int64_t>());
    std::error_code ignored;
    const bool logged = std::filesystem::file_size(logFile, ignored) > 0 && !ignored;
    std::filesystem::remove(logFile, ignored);
    Require(code == 0 || code == -1, "return code 0 or -1");
    Require(std::memchr(message.data(), '\0', message.size()) == nullptr, "message blank padded, no NUL");
    const size_t length = TrimmedLength(message.data(), message.size());
    if (missing != nullptr) {
        Hits::Of().Count(std::string("missing.") + missing);
        Require(code == -1, "a missing argument fails the call");
        Require(std::string(message.data(), length) == std::string("Argument ") + missing + " is missing!",
                "the message names the first missing argument");
        return 0;
    }
    Hits::Of().Count(nulls != 0 ? "null.not-missing" : "all-present");
    Hits::Of().Count(logging ? "log.on" : "log.off");
    Require(logging == 0 || logged, "a call with its log on writes it");
    Require(logging != 0 || !logged, "a call with its log off writes none");
    RequireResults(hm0Toe, tpToe, angleToe, s.tp, s.angle, parameters[5]);

    std::vector<double> hm0C(count), tpC(count), angleC(count);
    char messageC[1000];
    const int off = 0;
    const int codeC = C_FORTRANENTRY_RollerModel5(pDamType, pDamHeight, &parameters[2], &parameters[3],
                                                  &parameters[5], pN, pHm0, pTp, pWlev, pAngle, pNormal, pM, pX,
                                                  &parameters[6], pZ, &parameters[4], &off, " ", 1, &parameters[0],
                                                  &parameters[1], hm0C.data(), tpC.data(), angleC.data(), messageC);
    Require(code == codeC, "both entries give one return code");
    for (size_t i = 0; i < CountOf(pN); ++i) {
        Require(std::memcmp(&hm0C[i], &hm0Toe[i], sizeof(double)) == 0, "both entries give one Hm0Toe");
        Require(std::memcmp(&angleC[i], &angleToe[i], sizeof(double)) == 0, "both entries give one WaveAngleToe");
    }
    Require(std::strlen(messageC) == (length < 1000 ? length : 999), "one message");
    Require(std::memcmp(messageC, message.data(), std::strlen(messageC)) == 0, "one message text");
    return 0;
}
