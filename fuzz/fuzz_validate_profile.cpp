// VALIDATEPROFILE with fuzzed counts, values and message lengths, and now and
// then arrays or the count passed as null pointers.
#include "fuzz/fuzz_input.h"
#include "qav.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int m = in.ConsumeIntegralInRange<int>(-2, 400);
    std::vector<double> x, z;
    DrawProfile(in, m, x, z);
    const int64_t length = in.ConsumeIntegralInRange<int64_t>(-5, 300);
    const size_t held = length > 0 ? static_cast<size_t>(length) : 0;
    const size_t prefix = in.ConsumeIntegralInRange<size_t>(0, held);
    const std::uint32_t nulls = NullArguments(in, 3);
    const int* pM = nulls & 1u ? nullptr : &m;
    const double* pX = nulls & 2u ? nullptr : x.data();
    const double* pZ = nulls & 4u ? nullptr : z.data();
    const char* missing = FirstMissing({{"NumberOfProfilePoints", pM, 1},
                                        {"ProfileX", pX, CountOf(pM)},
                                        {"ProfileBottomLevel", pZ, CountOf(pM)}});
    // The buffer exists even when its stated length is 0: a null one is refused.
    std::vector<char> message(held > 0 ? held : 1, ' ');
    std::fill(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(prefix), 'p');
    const std::vector<char> before = message;
    const int code = VALIDATEPROFILE(pM, pX, pZ, nullptr, nullptr, message.data(), length);
    Require(code == 0 || code == -1, "return code 0 or -1");
    Require(std::find(message.begin(), message.end(), '\0') == message.end(), "message blank padded, no NUL");
    if (missing != nullptr) {
        Hits::Of().Count(std::string("missing.") + missing);
        std::string expected = std::string("Argument ") + missing + " is missing!";
        expected.resize(held, ' ');
        Require(code == -1, "a missing argument refuses the profile");
        Require(held == 0 || std::string(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(held)) == expected,
                "the message names the first missing argument");
        return 0;
    }
    Hits::Of().Count(code == 0 ? "accepted" : "refused");
    if (code == 0) Require(message == before, "an accepted profile leaves the message alone");
    if (code == -1 && held > 0) Require(message != before || prefix == held, "a refusal says why");
    return 0;
}
