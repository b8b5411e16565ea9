#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qav::cli {

// Columns of numbers read from a comma-separated file, in the order they were
// asked for.
struct NumberTable {
    std::vector<std::vector<double>> columns;
    std::size_t rows = 0;
};

// Reads a comma-separated file with a header row naming its columns (any
// order, case and surrounding blanks ignored, further columns allowed). Blank
// lines and lines starting with '#' are skipped. Every row has as many fields
// as the header. Throws InputError naming the file, line and column of the
// first fault: missing or unreadable file, no header, a header without one of
// the columns, a row with the wrong number of fields, a field that is not a
// number, or no rows at all.
NumberTable ReadNumberTable(const std::string& path, std::span<const std::string_view> columns);

// Parses a whole field (surrounding blanks allowed) as a double; false when it
// is not one number.
bool ParseNumber(std::string_view field, double& value);

} // namespace qav::cli
