// VALIDATEHYDRAULICDATA with fuzzed counts, values and message lengths.
#include "fuzz/fuzz_input.h"
#include "qav.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange<int>(-2, 40);
    const double invalid = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    auto hm0 = Array(in, n, -1, 6), tp = Array(in, n, -1, 20), wlev = Array(in, n, -5, 8), angle = Array(in, n, -360, 720);
    const int64_t length = in.ConsumeIntegralInRange<int64_t>(-5, 200);
    // The buffer exists even when its stated length is 0: a null one is refused.
    std::vector<char> message(length > 0 ? static_cast<size_t>(length) : 1, 'q');
    const std::vector<char> before = message;
    const int code = VALIDATEHYDRAULICDATA(&n, hm0.data(), tp.data(), wlev.data(), angle.data(), &invalid,
                                           message.data(), length);
    Require(code == 0 || code == 1 || code == -1, "return code 0, 1 or -1");
    if (n < 1) Require(code == 0 && message == before, "no steps: accepted, message untouched");
    if (code != 0 && length > 0) Require(std::find(message.begin(), message.end(), 'q') == message.end(),
                           "a calm or refused series replaces the message");
    return 0;
}
