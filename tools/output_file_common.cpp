// What an output file does alike on every system: writing, failing and
// letting go of an unfinished file. Opening, checking and committing are
// the system's own (output_file.cpp, output_file_windows.cpp).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/input_files.h"
#include "tools/errors.h"
#include "tools/output_file.h"

namespace qav::cli {

void CheckSuffix(std::string_view option, const std::string& path,
                 std::initializer_list<std::string_view> suffixes) {
    if (path.empty()) return;
    const std::string lower = files::HeaderKey(path);
    for (const std::string_view suffix : suffixes) {
        if (lower.size() > suffix.size() && lower.ends_with(suffix)) return;
    }
    throw InputError(std::string(option) + " " + files::Echo(path) + ": the file name must end in " +
                     std::string(*suffixes.begin()));
}

OutputFile::~OutputFile() {
    if (done_) return;
    if (mode_ == Mode::StandardOutput) return;
    Discard();
}

void OutputFile::Fail(const std::string& what, int error) {
    const std::string name = mode_ == Mode::StandardOutput ? "standard output" : path_;
    if (mode_ != Mode::StandardOutput) Discard();
    done_ = true;
    throw InputError(name + ": " + what + ": " + std::strerror(error));
}

void OutputFile::Write(std::string_view text) {
    if (done_ || text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail("writing the output failed", errno);
}

}  // namespace qav::cli
