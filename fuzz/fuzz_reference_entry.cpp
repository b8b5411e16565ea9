// FORTRANENTRY_ROLLERMODEL5 with fuzzed arguments, the log switched on now and
// then, and a check that it agrees with the C entry bit for bit.
#include <unistd.h>

#include "fuzz/fuzz_input.h"
#include "qav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange<int>(-2, 10);
    const int m = in.ConsumeIntegralInRange<int>(-2, 10);
    const int damType = in.ConsumeIntegralInRange<int>(-1, 4);
    const double damHeight = Value(in, -10, 10), dikeNormal = Value(in, -400, 400);
    double parameters[7];
    parameters[0] = Value(in, 1, 20);
    parameters[1] = Value(in, 900, 1100);
    parameters[2] = Value(in, 0, 3);
    parameters[3] = Value(in, 0, 0.1);
    parameters[4] = Value(in, 0.01, 2);
    parameters[5] = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    auto hm0 = Array(in, n, 0, 6), tp = Array(in, n, 1, 20), wlev = Array(in, n, -5, 8), angle = Array(in, n, -360, 720);
    std::vector<double> x, z;
    Profile(in, m, x, z);
    parameters[6] = BoundedMinStepSize(in, x);
    const int logging = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? 1 : 0;
    static const std::string logFile = "/tmp/qav-fuzz-" + std::to_string(::getpid()) + ".log";
    const std::string name = logging ? logFile + std::string(in.ConsumeIntegralInRange<int>(0, 3), ' ') : "";
    const int64_t nameLength = logging ? static_cast<int64_t>(name.size()) : in.ConsumeIntegralInRange<int64_t>(-3, 0);
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    std::vector<double> hm0Toe(count), tpToe(count), angleToe(count);
    std::vector<char> message(1000, 'x');
    const int code = FORTRANENTRY_ROLLERMODEL5(&damType, &damHeight, parameters, &n, hm0.data(), tp.data(),
                                               wlev.data(), angle.data(), &dikeNormal, &m, x.data(), z.data(),
                                               &logging, name.data(), hm0Toe.data(), tpToe.data(), angleToe.data(),
                                               message.data(), nameLength, in.ConsumeIntegral<int64_t>());
    if (logging != 0) ::unlink(logFile.c_str());
    Require(code == 0 || code == -1, "return code 0 or -1");
    Require(std::memchr(message.data(), '\0', message.size()) == nullptr, "message blank padded, no NUL");
    RequireResults(hm0Toe, tpToe, angleToe, tp, angle, parameters[5]);

    std::vector<double> hm0C(count), tpC(count), angleC(count);
    char messageC[1000];
    const int off = 0;
    const int codeC = C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &parameters[2], &parameters[3],
                                                  &parameters[5], &n, hm0.data(), tp.data(), wlev.data(),
                                                  angle.data(), &dikeNormal, &m, x.data(), &parameters[6],
                                                  z.data(), &parameters[4], &off, " ", 1, &parameters[0],
                                                  &parameters[1], hm0C.data(), tpC.data(), angleC.data(), messageC);
    Require(code == codeC, "both entries give one return code");
    for (size_t i = 0; i < count; ++i) {
        Require(std::memcmp(&hm0C[i], &hm0Toe[i], sizeof(double)) == 0, "both entries give one Hm0Toe");
        Require(std::memcmp(&angleC[i], &angleToe[i], sizeof(double)) == 0, "both entries give one WaveAngleToe");
    }
    const size_t length = TrimmedLength(message.data(), message.size());
    Require(std::strlen(messageC) == (length < 1000 ? length : 999), "one message");
    Require(std::memcmp(messageC, message.data(), std::strlen(messageC)) == 0, "one message text");
    return 0;
}
