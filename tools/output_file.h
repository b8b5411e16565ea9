#pragma once

#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace qav::cli {

// A file a command names on its command line, with the option that names it.
struct NamedFile {
    std::string_view option;  // "--series", "-o", ...
    std::string path;         // empty when the option was not given
    bool written;             // an output (replaced or appended to), else an input
};

// Checks the files of a command before anything is read or written, and
// throws InputError when
// - an output names the same file as another output or as an input (the
//   same device and inode, links followed; an output that does not exist yet
//   by its resolved path);
// - an output is an existing file the user may not write, or one without any
//   write permission bit (refused even for root, who could write it);
// - an output is a directory.
// Devices and pipes (/dev/null, a named pipe) are not compared: writing to
// them replaces nothing.
void CheckNamedFiles(std::span<const NamedFile> files);

// Throws InputError when a named output does not end in one of the suffixes
// (any case; the first is named), so that a chart never lands in a file that
// claims another format. An empty path passes.
void CheckSuffix(std::string_view option, const std::string& path,
                 std::initializer_list<std::string_view> suffixes);

// Opens the log file for appending (creating it) and closes it again; throws
// InputError when it cannot be opened, so that a run never goes on without
// the log it was asked for. A named pipe without a reader passes: its lines
// are lost, and counted, until a reader comes.
void CheckLogFile(const std::string& path);

// Where a command writes its result: standard output, or a named file that
// appears only complete.
// - A regular file is written under a hidden temporary name beside its target
//   and renamed onto it by Commit. A symbolic link is followed: its target is
//   replaced and the link kept. A file that existed keeps its permission bits
//   and, where the user may give it away, its owner and group.
// - A file with several hard links is rewritten in place, so that every name
//   sees the new content: the output is first written completely to a
//   temporary file, and only then copied over the target, under an
//   exclusive lock of the target (flock), with the room for the new length
//   reserved before anything is overwritten, then cut to that length. A
//   full disk leaves the old content whole; only an interruption during the
//   copy can leave it partial. The same happens for an existing file in a
//   folder where no temporary file can be created.
// - Devices, pipes, /dev/stdout, /dev/stderr, /dev/fd/N and paths under
//   /proc are written directly.
// Without Commit (an error, an exception) the temporary file is removed and
// the target is left untouched; so it is on SIGINT, SIGTERM, SIGHUP, SIGXFSZ
// and SIGPIPE, after which the process ends as the signal asks.
class OutputFile {
public:
    // An empty path means standard output. Throws InputError when the file
    // cannot be created.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throws InputError when the text cannot be written (disk full, a file
    // size limit); the temporary file is then removed.
    void Write(std::string_view text);
    // Flushes and puts the file in place; throws InputError on a write fault.
    void Commit();
    // True when the target receives the output only whole, at Commit (a
    // regular file); false when it shows the text as it is written.
    [[nodiscard]] bool WholeOrNothing() const { return mode_ == Mode::Replace || mode_ == Mode::InPlace; }

private:
    enum class Mode { StandardOutput, Direct, Replace, InPlace };

    void OpenTemporary(const std::string& directory);
    void Discard();
    [[noreturn]] void Fail(const std::string& what, int error);
    void CopyInPlace();

    std::string path_;    // as given, for messages
    std::string target_;  // the file that receives the output, links followed
    std::string temporaryPath_;
    Mode mode_ = Mode::StandardOutput;
    std::FILE* file_ = nullptr;
    int slot_ = -1;  // of the temporary file in the signal clean-up list
    bool done_ = false;
};

} // namespace qav::cli
