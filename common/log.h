#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace qav {

// Diagnostic log. Settings are kept per calling OS thread: a call switches its
// thread's log on or off, and every writing operation below does nothing while
// it is off. Each line is written by opening the file for appending, writing,
// and closing again; a line that cannot be written (a full disk, a named pipe
// without a reader) is skipped, never waited for, and counted.

// Threads whose OpenMP number within their team is this or more get no log.
inline constexpr int MaxLogThreads = 128;

// Sets the calling thread's log: on when flag is non-zero, to the file named by
// fileName (trailing blanks removed). Returns false, after one line on
// standard error, when the thread's OpenMP number is MaxLogThreads or more.
bool InitLog(int flag, std::string_view fileName);

// The lines the calling thread's log could not write since InitLog last
// switched it on (switching it off keeps the count for the caller to read).
[[nodiscard]] std::size_t LostLogLines();

// True while the calling thread's log is on.
[[nodiscard]] bool LogEnabled();

// Writes text, trailing blanks removed, as one line.
void WriteLogLine(std::string_view text);
// Writes label directly followed by text as one line (joined only while the
// log is on).
void WriteLogLine(std::string_view label, std::string_view text);
// Writes the label (trailing blanks removed) followed by the value
// right-justified in 5 columns and 5 blanks ("*****" when it does not fit).
void LogInteger(std::string_view label, int value);
// Writes the label followed by the value as "%10.4f" ("**********" when it
// does not fit; NaN, Infinity, -Infinity right-justified).
void LogReal(std::string_view label, double value);

// The local date and time, laid out in 30 characters.
using DateTimeText = std::array<char, 30>;
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
[[nodiscard]] DateTimeText DateTimeStamp();
[[nodiscard]] DateTimeText FormatDateTimeStamp(const LocalTime& time);
[[nodiscard]] inline std::string_view View(const DateTimeText& text) { return {text.data(), text.size()}; }

// The 10-column fields of the value lines.
[[nodiscard]] std::string FormatIntegerField(int value);
[[nodiscard]] std::string FormatRealField(double value);

// Replaces the clock of DateTimeStamp (tests only); null restores the
// system's local time.
using ClockFunction = LocalTime (*)();
void SetLogClock(ClockFunction clock);

}  // namespace qav
