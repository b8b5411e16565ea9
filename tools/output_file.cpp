#include "tools/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "tools/errors.h"

namespace qav::cli {
namespace {

// ---- Temporary files removed when a signal ends the process ----

// A slot holds one temporary file's name while it exists. Slots are never
// reused, so that a handler running on another thread cannot read a name
// half overwritten; a process has a handful of output files at most.
enum SlotState : int { Free = 0, Filling = 1, Active = 2, Retired = 3 };
struct TemporarySlot {
    std::atomic<int> state{Free};
    std::array<char, PATH_MAX> path{};
};
constexpr int SlotCount = 16;
std::array<TemporarySlot, SlotCount> Temporaries;
static_assert(std::atomic<int>::is_always_lock_free);

// SIGPIPE too: `qav transect --svg t.svg | head` ends by it once head has read
// its lines, with the chart not yet in place.
constexpr std::array<int, 5> CleanupSignals = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE};

extern "C" void RemoveTemporariesAndRedeliver(int signal) {
    const int savedErrno = errno;
    for (TemporarySlot& slot : Temporaries) {
        if (slot.state.load() == Active) ::unlink(slot.path.data());
    }
    // The default action, then the signal again: the process ends (or stops)
    // as the signal asks, and its parent sees which signal it was.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

void InstallCleanupHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : CleanupSignals) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0) continue;
            // A signal the caller ignores (nohup, a background job) stays ignored.
            if (current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = RemoveTemporariesAndRedeliver;
            sigemptyset(&action.sa_mask);
            for (const int other : CleanupSignals) sigaddset(&action.sa_mask, other);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// Holds back the cleanup signals while a temporary file is made and
// registered: one that came in between would end the process and leave the
// file behind. A signal held back arrives when they are let go, and the
// handler then finds the file registered.
class CleanupSignalsHeld {
public:
    CleanupSignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : CleanupSignals) sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~CleanupSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
    CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

int RegisterTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = Free;
        if (!Temporaries[i].state.compare_exchange_strong(expected, Filling)) continue;
        std::memcpy(Temporaries[i].path.data(), path.c_str(), path.size() + 1);
        Temporaries[i].state.store(Active);
        return i;
    }
    return -1;
}

void RetireTemporary(int slot) {
    if (slot >= 0) Temporaries[slot].state.store(Retired);
}

// ---- Paths ----

// Paths of the process's own descriptors (/dev/stdout, /proc/self/fd/1): their
// files are opened as they are, not replaced, and their links not followed.
bool IsSystemPath(std::string_view path) {
    return path == "/dev/stdout" || path == "/dev/stderr" || path.starts_with("/dev/fd/") ||
           path.starts_with("/proc/");
}

// The file a path names: symbolic links followed (also dangling ones, to the
// file they would create), the folders resolved.
std::string FollowLinks(const std::string& path) {
    std::filesystem::path current(path);
    for (int hop = 0; hop < 40 && !IsSystemPath(current.native()); ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    if (IsSystemPath(current.native())) return current.string();
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(current, error);
    if (error) return current.lexically_normal().string();
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : resolved.string();
}

// The user may write the file, and it has a write permission bit at all (root
// passes every access test, but a file made read-only is not to be replaced).
bool MayWrite(const std::string& path, const struct stat& status) {
    return (status.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

std::string ModeText(mode_t mode) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777));
    return text.data();
}

std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

}  // namespace

void CheckNamedFiles(std::span<const NamedFile> files) {
    struct Seen {
        const NamedFile* file;
        bool exists;
        dev_t device;
        ino_t inode;
        std::string resolved;
    };
    std::vector<Seen> seen;
    for (const NamedFile& file : files) {
        if (file.path.empty()) continue;
        struct stat status {};
        const bool exists = ::stat(file.path.c_str(), &status) == 0;
        if (file.written && exists) {
            if (S_ISDIR(status.st_mode)) throw InputError(file.path + ": is a directory");
            if (S_ISREG(status.st_mode) && !MayWrite(file.path, status)) {
                throw InputError(file.path + ": the file is read-only (mode " + ModeText(status.st_mode) +
                                 "); qav does not write it");
            }
        }
        if (exists && !S_ISREG(status.st_mode)) continue;  // a device or pipe
        if (!exists && !file.written) continue;              // reading it will say so
        Seen entry{&file, exists, exists ? status.st_dev : 0, exists ? status.st_ino : 0,
                   exists ? std::string() : FollowLinks(file.path)};
        for (const Seen& other : seen) {
            if (!file.written && !other.file->written) continue;  // two inputs may be one file
            const bool same = exists ? other.exists && other.device == entry.device && other.inode == entry.inode
                                     : !other.exists && other.resolved == entry.resolved;
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
    // Without waiting: a named pipe whose reader is not there yet (ENXIO) is
    // a log all the same, whose lines are lost and counted until one comes.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && errno == ENXIO) return;
    if (fd < 0) throw InputError(path + ": cannot open the log file: " + std::strerror(errno));
    ::close(fd);
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (path_.empty()) {
        file_ = stdout;
        return;
    }
    target_ = IsSystemPath(path_) ? path_ : FollowLinks(path_);
    struct stat status {};
    const bool exists = ::stat(target_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) throw InputError(path_ + ": is a directory");
    if (IsSystemPath(target_) || (exists && !S_ISREG(status.st_mode))) {
        // Nothing to replace, and renaming onto a device would remove it.
        mode_ = Mode::Direct;
        file_ = std::fopen(target_.c_str(), "w");
        if (file_ == nullptr) throw InputError(path_ + ": cannot open the output file: " + std::strerror(errno));
        return;
    }
    if (exists && !MayWrite(target_, status)) {
        throw InputError(path_ + ": the file is read-only (mode " + ModeText(status.st_mode) +
                         "); qav does not write it");
    }

    const std::filesystem::path target(target_);
    const std::string directory = target.has_parent_path() ? target.parent_path().string() : ".";
    mode_ = exists && status.st_nlink > 1 ? Mode::InPlace : Mode::Replace;
    try {
        OpenTemporary(directory);
    } catch (const InputError&) {
        // An existing file in a folder that takes no new files: rewrite it in
        // place, from a complete copy kept elsewhere.
        if (!exists) throw;
        mode_ = Mode::InPlace;
        OpenTemporary(TemporaryDirectory());
    }
    if (mode_ == Mode::InPlace) return;

    const int fd = ::fileno(file_);
    if (exists) {
        // The replacement keeps the old file's owner where the user may give
        // it away, and its permissions (set-id bits only with the owner kept).
        mode_t mode = status.st_mode & 07777;
        if (status.st_uid != ::geteuid() || status.st_gid != ::getegid()) {
            if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
                mode &= ~static_cast<mode_t>(S_ISUID);
                if (::fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0) mode &= ~static_cast<mode_t>(S_ISGID);
            }
        }
        ::fchmod(fd, mode);
    } else {
        // mkstemp creates the file for its owner only; give it the usual mode.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
}

void OutputFile::OpenTemporary(const std::string& directory) {
    // A hidden name in the target's own folder, so that the rename stays on
    // one file system.
    std::string hidden(".");
    hidden += std::filesystem::path(target_).filename().string();
    hidden += ".tmp-XXXXXX";
    const std::string pattern = (std::filesystem::path(directory) / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    InstallCleanupHandlers();
    int fd = -1;
    {
        const CleanupSignalsHeld held;
        fd = ::mkstemp(name.data());
        if (fd < 0) throw InputError(path_ + ": cannot create the output file: " + std::strerror(errno));
        temporaryPath_ = name.data();
        slot_ = RegisterTemporary(temporaryPath_);
    }
    file_ = ::fdopen(fd, "w+");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        Discard();
        throw InputError(path_ + ": cannot open the output file: " + std::strerror(error));
    }
}

void OutputFile::Discard() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    file_ = nullptr;
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        RetireTemporary(slot_);
        slot_ = -1;
        temporaryPath_.clear();
    }
    done_ = true;
}

void OutputFile::CopyInPlace() {
    // The complete output, in the temporary file.
    struct stat written {};
    if (std::fflush(file_) != 0 || ::fstat(::fileno(file_), &written) != 0)
        Fail("writing the output failed", errno);
    const auto length = static_cast<std::size_t>(written.st_size);
    const int out = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) Fail("cannot open the output file", errno);
    const auto fail = [this, out](const char* what, int error) {
        ::close(out);  // and with it the lock
        Fail(what, error);
    };
    // One copy at a time: another qav writing the same file (by another of its
    // names) finishes its copy first, so that the two never interleave.
    while (::flock(out, LOCK_EX) != 0) {
        if (errno != EINTR) fail("cannot lock the output file", errno);
    }
    struct stat old {};
    if (::fstat(out, &old) != 0) fail("cannot open the output file", errno);
    const auto oldLength = static_cast<std::size_t>(old.st_size);
    // Room for the whole output before a byte of the old one is overwritten,
    // so that a full disk leaves the old file whole.
    int reserved = length == 0 ? 0 : ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length));
    const auto put = [this, out](std::size_t from, std::size_t to) -> int {
        std::vector<char> buffer(1 << 16);
        for (std::size_t at = from; at < to;) {
            const std::size_t want = std::min(buffer.size(), to - at);
            const ssize_t got = ::pread(::fileno(file_), buffer.data(), want, static_cast<off_t>(at));
            if (got <= 0) return got < 0 ? errno : EIO;
            for (std::size_t done = 0; done < static_cast<std::size_t>(got);) {
                const ssize_t n = ::pwrite(out, buffer.data() + done, static_cast<std::size_t>(got) - done,
                                           static_cast<off_t>(at + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return n < 0 ? errno : EIO;
                done += static_cast<std::size_t>(n);
            }
            at += static_cast<std::size_t>(got);
        }
        return 0;
    };
    if (reserved != 0) {
        const int error = errno;
        if (error != EOPNOTSUPP && error != ENOSYS && error != EINVAL) fail("no room for the output", error);
        // A file system that reserves nothing ahead: the part beyond the old
        // length is written first; should that fail, the file is cut back to
        // its old length, whole.
        if (length > oldLength) {
            reserved = put(oldLength, length);
            if (reserved != 0) {
                [[maybe_unused]] const int cut = ::ftruncate(out, static_cast<off_t>(oldLength));
                fail("no room for the output", reserved);
            }
        }
    }
    // Written over, then cut to the new length.
    if (const int error = put(0, length); error != 0) fail("writing the output failed", error);
    if (::ftruncate(out, static_cast<off_t>(length)) != 0) fail("writing the output failed", errno);
    if (::fsync(out) != 0 && errno != EINVAL) fail("writing the output failed", errno);
    if (::close(out) != 0) Fail("writing the output failed", errno);
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
        case Mode::Replace: {
            if (std::fflush(file_) != 0 || std::ferror(file_) != 0) Fail("writing the output failed", errno);
            // On disk before it replaces the old file, so that a crash leaves
            // one of the two whole.
            if (::fsync(::fileno(file_)) != 0 && errno != EINVAL) Fail("writing the output failed", errno);
            const int closed = std::fclose(file_);
            file_ = nullptr;
            if (closed != 0) Fail("writing the output failed", errno);
            if (std::rename(temporaryPath_.c_str(), target_.c_str()) != 0) Fail("cannot write the output file", errno);
            RetireTemporary(slot_);
            slot_ = -1;
            temporaryPath_.clear();
            break;
        }
        case Mode::InPlace:
            if (std::fflush(file_) != 0 || std::ferror(file_) != 0) Fail("writing the output failed", errno);
            CopyInPlace();
            Discard();
            break;
    }
    done_ = true;
}

} // namespace qav::cli
