// C_FORTRANENTRY_RollerModel5 with fuzzed counts, arrays, dam and parameters.
#include "fuzz/fuzz_input.h"
#include "qav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange<int>(-2, 12);
    const int m = in.ConsumeIntegralInRange<int>(-2, 12);
    const int damType = in.ConsumeIntegralInRange<int>(-1, 4);
    const double damHeight = Value(in, -10, 10), dikeNormal = Value(in, -400, 400);
    const double ag = Value(in, 1, 20), rho = Value(in, 900, 1100), alpha = Value(in, 0, 3), fc = Value(in, 0, 0.1);
    const double ratioDepth = Value(in, 0.01, 2), invalid = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    auto hm0 = Array(in, n, 0, 6), tp = Array(in, n, 1, 20), wlev = Array(in, n, -5, 8), angle = Array(in, n, -360, 720);
    std::vector<double> x, z;
    Profile(in, m, x, z);
    const double minStep = BoundedMinStepSize(in, x);
    const int logging = 0;
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    std::vector<double> hm0Toe(count), tpToe(count), angleToe(count);
    char message[1000];
    std::memset(message, 'x', sizeof message);
    const int code = C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &alpha, &fc, &invalid, &n, hm0.data(),
                                                 tp.data(), wlev.data(), angle.data(), &dikeNormal, &m, x.data(),
                                                 &minStep, z.data(), &ratioDepth, &logging, " ", 1, &ag, &rho,
                                                 hm0Toe.data(), tpToe.data(), angleToe.data(), message);
    Require(code == 0 || code == -1, "return code 0 or -1");
    Require(std::memchr(message, '\0', sizeof message) != nullptr, "message NUL-terminated");
    const size_t length = std::strlen(message);
    Require(length == 0 || length == 999 || message[length - 1] != ' ', "no trailing blanks before the NUL");
    Require(n > 0 || code == -1, "no time steps fail the run");
    RequireResults(hm0Toe, tpToe, angleToe, tp, angle, invalid);
    return 0;
}
