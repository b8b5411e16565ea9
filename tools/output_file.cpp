#include "tools/output_file.h"

#include <sys/stat.h>
#include <unistd.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/errors.h"

namespace qav::cli {

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (path_.empty()) {
        file_ = stdout;
        return;
    }
    // A device or pipe (/dev/null, a named pipe) is written directly: there is
    // nothing to replace, and renaming onto it would remove it.
    struct stat status {};
    if (::stat(path_.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) throw InputError(path_ + ": is a directory");
        file_ = std::fopen(path_.c_str(), "w");
        if (file_ == nullptr) throw InputError(path_ + ": cannot open the output file: " + std::strerror(errno));
        return;
    }
    const std::filesystem::path target(path_);
    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
    // A hidden name in the target's own directory, so that the rename stays on
    // one file system.
    std::string hidden(".");
    hidden += target.filename().string();
    hidden += ".tmp-XXXXXX";
    const std::string pattern = (directory / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) throw InputError(path_ + ": cannot create the output file: " + std::strerror(errno));
    temporaryPath_ = name.data();
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
        ::close(fd);
        std::remove(temporaryPath_.c_str());
        throw InputError(path_ + ": cannot open the output file: " + std::strerror(errno));
    }
}

OutputFile::~OutputFile() {
    if (temporaryPath_.empty()) {
        if (file_ != nullptr && file_ != stdout) std::fclose(file_);
        return;
    }
    if (committed_) return;
    if (file_ != nullptr) std::fclose(file_);
    std::remove(temporaryPath_.c_str());
}

void OutputFile::Write(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file_);
}

void OutputFile::Commit() {
    if (temporaryPath_.empty()) {
        if (std::fflush(file_) != 0 || std::ferror(file_)) {
            const std::string name = path_.empty() ? "standard output" : path_;
            throw InputError("writing to " + name + " failed: " + std::strerror(errno));
        }
        committed_ = true;
        return;
    }
    const bool writeFailed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (writeFailed || closeFailed) {
        const std::string reason = std::strerror(errno);
        std::remove(temporaryPath_.c_str());
        committed_ = true;
        throw InputError(path_ + ": writing the output file failed: " + reason);
    }
    // mkstemp creates the file for its owner only; give it the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temporaryPath_.c_str(), 0666 & ~mask);
#if defined(_WIN32)
    // rename() on Windows refuses an existing target.
    if (!::MoveFileExA(temporaryPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const std::string reason = "Windows error " + std::to_string(::GetLastError());
#else
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
#endif
        std::remove(temporaryPath_.c_str());
        committed_ = true;
        throw InputError(path_ + ": cannot write the output file: " + reason);
    }
    committed_ = true;
}

} // namespace qav::cli
