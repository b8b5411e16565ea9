#pragma once

// Writing CSV tables that a spreadsheet opens as the file they answer: the
// separator, decimal mark, byte order mark and line ends of that file, unless
// asked otherwise.

#include <string>
#include <string_view>

namespace qav::files {

// How a table is written.
struct TableFormat {
    char separator = ',';  // ',' ';' or '\t'
    char decimal = '.';    // '.' or ','
    bool byteOrderMark = false;
    std::string lineEnd = "\n";  // "\n", "\r\n" or "\r"
    // Significant digits of a number; 0 the shortest text that reads back as
    // exactly the same double.
    int digits = 0;
    // Cells written as they are. Otherwise a text cell that a spreadsheet
    // would take for a formula (starting with = + - @, a tab or a carriage
    // return, and not a number) gets a leading ', as spreadsheets show it.
    bool rawCells = false;
};

// The shortest decimal text that reads back as exactly the same double
// ("nan", "inf" and "-inf" for the special values), with a '.'.
void AppendNumber(std::string& out, double value);
[[nodiscard]] std::string FormatNumber(double value);

// A number as one field of a table: its digits and decimal mark, in double
// quotes when the mark is the separator.
void AppendNumber(std::string& out, double value, const TableFormat& format);
// A text as one field: in double quotes (inner quotes doubled) always, or only
// when it needs them (a separator, a quote or a line break in it); guarded
// against formulas unless format.rawCells.
void AppendQuoted(std::string& out, std::string_view text, const TableFormat& format);
void AppendField(std::string& out, std::string_view text, const TableFormat& format);
// Whether a spreadsheet would read the cell as a formula.
[[nodiscard]] bool LooksLikeFormula(std::string_view text);

}  // namespace qav::files
