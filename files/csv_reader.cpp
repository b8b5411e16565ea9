#include "files/csv_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/file_names.h"

namespace qav::files {
namespace {

// Length of the UTF-8 sequence starting at text[i] and its code point, or 0
// when the bytes there are not valid UTF-8.
std::size_t Utf8Sequence(std::string_view text, std::size_t i, char32_t& codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
    if ((length == 3 && codePoint < 0x800) || (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Code points a terminal would not show as themselves: the C1 controls and
// the marks that reorder or hide text.
bool IsInvisible(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x200B || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += prefix;
    for (int d = digits - 1; d >= 0; --d) out += Hex[(value >> (4 * d)) & 0xFu];
}

// Characters of UTF-8 text: every byte that does not continue a sequence.
std::size_t CountCharacters(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u; }));
}

// The separators outside quotes in a header line, as a split with sep would
// see them.
std::size_t CountSeparators(std::string_view line, char sep) {
    std::size_t count = 0;
    bool fieldStart = true;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    ++i;
                } else {
                    quoted = false;
                }
            }
        } else if (c == sep) {
            ++count;
            fieldStart = true;
        } else if (fieldStart && c == '"') {
            quoted = true;
            fieldStart = false;
        } else if (c != ' ') {
            fieldStart = false;
        }
    }
    return count;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    char32_t codePoint = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = Utf8Sequence(text, i, codePoint);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string Echo(std::string_view text, std::size_t maxCharacters) {
    std::string out;
    std::size_t characters = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (characters == maxCharacters) {
            out += "... (" + std::to_string(text.size()) + " bytes)";
            break;
        }
        ++characters;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            if (c == '\t') {
                out += "\\t";
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else {
                AppendHex(out, "\\x", c, 2);
            }
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = Utf8Sequence(text, i, codePoint);
        if (length == 0) {
            AppendHex(out, "\\x", c, 2);
            ++i;
        } else if (IsInvisible(codePoint)) {
            AppendHex(out, "\\u", static_cast<unsigned>(codePoint), 4);
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

CsvReader::CsvReader(const std::string& path, char separator, std::size_t bufferBytes)
    : name_(path), separator_(separator) {
    if (KindOf(path) == FileKind::Directory) throw FileError(path + ": is a directory, not a CSV file");
    file_ = OpenFile(path, "rb");
    if (file_ == nullptr) throw FileError(path + ": cannot open the file: " + std::strerror(errno));
    ownsFile_ = true;
    // At least a byte order mark's worth, which the first read must hold.
    buffer_.resize(std::max<std::size_t>(bufferBytes, 4));
}

CsvReader::CsvReader(std::FILE* file, std::string name, char separator, std::size_t bufferBytes)
    : file_(file), name_(std::move(name)), separator_(separator) {
    buffer_.resize(std::max<std::size_t>(bufferBytes, 4));
}

CsvReader::~CsvReader() {
    if (ownsFile_) std::fclose(file_);
}

bool CsvReader::IsSeparator(char c) const {
    if (separator_ != 0) return c == separator_;
    return c == ',' || c == ';' || c == '\t';
}

bool CsvReader::FillBuffer() {
    if (endOfFile_) return false;
    const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (n == 0) {
        if (std::ferror(file_)) throw FileError(name_ + ": reading the file failed: " + std::strerror(errno));
        endOfFile_ = true;
        return false;
    }
    position_ = 0;
    filled_ = n;
    return true;
}

void CsvReader::Fail(std::size_t offset, const std::string& what) const { throw FileError(Where(offset) + what); }

std::string CsvReader::Where(std::size_t offset) const {
    offset = std::min(offset, record_.size());
    const auto after = std::upper_bound(breaks_.begin(), breaks_.end(), offset);
    const std::size_t line = recordLine_ + static_cast<std::size_t>(after - breaks_.begin());
    const std::size_t lineStart = after == breaks_.begin() ? 0 : *(after - 1);
    const std::size_t column = 1 + CountCharacters(std::string_view(record_).substr(lineStart, offset - lineStart));
    return name_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

std::string CsvReader::WhereLine() const { return name_ + ":" + std::to_string(recordLine_) + ": "; }

// Appends one line of the file to record_, without its line break, following
// the quotes as the fields open and close them.
CsvReader::Read CsvReader::ReadPhysicalLine() {
    if (position_ == filled_ && !FillBuffer()) return Read::End;
    if (pendingCarriageReturn_) {
        // The \n of a \r\n split over two reads.
        pendingCarriageReturn_ = false;
        if (buffer_[position_] == '\n') {
            lastBreak_ = "\r\n";
            if (lines_ == 1) lineEnd_ = lastBreak_;
            // Inside quotes the line break is the field's, as the file has it.
            if (state_ == State::Quoted) {
                record_ += '\n';
                breaks_.back() = record_.size();
            }
            if (++position_ == filled_ && !FillBuffer()) return Read::End;
        }
    }
    ++lines_;
    for (;;) {
        if (position_ == filled_ && !FillBuffer()) return Read::End;
        const char* data = buffer_.data();
        std::size_t i = position_;
        for (; i < filled_; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') break;
            if (c == '\0') {
                record_.append(data + position_, i - position_);
                position_ = i;
                Fail(record_.size(),
                     "a NUL byte: this is not a text file (UTF-16 text or a binary file?); qav reads CSV text in "
                     "UTF-8");
            }
            switch (state_) {
                case State::FieldStart:
                    if (c == '"') {
                        state_ = State::Quoted;
                        quoteOffset_ = record_.size() + (i - position_);
                    } else if (!IsSeparator(c) && c != ' ' && c != '\t') {
                        state_ = State::Unquoted;
                    }
                    break;
                case State::Unquoted:
                    if (IsSeparator(c)) state_ = State::FieldStart;
                    break;
                case State::Quoted:
                    if (c == '"') state_ = State::QuoteInQuoted;
                    break;
                case State::QuoteInQuoted:
                    if (c == '"') {
                        state_ = State::Quoted;
                    } else if (IsSeparator(c)) {
                        state_ = State::FieldStart;
                    } else if (c != ' ' && c != '\t') {
                        state_ = State::Unquoted;
                    }
                    break;
            }
        }
        if (record_.size() + (i - position_) > MaxLineBytes) {
            throw FileError(WhereLine() + "the line is longer than " + std::to_string(MaxLineBytes) +
                            " bytes, the most a line may have" +
                            (breaks_.empty() ? std::string("; is this a CSV file?")
                                             : std::string(" (a row with line breaks inside quotes counts as one "
                                                           "line: is a quote not closed?)")));
        }
        record_.append(data + position_, i - position_);
        position_ = i;
        if (i == filled_) continue;
        ++position_;
        lastBreak_ = "\n";
        if (data[i] == '\r') {
            lastBreak_ = "\r";
            if (position_ < filled_) {
                if (data[position_] == '\n') {
                    ++position_;
                    lastBreak_ = "\r\n";
                }
            } else {
                pendingCarriageReturn_ = true;
            }
        }
        if (lineEnd_.empty()) lineEnd_ = lastBreak_;
        return Read::Line;
    }
}

bool CsvReader::ReadRecord(bool aboveHeader) {
    for (;;) {
        record_.clear();
        breaks_.clear();
        state_ = State::FieldStart;
        const std::size_t linesBefore = lines_;
        recordLine_ = lines_ + 1;
        Read read = ReadPhysicalLine();
        if (lines_ == linesBefore) return false;
        const std::size_t first = record_.find_first_not_of(separator_ == '\t' ? " " : " \t");
        // Below the header a row of empty cells (a spreadsheet's ";;;;") is blank too.
        const char emptyCells[] = {' ', '\t', separator_};
        const bool blank =
            first == std::string::npos ||
            (!aboveHeader && record_.find_first_not_of(std::string_view(emptyCells, 3)) == std::string::npos);
        const bool comment = aboveHeader && !blank && record_[first] == '#';
        if (blank || comment) {
            if (read == Read::End) return false;
            continue;
        }
        // A line break inside quotes belongs to the field.
        while (state_ == State::Quoted) {
            if (read == Read::End) Fail(quoteOffset_, "the quote opened here is not closed");
            record_ += lastBreak_;
            breaks_.push_back(record_.size());
            const std::size_t before = lines_;
            read = ReadPhysicalLine();
            if (lines_ == before) Fail(quoteOffset_, "the quote opened here is not closed");
        }
        return true;
    }
}

void CsvReader::Split(std::size_t maxFields) {
    fields_.clear();
    fieldCount_ = 0;
    unquoted_.clear();
    // Unquoted text is never longer than the record: no reallocation moves
    // the fields' views.
    unquoted_.reserve(record_.size());
    const std::size_t n = record_.size();
    const auto blank = [this](char c) { return c == ' ' || (c == '\t' && separator_ != '\t'); };
    std::size_t i = 0;
    for (;;) {
        std::size_t j = i;
        while (j < n && blank(record_[j])) ++j;
        CsvField field{};
        if (j < n && record_[j] == '"') {
            const std::size_t quote = j;
            const std::size_t begin = unquoted_.size();
            ++j;
            for (;;) {
                if (j >= n) Fail(quote, "the quote opened here is not closed");
                const char c = record_[j];
                if (c == '"') {
                    if (j + 1 < n && record_[j + 1] == '"') {
                        unquoted_ += '"';
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                unquoted_ += c;
                ++j;
            }
            while (j < n && blank(record_[j])) ++j;
            if (j < n && record_[j] != separator_) {
                Fail(j, "text after the closing quote of a field (a quote inside quotes is written twice: \"\")");
            }
            field = {std::string_view(unquoted_).substr(begin), quote, true};
        } else {
            j = i;
            while (j < n && record_[j] != separator_) ++j;
            field = {std::string_view(record_).substr(i, j - i), i, false};
        }
        ++fieldCount_;
        if (fields_.size() <= maxFields) fields_.push_back(field);
        if (j >= n) break;
        i = j + 1;
    }
}

bool CsvReader::ReadHeader() {
    if (!FillBuffer()) return false;
    const std::string_view start(buffer_.data(), std::min<std::size_t>(filled_, 4));
    if (start.starts_with("\xEF\xBB\xBF")) {
        position_ = 3;
        byteOrderMark_ = true;
    } else if (start.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
               start.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
        throw FileError(name_ + ": the file is UTF-32 text; save it as CSV in UTF-8");
    } else if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF")) {
        throw FileError(name_ + ": the file is UTF-16 text; save it as CSV in UTF-8");
    }
    if (!ReadRecord(true)) return false;
    // Excel's first line "sep=;" names the separator.
    if (recordLine_ == 1 && record_.size() >= 5 && record_.starts_with("sep=") &&
        record_.find_first_not_of(" \t", 5) == std::string::npos) {
        const char named = record_[4];
        if (named != ',' && named != ';' && named != '\t') {
            Fail(4, "the line '" + Echo(record_) + "' names a separator qav does not read (',' ';' or tab)");
        }
        if (separator_ == 0) separator_ = named;
        if (!ReadRecord(true)) return false;
    }
    if (separator_ == 0) {
        // The separator that splits the header into the most columns; a comma
        // when there is none.
        separator_ = ',';
        std::size_t most = CountSeparators(record_, ',');
        for (const char sep : {';', '\t'}) {
            const std::size_t count = CountSeparators(record_, sep);
            if (count > most) {
                most = count;
                separator_ = sep;
            }
        }
    }
    Split(static_cast<std::size_t>(-2));
    return true;
}

bool CsvReader::ReadRow(std::size_t maxFields) {
    if (!ReadRecord(false)) return false;
    Split(maxFields);
    return true;
}

}  // namespace qav::files
