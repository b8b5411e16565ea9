#include "tools/csv_reader.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/errors.h"

namespace qav::cli {
namespace {

constexpr std::string_view Blanks = " \t\r";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(Blanks);
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// A field of a line with the column (1-based, in characters) where it starts.
struct Field {
    std::string_view text;
    std::size_t column;
};

std::vector<Field> SplitFields(std::string_view line) {
    std::vector<Field> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
        fields.push_back({line.substr(start, end - start), start + 1});
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

std::string JoinNames(std::span<const std::string_view> names) {
    std::string joined;
    for (const std::string_view name : names) {
        if (!joined.empty()) joined += ',';
        joined += name;
    }
    return joined;
}

std::string Where(const std::string& path, std::size_t line, std::size_t column) {
    return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

bool IsSkipped(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    return trimmed.empty() || trimmed.front() == '#';
}

} // namespace

bool ParseNumber(std::string_view field, double& value) {
    std::string_view text = Trim(field);
    // from_chars takes no plus sign; a number written with one is still a number.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

NumberTable ReadNumberTable(const std::string& path, std::span<const std::string_view> columns) {
    const std::string expected = JoinNames(columns);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw InputError(path + ": is a directory, not a CSV file");
    std::ifstream file(path);
    if (!file) {
        throw InputError(path + ": cannot open the file: " + std::strerror(errno));
    }

    NumberTable table;
    table.columns.resize(columns.size());
    std::vector<std::size_t> fieldOfColumn(columns.size(), 0);
    std::size_t headerFields = 0;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    std::string line;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (IsSkipped(line)) continue;
        const std::vector<Field> fields = SplitFields(line);

        if (!headerSeen) {
            headerSeen = true;
            headerFields = fields.size();
            for (std::size_t c = 0; c < columns.size(); ++c) {
                std::size_t found = fields.size();
                for (std::size_t f = 0; f < fields.size(); ++f) {
                    if (Lower(Trim(fields[f].text)) != columns[c]) continue;
                    if (found != fields.size()) {
                        throw InputError(Where(path, lineNumber, fields[f].column) + "the header names the column '" +
                                         std::string(columns[c]) + "' twice");
                    }
                    found = f;
                }
                if (found == fields.size()) {
                    throw InputError(Where(path, lineNumber, 1) + "the header lacks the column '" +
                                     std::string(columns[c]) + "' (expected the columns " + expected + ")");
                }
                fieldOfColumn[c] = found;
            }
            continue;
        }

        if (fields.size() != headerFields) {
            const std::size_t column = fields.size() > headerFields ? fields[headerFields].column : line.size() + 1;
            throw InputError(Where(path, lineNumber, column) + std::to_string(fields.size()) +
                             " fields, but the header has " + std::to_string(headerFields) + " (" + expected + ")");
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Field& field = fields[fieldOfColumn[c]];
            double value = 0.0;
            if (!ParseNumber(field.text, value)) {
                throw InputError(Where(path, lineNumber, field.column) + "'" + std::string(Trim(field.text)) +
                                 "' in column '" + std::string(columns[c]) + "' is not a number");
            }
            table.columns[c].push_back(value);
        }
        ++table.rows;
    }
    if (file.bad()) throw InputError(path + ": reading the file failed");
    if (!headerSeen) {
        throw InputError(path + ": the file is empty; expected a header line '" + expected + "' and rows of numbers");
    }
    if (table.rows == 0) {
        throw InputError(path + ":" + std::to_string(lineNumber) + ": no rows of numbers below the header");
    }
    return table;
}

} // namespace qav::cli
