// VALIDATEPROFILE with fuzzed counts, values and message lengths.
#include "fuzz/fuzz_input.h"
#include "qav.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qav_fuzz;
    FuzzedDataProvider in(data, size);
    const int m = in.ConsumeIntegralInRange<int>(-2, 40);
    std::vector<double> x, z;
    Profile(in, m, x, z);
    const int64_t length = in.ConsumeIntegralInRange<int64_t>(-5, 300);
    const size_t held = length > 0 ? static_cast<size_t>(length) : 0;
    const size_t prefix = in.ConsumeIntegralInRange<size_t>(0, held);
    // The buffer exists even when its stated length is 0: a null one is refused.
    std::vector<char> message(held > 0 ? held : 1, ' ');
    std::fill(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(prefix), 'p');
    const std::vector<char> before = message;
    const int code = VALIDATEPROFILE(&m, x.data(), z.data(), nullptr, nullptr, message.data(), length);
    Require(code == 0 || code == -1, "return code 0 or -1");
    if (code == 0) Require(message == before, "an accepted profile leaves the message alone");
    if (code == -1 && held > 0) Require(message != before || prefix == held, "a refusal says why");
    Require(std::find(message.begin(), message.end(), '\0') == message.end(), "message blank padded, no NUL");
    return 0;
}
