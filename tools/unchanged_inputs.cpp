#include "tools/unchanged_inputs.h"

#include <system_error>

#include "tools/errors.h"

namespace qav::cli {

namespace fs = std::filesystem;

UnchangedInputs::UnchangedInputs(std::span<const NamedFile> files) {
    for (const NamedFile& file : files) {
        std::error_code error;
        if (file.written || file.path.empty() || !fs::is_regular_file(file.path, error)) continue;
        const std::uintmax_t size = fs::file_size(file.path, error);
        if (error) continue;
        const fs::file_time_type modified = fs::last_write_time(file.path, error);
        if (error) continue;
        seen_.push_back({file.path, size, modified});
    }
}

void UnchangedInputs::Check() const {
    for (const Seen& file : seen_) {
        std::error_code sizeError, timeError;
        const std::uintmax_t size = fs::file_size(file.path, sizeError);
        const fs::file_time_type modified = fs::last_write_time(file.path, timeError);
        if (sizeError || timeError || size != file.size || modified != file.modified) {
            throw InputError(
                file.path +
                ": the file changed while qav read it (its size or modification time); run again "
                "once it is complete");
        }
    }
}

}  // namespace qav::cli
