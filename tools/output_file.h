#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qav::cli {

// Where a command writes its result: standard output, or a named file that
// appears only complete. A file is written under a temporary name beside the
// target and renamed onto it by Commit; without Commit (an error, an
// exception) the temporary file is removed and the target left untouched.
class OutputFile {
public:
    // An empty path means standard output. Throws InputError when the
    // temporary file cannot be created.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view text);
    // Flushes and renames onto the target; throws InputError on a write fault.
    void Commit();

private:
    std::string path_;
    std::string temporaryPath_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

} // namespace qav::cli
