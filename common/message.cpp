#include "common/message.h"

#include <algorithm>

namespace qav {

std::string_view TrimTrailingBlanks(std::string_view text) {
    const auto last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
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
