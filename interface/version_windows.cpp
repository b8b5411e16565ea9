// GetVersionInfo on Windows: the four file-version numbers of the DLL's own
// version resource. The DLL is found through the module that holds this
// function, not by its name: a copy loaded under another name, or from
// another folder than the process's, reports its own version.
//
// The path is taken in UTF-16: a folder name outside the ANSI code page
// would come back from the ANSI functions with '?' in it, and the file
// would not be found.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qav.h"

namespace {

struct FileVersion {
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

// The full path of the module that holds this code; empty when Windows does
// not give it.
std::wstring OwnModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetVersionInfo), &module)) {
        return {};
    }
    // Paths may be longer than MAX_PATH; a full buffer means the path was cut.
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return {};
}

// The fixed file information of the file's version resource; zeros when the
// file has none or cannot be read.
FileVersion ReadFileVersion(const std::wstring& path) {
    FileVersion version;
    if (path.empty()) return version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return version;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return version;
    void* block = nullptr;
    UINT blockLength = 0;
    if (!VerQueryValueW(data.data(), L"\\", &block, &blockLength) || block == nullptr ||
        blockLength < sizeof(VS_FIXEDFILEINFO)) {
        return version;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (info->dwSignature != VS_FFI_SIGNATURE) return version;
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.build = HIWORD(info->dwFileVersionLS);
    version.revision = LOWORD(info->dwFileVersionLS);
    return version;
}

}  // namespace

extern "C" QAV_API void GetVersionInfo(char* VersionText) {
    if (VersionText == nullptr) return;
    FileVersion version;
    try {
        version = ReadFileVersion(OwnModulePath());
    } catch (...) {
        version = FileVersion{};  // out of memory: the text becomes 0.0.0.0
    }
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.major, version.minor,
                                     version.build, version.revision);
    std::memset(VersionText, ' ', QAV_MESSAGE_LENGTH);
    std::memcpy(VersionText, text, static_cast<std::size_t>(std::max(length, 0)));
}
