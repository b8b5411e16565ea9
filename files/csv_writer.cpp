#include "files/csv_writer.h"

#include <array>
#include <charconv>

#include "files/input_files.h"

namespace qav::files {
namespace {

void AppendEscaped(std::string& out, std::string_view text, bool guard) {
    out += '"';
    if (guard) out += '\'';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

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

void AppendNumber(std::string& out, double value, const TableFormat& format) {
    std::array<char, 40> text{};
    const auto result = format.digits > 0 ? std::to_chars(text.data(), text.data() + text.size(), value,
                                                          std::chars_format::general, format.digits)
                                          : std::to_chars(text.data(), text.data() + text.size(), value);
    std::string_view digits(text.data(), static_cast<std::size_t>(result.ptr - text.data()));
    if (format.decimal == '.') {
        out += digits;
        return;
    }
    const bool quote = format.decimal == format.separator && digits.find('.') != std::string_view::npos;
    if (quote) out += '"';
    for (const char c : digits) out += c == '.' ? format.decimal : c;
    if (quote) out += '"';
}

bool LooksLikeFormula(std::string_view text) {
    if (text.empty()) return false;
    const char first = text.front();
    if (first != '=' && first != '+' && first != '-' && first != '@' && first != '\t' && first != '\r')
        return false;
    double value = 0.0;
    return !ParseNumber(text, '.', value) && !ParseNumber(text, ',', value);
}

void AppendQuoted(std::string& out, std::string_view text, const TableFormat& format) {
    AppendEscaped(out, text, !format.rawCells && LooksLikeFormula(text));
}

void AppendField(std::string& out, std::string_view text, const TableFormat& format) {
    const bool guard = !format.rawCells && LooksLikeFormula(text);
    const char special[] = {format.separator, '"', '\r', '\n'};
    if (text.find_first_of(std::string_view(special, 4)) != std::string_view::npos) {
        AppendEscaped(out, text, guard);
        return;
    }
    if (guard) out += '\'';
    out += text;
}

}  // namespace qav::files
