#pragma once

// File names as UTF-8 text on every system. Windows takes them through its
// wide (UTF-16) functions, so that any name a user types opens the file it
// names, whatever the code page; elsewhere the bytes go through unchanged.

#include <cstdio>
#include <string>
#include <string_view>

namespace qav::files {

// fopen of a UTF-8 file name.
[[nodiscard]] std::FILE* OpenFile(const std::string& path, const char* mode);

enum class FileKind { Missing, Regular, Directory, Other };
[[nodiscard]] FileKind KindOf(const std::string& path);

#ifdef _WIN32
// UTF-8 and UTF-16 text, one into the other (invalid sequences become U+FFFD).
[[nodiscard]] std::wstring Widen(std::string_view text);
[[nodiscard]] std::string Narrow(std::wstring_view text);
#endif

}  // namespace qav::files
