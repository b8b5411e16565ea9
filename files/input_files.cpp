#include "files/input_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

namespace qav::files {
namespace {

constexpr std::size_t NotFound = static_cast<std::size_t>(-1);
// Header names a message lists before it only counts the rest.
constexpr std::size_t ListedNames = 12;

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted += Echo(text);
    quoted += '\'';
    return quoted;
}

std::string Join(std::span<const std::string_view> names) {
    std::string joined;
    for (const std::string_view name : names) {
        if (!joined.empty()) joined += ',';
        joined += name;
    }
    return joined;
}

// Checks the asked column names before a file is opened.
const CsvOptions& Checked(const CsvOptions& options) {
    for (std::size_t i = 0; i < options.columns.size(); ++i) {
        const auto& [input, name] = options.columns[i];
        const std::string key = Lower(Trim(input));
        if (std::find(std::begin(InputColumns), std::end(InputColumns), key) == std::end(InputColumns)) {
            throw FileError("no input column is called " + Quoted(input) + " (they are hm0, tp, wlev, angle, x, z)");
        }
        if (Trim(name).empty()) throw FileError("the file's name of the column '" + key + "' is empty");
        for (std::size_t k = 0; k < i; ++k) {
            if (Lower(Trim(options.columns[k].first)) == key) {
                throw FileError("the file's name of the column '" + key + "' is given twice");
            }
        }
    }
    if (options.separator != 0 && options.separator != ',' && options.separator != ';' && options.separator != '\t') {
        throw FileError("the separator " + Quoted(std::string_view(&options.separator, 1)) +
                        " is not one qav reads (',' ';' or tab)");
    }
    return options;
}

// The unit an input column is read in, and the ways a header writes it.
struct Unit {
    std::string_view input;
    std::string_view name;
    std::initializer_list<std::string_view> spellings;  // lower case
};
constexpr std::string_view Metres = "m";
const Unit Units[] = {
    {"hm0", Metres, {"m"}},
    {"tp", "s", {"s", "sec"}},
    {"wlev", Metres, {"m", "m+nap", "m nap", "m+msl", "m msl"}},
    {"angle", "deg", {"deg", "degrees", "\xC2\xB0", "\xC2\xB0n", "deg n", "degn", "\xC2\xB0 n"}},
    {"x", Metres, {"m"}},
    {"z", Metres, {"m", "m+nap", "m nap", "m+msl", "m msl"}},
};

// A header name split into its name and the unit in brackets or parentheses
// after it ("Hm0 [m]": "hm0" and "m"), both in lower case; no unit when there
// is none.
struct NameAndUnit {
    std::string name;
    std::string unit;
    bool hasUnit = false;
};

NameAndUnit SplitUnit(std::string_view key) {
    NameAndUnit split{std::string(key), {}, false};
    if (key.empty() || (key.back() != ']' && key.back() != ')')) return split;
    const char open = key.back() == ']' ? '[' : '(';
    const std::size_t at = key.rfind(open);
    if (at == std::string_view::npos || at == 0) return split;
    const std::string_view name = Trim(key.substr(0, at));
    if (name.empty()) return split;
    split.name = std::string(name);
    split.unit = std::string(Trim(key.substr(at + 1, key.size() - at - 2)));
    split.hasUnit = true;
    return split;
}

// Where the input columns and the others are in a file's header.
struct Columns {
    std::size_t headerFields = 0;
    std::vector<std::size_t> inputField;  // per input column
    std::vector<std::string> labels;      // per input column, as messages name it
    std::vector<std::size_t> passFields;  // the other columns, in file order
    std::vector<std::string> passNames;
};

// The message of the input columns a header lacks (input and the name asked for).
std::string LacksColumns(const CsvReader& csv,
                         const std::vector<std::pair<std::string_view, std::string>>& missing) {
    const std::span<const CsvField> fields = csv.Fields();
    std::string text = csv.Where(0) + "the header lacks the column" + (missing.size() == 1 ? " " : "s ");
    for (std::size_t m = 0; m < missing.size(); ++m) {
        const auto& [input, wanted] = missing[m];
        if (m > 0) text += m + 1 == missing.size() ? " and " : ", ";
        text += Quoted(wanted);
        if (wanted != input) text += " (named for " + std::string(input) + ")";
    }
    text += " (found " + std::to_string(fields.size()) + (fields.size() == 1 ? " column: " : " columns: ");
    for (std::size_t f = 0; f < fields.size() && f < ListedNames; ++f) {
        if (f > 0) text += ", ";
        text += Quoted(Trim(fields[f].text));
    }
    if (fields.size() > ListedNames) text += ", ...";
    text += ")";
    const bool numbers = std::all_of(fields.begin(), fields.end(), [](const CsvField& field) {
        double value = 0.0;
        return ParseNumber(field.text, '.', value) || ParseNumber(field.text, ',', value);
    });
    const std::string input(missing.front().first);
    if (numbers) {
        text += "; this is a row of numbers: the header must come first, and a line starting with '#' is a comment";
    } else if (fields.size() == 1) {
        // One name only: another separator, or a title line above the header.
        text += "; columns are separated by ',' ';' or a tab (--separator), and a title above the header "
                "starts with '#'";
    } else if (missing.size() == 1) {
        text += "; if one of them is it, name it with --column " + input + "=NAME";
    } else {
        text += "; name each of them that is there with --column " + input + "=NAME and so on";
    }
    // A spreadsheet saved as "CSV" rather than "CSV UTF-8" writes its degree
    // signs and accents in a code page, which no name typed on a UTF-8
    // command line matches.
    if (!std::all_of(fields.begin(), fields.end(), [](const CsvField& field) { return IsUtf8(field.text); })) {
        text += "; the header is not UTF-8 text (saved in a code page such as Latin-1?): save the file as CSV UTF-8";
    }
    return text;
}

Columns ReadColumns(CsvReader& csv, std::span<const std::string_view> inputs, const CsvOptions& options) {
    if (!csv.ReadHeader()) {
        throw FileError(csv.Name() + ": the file is empty; expected a header line '" + Join(inputs) +
                        "' and rows of numbers");
    }
    const std::span<const CsvField> fields = csv.Fields();
    std::vector<std::string> keys;
    keys.reserve(fields.size());
    for (const CsvField& field : fields) keys.push_back(Lower(Trim(field.text)));

    std::vector<NameAndUnit> split;
    split.reserve(fields.size());
    for (const std::string& key : keys) split.push_back(SplitUnit(key));

    Columns columns;
    columns.headerFields = fields.size();
    std::vector<bool> used(fields.size(), false);
    std::vector<std::pair<std::string_view, std::string>> missing;
    for (const std::string_view input : inputs) {
        std::string wanted(input);
        for (const auto& [key, name] : options.columns) {
            if (Lower(Trim(key)) == input) wanted = std::string(Trim(name));
        }
        const std::string key = Lower(wanted);
        // The name as the header writes it, else with a unit after it.
        std::size_t found = NotFound;
        for (const bool withUnit : {false, true}) {
            for (std::size_t f = 0; f < fields.size(); ++f) {
                if (withUnit ? !split[f].hasUnit || split[f].name != key : keys[f] != key) continue;
                if (found != NotFound) {
                    throw FileError(csv.Where(fields[f].offset) + "the header names the column " +
                                    Quoted(wanted) + " twice");
                }
                found = f;
            }
            if (found != NotFound) break;
        }
        if (found == NotFound) {
            missing.emplace_back(input, wanted);
            continue;
        }
        if (keys[found] != key) {
            const Unit& unit = *std::find_if(std::begin(Units), std::end(Units),
                                             [input](const Unit& u) { return u.input == input; });
            if (std::find(unit.spellings.begin(), unit.spellings.end(), split[found].unit) ==
                unit.spellings.end()) {
                throw FileError(csv.Where(fields[found].offset) + "the column " +
                                Quoted(Trim(fields[found].text)) + " is in " + Quoted(split[found].unit) +
                                ", but qav reads " + std::string(input) + " in " + std::string(unit.name) +
                                "; convert the column to " + std::string(unit.name));
            }
        }
        if (used[found]) {
            throw FileError(csv.Where(fields[found].offset) + "the column " + Quoted(wanted) +
                            " is named for two inputs");
        }
        used[found] = true;
        columns.inputField.push_back(found);
        const std::string label = keys[found] == key ? wanted : std::string(Trim(fields[found].text));
        columns.labels.push_back(label == input ? Quoted(input)
                                                : Quoted(label) + " (" + std::string(input) + ")");
    }
    if (!missing.empty()) throw FileError(LacksColumns(csv, missing));
    for (std::size_t f = 0; f < fields.size(); ++f) {
        if (used[f]) continue;
        columns.passFields.push_back(f);
        const std::string_view name = Trim(fields[f].text);
        columns.passNames.push_back(name.empty() ? "column_" + std::to_string(f + 1) : std::string(name));
    }
    return columns;
}

void CheckFieldCount(const CsvReader& csv, const Columns& columns) {
    const std::size_t count = csv.FieldCount();
    if (count == columns.headerFields) return;
    const std::string where =
        count > columns.headerFields ? csv.Where(csv.Fields()[columns.headerFields].offset) : csv.WhereEnd();
    std::string text = where + std::to_string(count) + " fields, but the header has " +
                       std::to_string(columns.headerFields);
    const std::span<const CsvField> fields = csv.Fields();
    const bool emptyTail = count > columns.headerFields &&
                           std::all_of(fields.begin() + static_cast<std::ptrdiff_t>(columns.headerFields), fields.end(),
                                       [](const CsvField& field) { return Trim(field.text).empty(); });
    if (!fields.empty() && Trim(fields[0].text).starts_with('#')) {
        text += " (comment lines are read only above the header; below it every line is a row)";
    } else if (emptyTail) {
        text += " (the line ends in a separator that the header line does not end in)";
    } else if (count > columns.headerFields && csv.Separator() == ',') {
        text += " (a number with a decimal comma in a file separated by ',' needs quotes)";
    }
    throw FileError(text);
}

// The numbers of one file, with its decimal mark: given, or in Auto taken
// from the first number that has one (';' and tab files), so that one file
// never mixes the two.
class NumberReader {
public:
    NumberReader(const CsvReader& csv, const CsvOptions& options) : csv_(csv), decimal_(options.decimal) {
        if (decimal_ == Decimal::Point || (decimal_ == Decimal::Auto && csv.Separator() == ',')) mark_ = '.';
    }

    // False for a missing value, and with textMissing for text that is no
    // number in either mark; throws for any other cell that is no number.
    bool Read(const CsvField& field, const std::string& label, double& value, bool textMissing = false) {
        const std::string_view text = Trim(field.text);
        if (IsMissingValue(text)) return false;
        char mark = mark_;
        if (mark == 0) mark = text.find(',') != std::string_view::npos ? ',' : '.';
        if (ParseNumber(text, mark, value)) {
            if (mark_ == 0 && text.find(mark) != std::string_view::npos) mark_ = mark;
            return true;
        }
        std::string hint;
        double other = 0.0;
        const char otherMark = mark == '.' ? ',' : '.';
        if (ParseNumber(text, otherMark, other)) {
            if (decimal_ == Decimal::Point) {
                hint = " (the decimal mark is '.', as --decimal gives)";
            } else if (decimal_ == Decimal::Auto && csv_.Separator() == ',') {
                hint = " (with ',' as the separator the decimal mark is '.'; --decimal , takes a decimal comma)";
            } else {
                hint = std::string(" (earlier numbers of this file have the decimal mark '") + mark + "')";
            }
        } else if (textMissing) {
            return false;
        }
        throw FileError(csv_.Where(field.offset) + Quoted(text) + " in column " + label + " is not a number" + hint);
    }

    // The file's format, with the decimal mark of its numbers so far.
    TableFormat Format() const {
        TableFormat format;
        format.separator = csv_.Separator();
        format.byteOrderMark = csv_.ByteOrderMark();
        if (!csv_.LineEnd().empty()) format.lineEnd = csv_.LineEnd();
        format.decimal = mark_ != 0 ? mark_
                         : decimal_ == Decimal::Comma || (decimal_ == Decimal::Auto && csv_.Separator() == ';')
                             ? ','
                             : '.';
        return format;
    }

private:
    const CsvReader& csv_;
    Decimal decimal_;
    char mark_ = 0;  // 0 while no number of the file had a decimal mark
};

std::string MissingHere(const CsvReader& csv, const CsvField& field, const std::string& label) {
    return csv.Where(field.offset) + Quoted(Trim(field.text)) + " in column " + label + " is not a number: a missing value";
}

}  // namespace

bool IsMissingValue(std::string_view text) {
    const std::string lower = Lower(Trim(text));
    return lower.empty() || lower == "nan" || lower == "-nan" || lower == "+nan" || lower == "na" ||
           lower == "n/a" || lower == "#n/a";
}

bool ParseNumber(std::string_view text, char decimalMark, double& value) {
    text = Trim(text);
    // from_chars takes no plus sign; a number written with one is still a number.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const char otherMark = decimalMark == ',' ? '.' : ',';
    if (text.find(otherMark) != std::string_view::npos) return false;
    std::string copy;
    if (decimalMark == ',') {
        copy.assign(text);
        std::replace(copy.begin(), copy.end(), ',', '.');
        text = copy;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !std::isnan(value);
}

namespace {

Profile ReadProfileFrom(CsvReader& csv, const CsvOptions& options) {
    const Columns columns = ReadColumns(csv, ProfileColumns, options);
    NumberReader numbers(csv, options);
    Profile profile;
    double value[2] = {};
    while (csv.ReadRow(columns.headerFields)) {
        CheckFieldCount(csv, columns);
        for (std::size_t c = 0; c < 2; ++c) {
            const CsvField& field = csv.Fields()[columns.inputField[c]];
            if (!numbers.Read(field, columns.labels[c], value[c])) {
                throw FileError(MissingHere(csv, field, columns.labels[c]) + ", which a profile point cannot have");
            }
        }
        profile.x.push_back(value[0]);
        profile.z.push_back(value[1]);
        profile.lines.push_back(csv.Line());
    }
    if (profile.x.empty()) {
        throw FileError(csv.Name() + ":" + std::to_string(csv.LinesRead()) + ": no rows of numbers below the header");
    }
    profile.format = numbers.Format();
    return profile;
}

}  // namespace

Profile ReadProfile(const std::string& path, const CsvOptions& options) {
    CsvReader csv(path, Checked(options).separator, options.bufferBytes);
    return ReadProfileFrom(csv, options);
}

Profile ReadProfile(std::FILE* file, const std::string& name, const CsvOptions& options) {
    CsvReader csv(file, name, Checked(options).separator, options.bufferBytes);
    return ReadProfileFrom(csv, options);
}

void SeriesBlock::clear() {
    hm0.clear();
    tp.clear();
    wlev.clear();
    angle.clear();
    lines.clear();
    for (std::vector<std::string>& column : passThrough) column.clear();
}

struct SeriesReader::Impl {
    CsvOptions options;
    CsvReader csv;
    Columns columns;
    NumberReader numbers;
    std::size_t rows = 0;
    std::size_t textBytes = 0;
    std::size_t missing = 0;
    std::string firstMissing;
    bool done = false;

    Impl(const std::string& path, const CsvOptions& o)
        : options(Checked(o)), csv(path, o.separator, o.bufferBytes), columns(ReadColumns(csv, SeriesColumns, options)),
          numbers(csv, options) {}
    Impl(std::FILE* file, std::string name, const CsvOptions& o)
        : options(Checked(o)), csv(file, std::move(name), o.separator, o.bufferBytes),
          columns(ReadColumns(csv, SeriesColumns, options)), numbers(csv, options) {}
};

SeriesReader::SeriesReader(const std::string& path, const CsvOptions& options)
    : impl_(std::make_unique<Impl>(path, options)) {}
SeriesReader::SeriesReader(std::FILE* file, std::string name, const CsvOptions& options)
    : impl_(std::make_unique<Impl>(file, std::move(name), options)) {}
SeriesReader::~SeriesReader() = default;
SeriesReader::SeriesReader(SeriesReader&&) noexcept = default;
SeriesReader& SeriesReader::operator=(SeriesReader&&) noexcept = default;

const std::vector<std::string>& SeriesReader::PassThroughNames() const { return impl_->columns.passNames; }
std::size_t SeriesReader::RowsRead() const { return impl_->rows; }
std::size_t SeriesReader::TextBytesRead() const { return impl_->textBytes; }
TableFormat SeriesReader::Format() const { return impl_->numbers.Format(); }
std::size_t SeriesReader::MissingCount() const { return impl_->missing; }
const std::string& SeriesReader::FirstMissing() const { return impl_->firstMissing; }

bool SeriesReader::ReadBlock(SeriesBlock& block, std::size_t maxRows, std::size_t maxBytes) {
    Impl& m = *impl_;
    const Columns& columns = m.columns;
    block.clear();
    block.passThrough.resize(columns.passFields.size());
    // What a row holds besides its text: four numbers, its line, the strings
    // of its other columns.
    const std::size_t rowBytes = 5 * sizeof(double) + columns.passFields.size() * sizeof(std::string);
    std::size_t bytes = 0;
    while (!m.done && (block.size() == 0 || (block.size() < maxRows && bytes < maxBytes))) {
        if (!m.csv.ReadRow(columns.headerFields)) {
            m.done = true;
            break;
        }
        CheckFieldCount(m.csv, columns);
        const std::span<const CsvField> fields = m.csv.Fields();
        double value[4] = {};
        for (std::size_t c = 0; c < 4; ++c) {
            const CsvField& field = fields[columns.inputField[c]];
            if (m.numbers.Read(field, columns.labels[c], value[c],
                               m.options.missing == MissingValues::Invalid)) {
                continue;
            }
            if (m.options.missing == MissingValues::Error) {
                throw FileError(MissingHere(m.csv, field, columns.labels[c]) +
                                " (--missing invalid runs such a row with the invalid value: the model then "
                                "refuses that time step)");
            }
            value[c] = m.options.invalidValue;
            if (m.missing++ == 0) {
                const std::string where = m.csv.Where(field.offset);
                m.firstMissing = where.substr(0, where.size() - 2) + ", column " + columns.labels[c];
            }
        }
        block.hm0.push_back(value[0]);
        block.tp.push_back(value[1]);
        block.wlev.push_back(value[2]);
        block.angle.push_back(value[3]);
        block.lines.push_back(m.csv.Line());
        for (std::size_t p = 0; p < columns.passFields.size(); ++p) {
            block.passThrough[p].emplace_back(fields[columns.passFields[p]].text);
        }
        bytes += m.csv.RecordBytes() + rowBytes;
        m.textBytes += m.csv.RecordBytes() + 1;
        ++m.rows;
    }
    if (m.done && m.rows == 0) {
        throw FileError(m.csv.Name() + ":" + std::to_string(m.csv.LinesRead()) +
                        ": no rows of numbers below the header");
    }
    return block.size() > 0;
}

std::string HeaderKey(std::string_view name) { return Lower(Trim(name)); }

Series ReadSeries(const std::string& path, const CsvOptions& options) {
    SeriesReader reader(path, options);
    Series series;
    series.passThroughNames = reader.PassThroughNames();
    reader.ReadBlock(series.rows, std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max());
    return series;
}

}  // namespace qav::files
