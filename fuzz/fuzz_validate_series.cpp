// VALIDATEHYDRAULICDATA with fuzzed counts, values and message lengths, and
// now and then arguments passed as null pointers.
#include "fuzz/fuzz_input.h"
#include "qav.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange<int>(-2, 400);
    const double invalid = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    const Series s = DrawSeries(in, n, -1);
    const int64_t length = in.ConsumeIntegralInRange<int64_t>(-5, 200);
    const size_t held = length > 0 ? static_cast<size_t>(length) : 0;
    const std::uint32_t nulls = NullArguments(in, 6);
    const auto pick = [nulls](int bit, const auto* pointer) { return (nulls >> bit) & 1u ? nullptr : pointer; };
    const int* pN = pick(0, &n);
    const double* pHm0 = pick(1, s.hm0.data());
    const double* pTp = pick(2, s.tp.data());
    const double* pWlev = pick(3, s.wlev.data());
    const double* pAngle = pick(4, s.angle.data());
    const double* pInvalid = pick(5, &invalid);
    const size_t N = CountOf(pN);
    const char* missing = FirstMissing({{"NumberOfTimeSteps", pN, 1},
                                        {"Hm0", pHm0, N},
                                        {"Tp", pTp, N},
                                        {"Wlev", pWlev, N},
                                        {"IncomingWaveAngle", pAngle, N},
                                        {"InvalidValue", pInvalid, 1}});
    // The buffer exists even when its stated length is 0: a null one is refused.
    std::vector<char> message(held > 0 ? held : 1, 'q');
    const std::vector<char> before = message;
    const int code = VALIDATEHYDRAULICDATA(pN, pHm0, pTp, pWlev, pAngle, pInvalid, message.data(), length);
    Require(code == 0 || code == 1 || code == -1, "return code 0, 1 or -1");
    if (missing != nullptr) {
        Hits::Of().Count(std::string("missing.") + missing);
        std::string expected = std::string("Argument ") + missing + " is missing!";
        expected.resize(held, ' ');
        Require(code == -1, "a missing argument refuses the series");
        Require(held == 0 || std::string(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(held)) == expected,
                "the message names the first missing argument");
        return 0;
    }
    Hits::Of().Count(code == 0 ? "accepted" : code == 1 ? "calm" : "refused");
    if (n < 1) Require(code == 0 && message == before, "no steps: accepted, message untouched");
    if (code != 0 && length > 0) Require(std::find(message.begin(), message.end(), 'q') == message.end(),
                           "a calm or refused series replaces the message");
    return 0;
}
