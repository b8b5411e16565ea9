#pragma once

#include <cstddef>
#include <string_view>

namespace qav {

// Length of the message text every entry hands back (characters).
inline constexpr std::size_t MessageLength = 1000;

// A caller's fixed-length, blank-padded text buffer (never NUL-terminated
// here). Writing either replaces the content or appends to it; both cut the
// text at the buffer's length and pad the rest with blanks.
class MessageBuffer {
public:
    MessageBuffer() = default;
    MessageBuffer(char* data, std::size_t length) : data_(data), length_(data ? length : 0) {}

    // Copies text into the buffer and fills the rest with blanks.
    void Replace(std::string_view text);
    // Removes the trailing blanks, adds text directly behind them, pads.
    void Append(std::string_view text);
    // Fills the whole buffer with blanks.
    void Clear() { Replace({}); }
    // The content without its trailing blanks.
    [[nodiscard]] std::string_view Trimmed() const;

    [[nodiscard]] std::size_t Length() const { return length_; }
    [[nodiscard]] char* Data() const { return data_; }

private:
    char* data_ = nullptr;
    std::size_t length_ = 0;
};

// text without its trailing blanks.
std::string_view TrimTrailingBlanks(std::string_view text);

}  // namespace qav
