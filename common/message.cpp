#include "common/message.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qav {

std::string_view TrimTrailingBlanks(std::string_view text) {
    // Eight characters at a time over the blanks at the end (a message is
    // mostly blanks), then one at a time.
    constexpr std::uint64_t Blanks = 0x2020202020202020u;
    std::size_t end = text.size();
    while (end >= 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + end - 8, sizeof word);
        if (word != Blanks) break;
        end -= 8;
    }
    while (end > 0 && text[end - 1] == ' ') --end;
    return text.substr(0, end);
}

void MessageBuffer::Replace(std::string_view text) {
    const std::size_t n = std::min(text.size(), length_);
    std::copy_n(text.data(), n, data_);
    std::fill(data_ + n, data_ + length_, ' ');
}

void MessageBuffer::Append(std::string_view text) {
    const std::size_t start = Trimmed().size();
    const std::size_t n = std::min(text.size(), length_ - start);
    std::copy_n(text.data(), n, data_ + start);
    std::fill(data_ + start + n, data_ + length_, ' ');
}

std::string_view MessageBuffer::Trimmed() const {
    return TrimTrailingBlanks(std::string_view(data_, length_));
}

}  // namespace qav
