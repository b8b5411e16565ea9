#pragma once

// Reading CSV text as spreadsheets and people write it: a UTF-8 byte order
// mark, an Excel "sep=;" line, comment lines above the header, fields in
// double quotes (doubled quotes inside, line breaks inside), the separator
// ',' ';' or tab, and line ends \n, \r\n or \r. Every line is bounded in
// length, and any text a message shows is cut and escaped.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qav::files {

// The longest line the reader takes (bytes). A row with line breaks inside
// quotes counts as one line.
inline constexpr std::size_t MaxLineBytes = std::size_t{1} << 20;
// The most characters of a cell or a column name a message shows.
inline constexpr std::size_t MaxEchoCharacters = 40;

// A file that cannot be read as asked; the text starts with the file's name,
// and its line and column where there are any ("series.csv:3:5: ...").
class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& what) : std::runtime_error(what) {}
};

// Whether text is valid UTF-8 (ASCII included).
[[nodiscard]] bool IsUtf8(std::string_view text);

// A text fit for a message: at most maxCharacters characters, then "..."
// and the full length; control characters, invalid UTF-8 and invisible
// direction marks escaped (\t, \x1b, \u202e), so that nothing a file holds
// can cut a message short or reach the terminal as a command.
[[nodiscard]] std::string Echo(std::string_view text, std::size_t maxCharacters = MaxEchoCharacters);

// One field of a row: its text (without the quotes, doubled quotes made
// single) and the byte offset in the row where it starts.
struct CsvField {
    std::string_view text;
    std::size_t offset;
    bool quoted;
};

// Reads a CSV file record by record, in bounded memory.
class CsvReader {
public:
    // The bytes read from the file at a time, unless asked otherwise.
    static constexpr std::size_t BufferBytes = std::size_t{1} << 16;

    // Opens the file. separator ',' ';' or '\t', or 0 to take it from an
    // Excel "sep=" line or the header. Throws FileError when the file cannot
    // be opened.
    CsvReader(const std::string& path, char separator, std::size_t bufferBytes = BufferBytes);
    // Reads an open stream (not closed here); name is shown in messages.
    CsvReader(std::FILE* file, std::string name, char separator, std::size_t bufferBytes = BufferBytes);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Reads the header row, passing over a byte order mark, a "sep=" line and
    // blank and '#' comment lines above it. False when there is none.
    bool ReadHeader();
    // Reads the next row below the header; every line that is not blank is a
    // row ('#' included). False at the end of the file. Splits at most
    // maxFields + 1 fields; FieldCount() counts them all.
    bool ReadRow(std::size_t maxFields);

    [[nodiscard]] std::span<const CsvField> Fields() const { return fields_; }
    [[nodiscard]] std::size_t FieldCount() const { return fieldCount_; }
    // Bytes of the last record.
    [[nodiscard]] std::size_t RecordBytes() const { return record_.size(); }
    // The line the last record starts on (1-based).
    [[nodiscard]] std::size_t Line() const { return recordLine_; }
    // Lines read so far.
    [[nodiscard]] std::size_t LinesRead() const { return lines_; }
    [[nodiscard]] char Separator() const { return separator_; }
    // Whether the file starts with a UTF-8 byte order mark, and its first line
    // end ("\n", "\r\n" or "\r"; empty while none was read).
    [[nodiscard]] bool ByteOrderMark() const { return byteOrderMark_; }
    [[nodiscard]] std::string_view LineEnd() const { return lineEnd_; }
    [[nodiscard]] const std::string& Name() const { return name_; }

    // "name:line:column: " of a byte offset in the last record (the column
    // counted in characters), and "name:line: " of the record.
    [[nodiscard]] std::string Where(std::size_t offset) const;
    [[nodiscard]] std::string WhereLine() const;
    // The column just behind the last record's text.
    [[nodiscard]] std::string WhereEnd() const { return Where(record_.size()); }

private:
    enum class Read { Line, End };
    bool FillBuffer();
    Read ReadPhysicalLine();
    bool ReadRecord(bool aboveHeader);
    void Split(std::size_t maxFields);
    [[noreturn]] void Fail(std::size_t offset, const std::string& what) const;
    bool IsSeparator(char c) const;

    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::string name_;
    char separator_ = 0;

    std::vector<char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    bool endOfFile_ = false;
    bool pendingCarriageReturn_ = false;
    bool byteOrderMark_ = false;
    std::string_view lineEnd_;
    std::string_view lastBreak_;  // the line end of the last line read

    std::size_t lines_ = 0;
    std::size_t recordLine_ = 0;
    std::string record_;
    std::vector<std::size_t> breaks_;  // offsets in record_ just behind each line break inside quotes
    // Quote state of the record being read.
    enum class State : std::uint8_t { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    State state_ = State::FieldStart;
    std::size_t quoteOffset_ = 0;

    std::string unquoted_;
    std::vector<CsvField> fields_;
    std::size_t fieldCount_ = 0;
};

}  // namespace qav::files
