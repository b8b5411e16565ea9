// SHA-256 (FIPS 180-4) of a file, for the provenance of a report's inputs.
#include "tools/sha256.h"

#include <cstdio>
#include <vector>

#include "files/file_names.h"

namespace qav::cli {
namespace {

constexpr std::array<std::uint32_t, 64> K = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct Sha256 {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> block{};
    std::size_t used = 0;
    std::uint64_t length = 0;

    void Compress() {
        std::array<std::uint32_t, 64> w{};
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
                   std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
        }
        for (std::size_t i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, k] = h;
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                k + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
            const std::uint32_t t2 =
                (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            k = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, k};
        for (std::size_t i = 0; i < 8; ++i) h[i] += add[i];
    }
    void Add(const unsigned char* data, std::size_t n) {
        length += n;
        for (std::size_t i = 0; i < n; ++i) {
            block[used++] = data[i];
            if (used == 64) {
                Compress();
                used = 0;
            }
        }
    }
    std::string Hex() {
        const std::uint64_t bits = length * 8;
        const unsigned char one = 0x80;
        const unsigned char zero = 0;
        Add(&one, 1);
        while (used != 56) Add(&zero, 1);
        for (int i = 7; i >= 0; --i) {
            const auto byte = static_cast<unsigned char>(bits >> (8 * i));
            Add(&byte, 1);
        }
        std::string hex;
        char digits[9];
        for (const std::uint32_t word : h) {
            std::snprintf(digits, sizeof digits, "%08x", word);
            hex += digits;
        }
        return hex;
    }
};

}  // namespace

bool HashFile(const std::string& path, std::string& hex, std::uint64_t& bytes) {
    // A pipe or a terminal read again gives what is left, not what was read.
    if (files::KindOf(path) != files::FileKind::Regular) return false;
    std::FILE* file = files::OpenFile(path, "rb");
    if (file == nullptr) return false;
    Sha256 sha;
    std::vector<unsigned char> buffer(std::size_t{1} << 16);
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        sha.Add(buffer.data(), n);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    if (!read) return false;
    bytes = sha.length;
    hex = sha.Hex();
    return true;
}

}  // namespace qav::cli
