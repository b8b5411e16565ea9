#pragma once

// Which march takes which time steps of a run. Every fast path gives the same
// bits for a step, alone or in any lane beside any others, so a group of
// consecutive steps may be split and marched on whichever paths cost least.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "physics/roller_fast.h"

namespace qav {

// Steps first .. first + count - 1 of a group, marched alone (count 1) or
// side by side in lanes on path.
struct MarchPiece {
    MarchPath path;
    std::size_t first;
    std::size_t count;
};

class MarchChoice {
public:
    // The calling thread's choice: the path it picked, or QAV_MARCH_PATH's,
    // for every step, alone or in lanes; otherwise every fast path the
    // processor runs, each step alone on the one that marches a single step
    // fastest.
    static MarchChoice ForThisThread();
    // Every step on path, alone or in its lanes.
    explicit MarchChoice(MarchPath path);

    // The path of a step marched alone.
    [[nodiscard]] MarchPath Single() const { return single_; }
    // The paths that march steps side by side.
    [[nodiscard]] std::span<const MarchPath> Lanes() const { return {lanes_.data(), count_}; }
    // The most steps one piece marches at once (1: every step alone).
    [[nodiscard]] std::size_t GroupSize() const { return groupSize_; }

    // Splits a group of consecutive steps, of points[i] grid levels each
    // (extra level included), into pieces in order, at the least cost by the
    // measured costs of the paths (MarchPathCost).
    void Plan(std::span<const std::size_t> points, std::vector<MarchPiece>& pieces) const;

private:
    MarchChoice() = default;
    void Add(MarchPath path);
    MarchPath single_ = MarchPath::Reference;
    std::size_t groupSize_ = 1;
    double singleCost_ = 1.0;
    // Paths that march lanes, with their costs.
    std::array<MarchPath, 6> lanes_{};
    std::array<MarchCost, 6> costs_{};
    std::size_t count_ = 0;
};

}  // namespace qav
