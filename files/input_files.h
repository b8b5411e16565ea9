#pragma once

// The input files of a model run: a cross-shore profile (columns x, z) and a
// series of offshore conditions (columns hm0, tp, wlev, angle, one row per
// time step), read from CSV as spreadsheets write it (see csv_reader.h). A
// series can be read whole or in blocks of rows, in bounded memory; its other
// columns (time, id, ...) come along as text, unchanged.
//
// Every fault throws FileError naming the file, line and column.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/csv_reader.h"
#include "files/csv_writer.h"

namespace qav::files {

// The input columns, by the names a file has when nothing else is asked.
inline constexpr std::string_view ProfileColumns[] = {"x", "z"};
inline constexpr std::string_view SeriesColumns[] = {"hm0", "tp", "wlev", "angle"};
inline constexpr std::string_view InputColumns[] = {"hm0", "tp", "wlev", "angle", "x", "z"};

// The decimal mark of numbers. Where both marks are read, a file keeps the
// mark of its first number that has one: a number with the other one is an
// error, so that "1.234" is never read beside "0,5".
enum class Decimal {
    Auto,   // '.'; with the ';' or tab separator ',' as well
    Point,  // '.' only
    Comma,  // ',' as well as '.', whatever the separator
};

enum class MissingValues {
    Error,    // an empty cell, NaN, NA, N/A or #N/A in an input column is an error
    Invalid,  // such a cell of a series becomes CsvOptions::invalidValue, and so does a text
              // that is no number ("storm", "-"); a number in the other decimal mark stays an error
};

struct CsvOptions {
    // ',', ';' or '\t'; 0 takes an Excel "sep=" line, else the one that
    // splits the header into the most columns.
    char separator = 0;
    Decimal decimal = Decimal::Auto;
    // The file's name of an input column where it differs from the input's
    // own name: {"hm0", "Hs_m"}. Names match without regard to case and
    // surrounding blanks.
    std::vector<std::pair<std::string, std::string>> columns;
    // Missing values of a series; a profile point always needs both numbers.
    MissingValues missing = MissingValues::Error;
    double invalidValue = -999.0;
    // Bytes read from the file at a time (at least 4); the result does not
    // depend on it.
    std::size_t bufferBytes = CsvReader::BufferBytes;
};

// A cross-shore profile: x (m, increasing towards the dike) and bottom level
// z (m), with the file line of each point.
struct Profile {
    std::vector<double> x;
    std::vector<double> z;
    std::vector<std::size_t> lines;
    // The file's separator, decimal mark, byte order mark and line ends.
    TableFormat format;
};

// Reads a whole profile file. Further columns are allowed and not read.
[[nodiscard]] Profile ReadProfile(const std::string& path, const CsvOptions& options = {});
// Reads a profile from an open stream (not closed here); name is shown in messages.
[[nodiscard]] Profile ReadProfile(std::FILE* file, const std::string& name, const CsvOptions& options = {});

// Rows of a series: the four inputs (m, s, m, deg), the file line of each
// row, and the text of every other column, unchanged (passThrough[c][row],
// columns in file order).
struct SeriesBlock {
    std::vector<double> hm0;
    std::vector<double> tp;
    std::vector<double> wlev;
    std::vector<double> angle;
    std::vector<std::size_t> lines;
    std::vector<std::vector<std::string>> passThrough;

    [[nodiscard]] std::size_t size() const { return hm0.size(); }
    void clear();
};

// Reads a series file a block of rows at a time.
class SeriesReader {
public:
    // Opens the file and reads its header.
    explicit SeriesReader(const std::string& path, const CsvOptions& options = {});
    // Reads an open stream (not closed here); name is shown in messages.
    SeriesReader(std::FILE* file, std::string name, const CsvOptions& options = {});
    ~SeriesReader();
    SeriesReader(SeriesReader&&) noexcept;
    SeriesReader& operator=(SeriesReader&&) noexcept;

    // The header names of the columns that are not inputs, in file order (an
    // empty name given as "column_N", N its place in the header).
    [[nodiscard]] const std::vector<std::string>& PassThroughNames() const;

    // Replaces block's rows with the next ones: at most maxRows, and no more
    // once about maxBytes are held (at least one row). Returns false, with an
    // empty block, when no row is left. The first call throws when the file
    // has no row below its header.
    bool ReadBlock(SeriesBlock& block, std::size_t maxRows = 65536, std::size_t maxBytes = std::size_t{8} << 20);

    [[nodiscard]] std::size_t RowsRead() const;
    // The bytes of the rows read so far, a line end each (for an estimate of
    // the rows still to come).
    [[nodiscard]] std::size_t TextBytesRead() const;
    // The file's separator, byte order mark and line ends, and the decimal
    // mark of its numbers read so far: when none had one, ',' for a file
    // read with --decimal , or separated by ';', else '.'.
    [[nodiscard]] TableFormat Format() const;
    // Missing values taken as the invalid value so far, and where the first
    // one was ("series.csv:5:3, column 'wlev'"); empty when there was none.
    [[nodiscard]] std::size_t MissingCount() const;
    [[nodiscard]] const std::string& FirstMissing() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A whole series with the names of its pass-through columns.
struct Series {
    SeriesBlock rows;
    std::vector<std::string> passThroughNames;
};
[[nodiscard]] Series ReadSeries(const std::string& path, const CsvOptions& options = {});

// A header name as names are matched: blanks around it dropped, lower case.
[[nodiscard]] std::string HeaderKey(std::string_view name);

// Parses a whole cell (blanks around it allowed) as a number with the given
// decimal mark ('.' or ','); false when it is not one number.
[[nodiscard]] bool ParseNumber(std::string_view text, char decimalMark, double& value);
// True for the texts of a missing value: empty, NaN, NA, N/A, #N/A (any case).
[[nodiscard]] bool IsMissingValue(std::string_view text);

}  // namespace qav::files
