#include "files/csv_writer.h"

#include <array>
#include <charconv>

namespace qav::files {

void AppendNumber(std::string& out, double value) {
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), result.ptr);
}

std::string FormatNumber(double value) {
    std::string text;
    AppendNumber(text, value);
    return text;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
    } else {
        AppendQuoted(out, text);
    }
}

} // namespace qav::files
