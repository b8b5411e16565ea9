#include "common/log.h"

#if !defined(_WIN32)
#include <omp.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "common/message.h"

#if defined(_WIN32)
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qav {
namespace {

struct LogSettings {
    int enabled = 0;
    std::string fileName;
    std::size_t lostLines = 0;  // since the log was last switched on
};

// Per OS thread, so that host threads outside any parallel region (all of
// OpenMP number 0) never share settings. The name is copied: the caller's
// text is only valid during its call.
thread_local LogSettings settings;

std::atomic<ClockFunction> clockOverride{nullptr};

#if defined(_WIN32)
// On Windows the host's OpenMP runtime (Intel's, Microsoft's or GCC's) is a
// DLL of its own, and the library depends on no DLL outside Windows: a runtime
// linked into it would not know the host's teams and would answer 0 for every
// thread. The settings are per OS thread and need no such bound.
bool ThreadNumberTooLarge() { return false; }
#else
bool ThreadNumberTooLarge() { return omp_get_thread_num() >= MaxLogThreads; }
#endif

LocalTime SystemLocalTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,       local.tm_hour,
            local.tm_min,         local.tm_sec,     static_cast<int>(ms)};
}

#if defined(_WIN32)
// The log opened for appending under its name as Windows knows it: a name
// that is UTF-8 (as qav and hosts of today pass it) through the wide call, so
// that "Protokoll_Büsum.log" is that file; any other name, as a host in the
// process's code page passes it, through the narrow call. The two agree on
// every name in ASCII.
FILE* OpenForAppending(const std::string& fileName) {
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, fileName.data(),
                                           static_cast<int>(fileName.size()), nullptr, 0);
    if (size <= 0) return std::fopen(fileName.c_str(), "a");
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, fileName.data(), static_cast<int>(fileName.size()),
                          wide.data(), size);
    return ::_wfopen(wide.c_str(), L"a");
}
#endif

// Appends one line to the file in a single write, so that lines of threads
// sharing a file never mix within a line. Returns false when the line could
// not be written whole. Nothing waits: a named pipe without a reader, or one
// whose reader lags behind, loses the line instead of stopping the run.
bool AppendLine(const std::string& fileName, const std::string& line) {
#if defined(_WIN32)
    FILE* file = OpenForAppending(fileName);
    if (file == nullptr) return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    return std::fclose(file) == 0 && written;
#else
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && written == line.size();
#endif
}

}  // namespace

bool InitLog(int flag, std::string_view fileName) {
    if (ThreadNumberTooLarge()) {
        std::fprintf(stderr, "Too many OMP threads; should be <= %d\n", MaxLogThreads);
        return false;
    }
    settings.enabled = flag;
    settings.fileName.assign(TrimTrailingBlanks(fileName));
    if (flag != 0) settings.lostLines = 0;
    return true;
}

std::size_t LostLogLines() { return settings.lostLines; }

bool LogEnabled() { return settings.enabled != 0 && !ThreadNumberTooLarge(); }

void WriteLogLine(std::string_view text) {
    if (!LogEnabled()) return;
    std::string line(TrimTrailingBlanks(text));
    line += '\n';
    if (!AppendLine(settings.fileName, line)) ++settings.lostLines;
}

void WriteLogLine(std::string_view label, std::string_view text) {
    if (!LogEnabled()) return;
    std::string line(label);
    line += text;
    WriteLogLine(line);
}

std::string FormatIntegerField(int value) {
    char field[16];
    std::snprintf(field, sizeof field, "%5d", value);
    std::string text(field);
    if (text.size() > 5) text = "*****";
    return text + "     ";
}

std::string FormatRealField(double value) {
    char field[512];
    if (std::isnan(value)) {
        std::snprintf(field, sizeof field, "%10s", "NaN");
    } else if (std::isinf(value)) {
        std::snprintf(field, sizeof field, "%10s", value > 0 ? "Infinity" : "-Infinity");
    } else {
        std::snprintf(field, sizeof field, "%10.4f", value);
    }
    std::string text(field);
    if (text.size() > 10) text = "**********";
    return text;
}

void LogInteger(std::string_view label, int value) {
    if (!LogEnabled()) return;
    WriteLogLine(std::string(TrimTrailingBlanks(label)) + FormatIntegerField(value));
}

void LogReal(std::string_view label, double value) {
    if (!LogEnabled()) return;
    WriteLogLine(std::string(TrimTrailingBlanks(label)) + FormatRealField(value));
}

DateTimeText FormatDateTimeStamp(const LocalTime& time) {
    char marker = 'a';
    int hour = time.hour;
    if (hour >= 13) {
        marker = 'p';
        hour -= 12;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%2d/%02d/%04d%2d:%02d:%02d:%02d %cm      ", time.month % 100,
                  time.day % 100, time.year % 10000, hour % 100, time.minute % 100, time.second % 100,
                  (time.millisecond / 10) % 100, marker);
    DateTimeText stamp;
    stamp.fill(' ');
    for (std::size_t i = 0; i < stamp.size() && text[i] != '\0'; ++i) stamp[i] = text[i];
    return stamp;
}

DateTimeText DateTimeStamp() {
    const ClockFunction clock = clockOverride.load();
    return FormatDateTimeStamp(clock != nullptr ? clock() : SystemLocalTime());
}

void SetLogClock(ClockFunction clock) { clockOverride.store(clock); }

}  // namespace qav
