#include "files/file_names.h"

#include <sys/stat.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace qav::files {

#ifdef _WIN32

std::wstring Widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                          nullptr);
    return narrow;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return ::_wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

FileKind KindOf(const std::string& path) {
    struct _stat64 status {};
    if (::_wstat64(Widen(path).c_str(), &status) != 0) return FileKind::Missing;
    if ((status.st_mode & _S_IFMT) == _S_IFDIR) return FileKind::Directory;
    return (status.st_mode & _S_IFMT) == _S_IFREG ? FileKind::Regular : FileKind::Other;
}

#else

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

FileKind KindOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return FileKind::Missing;
    if (S_ISDIR(status.st_mode)) return FileKind::Directory;
    return S_ISREG(status.st_mode) ? FileKind::Regular : FileKind::Other;
}

#endif

}  // namespace qav::files
