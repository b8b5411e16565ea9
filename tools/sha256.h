#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qav::cli {

// The SHA-256 digest of a file's bytes, in lower-case hex, and its size;
// false when the file cannot be read or is no regular file (a pipe).
[[nodiscard]] bool HashFile(const std::string& path, std::string& hex, std::uint64_t& bytes);

}  // namespace qav::cli
