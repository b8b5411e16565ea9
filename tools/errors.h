#pragma once

#include <stdexcept>
#include <string>

namespace qav::cli {

// Exit codes of the program.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitRunFailed = 1;  // the model refused or failed the run
inline constexpr int ExitBadInput = 2;   // usage error, unreadable or malformed input

// Input the program cannot use (a file, a field, an option combination); the
// text names the file, line and column where there are any.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace qav::cli
