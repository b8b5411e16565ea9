// Output files of qav.exe on Windows (output_file.cpp is the POSIX one). The
// same promises where Windows has the same things:
// - a file is written under a hidden temporary name beside its target and put
//   in its place by Commit (MoveFileEx, replacing an existing target);
// - a read-only file or a folder is refused;
// - devices (NUL, CON, \\.\...) are written directly;
// - without Commit, or on Ctrl+C or the console closing, the temporary file
//   is removed and the target left untouched.
// Bytes are written as they are (binary mode, standard output too): a table
// ends its lines as the file it answers does. A symbolic link or a file with
// several hard links is replaced by a plain file, as Windows programs do.
#include "tools/output_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "files/file_names.h"
#include "tools/errors.h"

namespace qav::cli {
namespace {

// ---- Temporary files removed when the console ends the process ----

enum SlotState : int { Free = 0, Filling = 1, Active = 2, Retired = 3 };
struct TemporarySlot {
    std::atomic<int> state{Free};
    std::array<wchar_t, MAX_PATH * 4> path{};
};
constexpr int SlotCount = 16;
std::array<TemporarySlot, SlotCount> Temporaries;

BOOL WINAPI RemoveTemporaries(DWORD /*event*/) {
    for (TemporarySlot& slot : Temporaries) {
        if (slot.state.load() == Active) ::DeleteFileW(slot.path.data());
    }
    return FALSE;  // the default handler then ends the process
}

int RegisterTemporary(const std::string& utf8) {
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(RemoveTemporaries, TRUE); });
    const std::wstring path = files::Widen(utf8);
    if (path.size() >= Temporaries[0].path.size()) return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = Free;
        if (!Temporaries[i].state.compare_exchange_strong(expected, Filling)) continue;
        std::memcpy(Temporaries[i].path.data(), path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        Temporaries[i].state.store(Active);
        return i;
    }
    return -1;
}

void RetireTemporary(int slot) {
    if (slot >= 0) Temporaries[slot].state.store(Retired);
}

// ---- Paths ----

// File names are UTF-8 text; Windows takes them as UTF-16.
std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::path(files::Widen(utf8)); }
std::string TextOf(const std::filesystem::path& path) { return files::Narrow(path.wstring()); }

std::string WindowsErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "Windows error";
    if (text != nullptr) ::LocalFree(text);
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) message.pop_back();
    return message + " (" + std::to_string(error) + ")";
}

// A device rather than a file: \\.\name, or a reserved name such as NUL,
// CON or COM1 (in any folder, with any extension).
bool IsDevice(const std::string& path) {
    if (path.starts_with("\\\\.\\")) return true;
    std::string stem = TextOf(PathOf(path).stem());
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr const char* Reserved[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1",
                                               "COM2", "COM3", "COM4", "COM5", "COM6",   "COM7",    "COM8",
                                               "COM9", "LPT1", "LPT2", "LPT3", "LPT4",   "LPT5",    "LPT6",
                                               "LPT7", "LPT8", "LPT9"};
    for (const char* name : Reserved) {
        if (stem == name) return true;
    }
    return false;
}

struct FileIdentity {
    bool exists = false;
    bool directory = false;
    bool readOnly = false;
    DWORD volume = 0;
    ULONGLONG index = 0;
};

FileIdentity Identify(const std::string& path) {
    FileIdentity identity;
    const std::wstring wide = files::Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return identity;
    identity.exists = true;
    identity.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information{};
        if (::GetFileInformationByHandle(handle, &information)) {
            identity.volume = information.dwVolumeSerialNumber;
            identity.index = (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        }
        ::CloseHandle(handle);
    }
    return identity;
}

// The full path, in one case: Windows file names ignore case.
std::string Resolved(const std::string& path) {
    std::error_code error;
    std::string text = TextOf(std::filesystem::absolute(PathOf(path), error).lexically_normal());
    if (error) text = path;
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ReadOnlyText(const std::string& path) {
    return path + ": the file is read-only (read-only attribute); qav does not write it";
}

}  // namespace

void CheckNamedFiles(std::span<const NamedFile> files) {
    struct Seen {
        const NamedFile* file;
        FileIdentity identity;
        std::string resolved;
    };
    std::vector<Seen> seen;
    for (const NamedFile& file : files) {
        if (file.path.empty() || IsDevice(file.path)) continue;
        const FileIdentity identity = Identify(file.path);
        if (file.written && identity.directory) throw InputError(file.path + ": is a directory");
        if (file.written && identity.readOnly) throw InputError(ReadOnlyText(file.path));
        if (!identity.exists && !file.written) continue;  // reading it will say so
        Seen entry{&file, identity, Resolved(file.path)};
        for (const Seen& other : seen) {
            if (!file.written && !other.file->written) continue;  // two inputs may be one file
            const bool same = identity.exists && other.identity.exists && identity.index != 0
                                  ? other.identity.volume == identity.volume && other.identity.index == identity.index
                                  : other.resolved == entry.resolved;
            if (same) {
                throw InputError(std::string(other.file->option) + " " + other.file->path + " and " +
                                 std::string(file.option) + " " + file.path +
                                 " name the same file; give each output a file of its own, apart from the inputs");
            }
        }
        seen.push_back(std::move(entry));
    }
}

void CheckLogFile(const std::string& path) {
    std::FILE* file = files::OpenFile(path, "a");
    if (file == nullptr) throw InputError(path + ": cannot open the log file: " + std::strerror(errno));
    std::fclose(file);
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (path_.empty()) {
        file_ = stdout;
        ::_setmode(::_fileno(stdout), _O_BINARY);
        return;
    }
    target_ = path_;
    if (IsDevice(target_)) {
        mode_ = Mode::Direct;
        file_ = files::OpenFile(target_, "wb");
        if (file_ == nullptr) throw InputError(path_ + ": cannot open the output file: " + std::strerror(errno));
        return;
    }
    const FileIdentity identity = Identify(target_);
    if (identity.directory) throw InputError(path_ + ": is a directory");
    if (identity.readOnly) throw InputError(ReadOnlyText(path_));
    const std::filesystem::path target = PathOf(target_);
    mode_ = Mode::Replace;
    OpenTemporary(target.has_parent_path() ? TextOf(target.parent_path()) : ".");
}

void OutputFile::OpenTemporary(const std::string& directory) {
    // A hidden name in the target's own folder, so that the replacement stays
    // on one volume.
    // A new file under a name no other file has (mkstemp takes no UTF-16
    // name): six letters from the time, the process and a count.
    const std::wstring base =
        (PathOf(directory) / (L"." + PathOf(target_).filename().wstring() + L".tmp-")).wstring();
    static std::atomic<unsigned> count{0};
    int fd = -1;
    std::wstring name;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        unsigned long long seed = ::GetTickCount64() * 2654435761ULL + ::GetCurrentProcessId() * 40503ULL + count++;
        name = base;
        for (int i = 0; i < 6; ++i, seed /= 36) name += L"abcdefghijklmnopqrstuvwxyz0123456789"[seed % 36];
        fd = ::_wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw InputError(path_ + ": cannot create the output file: " + std::strerror(errno));
    temporaryPath_ = files::Narrow(name);
    slot_ = RegisterTemporary(temporaryPath_);
    ::_setmode(fd, _O_BINARY);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int error = errno;
        ::_close(fd);
        Discard();
        throw InputError(path_ + ": cannot open the output file: " + std::strerror(error));
    }
}

void OutputFile::Discard() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    file_ = nullptr;
    if (!temporaryPath_.empty()) {
        ::DeleteFileW(files::Widen(temporaryPath_).c_str());
        RetireTemporary(slot_);
        slot_ = -1;
        temporaryPath_.clear();
    }
    done_ = true;
}

void OutputFile::Commit() {
    if (done_) return;
    switch (mode_) {
        case Mode::StandardOutput:
            if (std::fflush(file_) != 0 || std::ferror(file_) != 0) Fail("writing failed", errno);
            break;
        case Mode::Direct: {
            const bool failed = std::ferror(file_) != 0;
            const int closed = std::fclose(file_);
            file_ = nullptr;
            if (failed || closed != 0) Fail("writing the output failed", errno != 0 ? errno : EIO);
            break;
        }
        case Mode::Replace:
        case Mode::InPlace: {
            if (std::fflush(file_) != 0 || std::ferror(file_) != 0) Fail("writing the output failed", errno);
            // On disk before it replaces the old file, so that a crash leaves
            // one of the two whole.
            if (::_commit(::_fileno(file_)) != 0) Fail("writing the output failed", errno);
            const int closed = std::fclose(file_);
            file_ = nullptr;
            if (closed != 0) Fail("writing the output failed", errno);
            if (!::MoveFileExW(files::Widen(temporaryPath_).c_str(), files::Widen(target_).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                const std::string reason = WindowsErrorText(::GetLastError());
                Discard();
                throw InputError(path_ + ": cannot write the output file: " + reason);
            }
            RetireTemporary(slot_);
            slot_ = -1;
            temporaryPath_.clear();
            break;
        }
    }
    done_ = true;
}

}  // namespace qav::cli
