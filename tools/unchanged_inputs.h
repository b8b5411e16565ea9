#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "tools/output_file.h"

namespace qav::cli {

// The regular files a command reads, with their size and modification time
// when it started. A file that changes while it is read (a series still
// being written, one cut short by another program) gives rows that were
// never one file: a row cut in the middle of a number reads as a shorter
// number, and the rows after a cut are lost.
class UnchangedInputs {
public:
    // Takes the inputs among files (not the outputs, not devices or pipes).
    explicit UnchangedInputs(std::span<const NamedFile> files);
    // Throws InputError naming the first input whose size or modification
    // time is no longer what it was.
    void Check() const;

private:
    struct Seen {
        std::string path;
        std::uintmax_t size;
        std::filesystem::file_time_type modified;
    };
    std::vector<Seen> seen_;
};

}  // namespace qav::cli
