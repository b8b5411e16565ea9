#pragma once

#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "files/csv_reader.h"

namespace qav::cli {

// Exit codes of the program.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitRunFailed = 1;  // the model refused or failed the run
inline constexpr int ExitBadInput = 2;   // usage error, unreadable or malformed input
// The run succeeded and its output is written, but lines of the log asked
// for could not be written (a full disk, a named pipe without a reader).
inline constexpr int ExitLogIncomplete = 3;

// Input the program cannot use (a file, a field, an option combination); the
// text names the file, line and column where there are any.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& what) : std::runtime_error(what) {}
};

// A text for the terminal, whole: control characters, invalid UTF-8 and
// invisible direction marks escaped as a file's cells are (a file name made
// of "\x1b[2J" clears no screen, and one with a line break forges no line).
[[nodiscard]] inline std::string Printable(std::string_view text) {
    return files::Echo(text, std::numeric_limits<std::size_t>::max());
}

} // namespace qav::cli
