// The toe values of random storms, one line per time step with the bits of
// every result in hex: a fast march gives the same table on every processor
// and instruction set. With --compare FILE the program compares its table
// with FILE (written by an x86-64 build) and fails on any difference; without
// it, it prints the table.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "physics/roller_fast.h"
#include "tests/random_case.h"

namespace {

std::uint64_t Bits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The table of 24 storms of 50 steps, all steps of a storm in one run, on
// path (or the library's own choice).
std::vector<std::string> Table(const qav::MarchPath* path) {
    if (path != nullptr) {
        qav::SetThreadMarchPath(*path);
    } else {
        qav::ResetThreadMarchPath();
    }
    std::mt19937_64 random(20261209);
    std::vector<std::string> lines;
    // The last four storms give their directions in other turns than
    // [0, 360]: the normal and the waves turns apart.
    const double turns[][2] = {{2, 0}, {-1, 0}, {0, 1e9}, {3, -2}};
    for (int s = 0; s < 24; ++s) {
        qav_testing::Storm storm = qav_testing::RandomStorm(random, 50, 3000.0);
        if (s >= 20) {
            storm.input.DikeNormal += 360.0 * turns[s - 20][0];
            for (double& angle : storm.angle) angle += 360.0 * turns[s - 20][1];
        }
        const std::size_t n = storm.hm0.size();
        std::vector<double> hm0(n), tp(n), angle(n);
        std::vector<qav::StepOutcome> outcomes(n);
        std::vector<std::uint8_t> clamped(n);
        std::string text(1000, ' ');
        const int code = qav::RollerModel5(storm.input, {hm0, tp, angle, outcomes, {}, clamped},
                                           qav::MessageBuffer(text.data(), text.size()));
        for (std::size_t i = 0; i < n; ++i) {
            char line[256];
            std::snprintf(line, sizeof line, "%d %zu %d %016" PRIx64 " %016" PRIx64 " %016" PRIx64 " %d %s", s, i,
                          code, Bits(hm0[i]), Bits(tp[i]), Bits(angle[i]), clamped[i],
                          std::string(qav::OutcomeName(outcomes[i])).c_str());
            lines.emplace_back(line);
        }
    }
    qav::ResetThreadMarchPath();
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> table = Table(nullptr);
    // Every fast path this processor runs gives the library's table.
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
        if (path == qav::MarchPath::Reference) continue;
        if (Table(&path) != table) {
            std::fprintf(stderr, "the %s march gives another table\n", std::string(qav::MarchPathName(path)).c_str());
            return 1;
        }
    }
    if (argc == 3 && std::strcmp(argv[1], "--compare") == 0) {
        std::ifstream file(argv[2]);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 2;
        }
        std::vector<std::string> expected;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line[0] != '#') expected.push_back(line);
        }
        std::size_t differ = 0;
        for (std::size_t i = 0; i < std::max(table.size(), expected.size()); ++i) {
            const std::string got = i < table.size() ? table[i] : "(none)";
            const std::string want = i < expected.size() ? expected[i] : "(none)";
            if (got != want && ++differ <= 10) std::fprintf(stderr, "line %zu: %s\n  expected %s\n", i + 1, got.c_str(), want.c_str());
        }
        std::printf("%zu of %zu steps as on x86-64 (march: %s)\n", table.size() - std::min(differ, table.size()),
                    table.size(), qav::MarchPathInUse().c_str());
        return differ == 0 ? 0 : 1;
    }
    std::printf("# storm step code hm0_toe tp_toe angle_toe clamped outcome (bits of the doubles in hex)\n");
    for (const std::string& line : table) std::printf("%s\n", line.c_str());
    return 0;
}
