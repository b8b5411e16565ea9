// The split of a group of time steps over the marches, by the costs their
// kernels carry (measured on a processor of each instruction set).
#include "model/march_plan.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qav {
namespace {

// A group never holds more steps than this (two 2048-bit registers of doubles).
constexpr std::size_t MaxGroup = 64;

}  // namespace

void MarchChoice::Add(MarchPath path) {
    if (count_ == lanes_.size()) return;
    lanes_[count_] = path;
    costs_[count_] = MarchPathCost(path);
    ++count_;
    groupSize_ = std::max(groupSize_, std::min<std::size_t>(static_cast<std::size_t>(LaneCount(path)), MaxGroup));
}

MarchChoice::MarchChoice(MarchPath path) : single_(path) {
    if (path == MarchPath::Reference) return;
    singleCost_ = MarchPathCost(path).alone;
    Add(path);
}

MarchChoice MarchChoice::ForThisThread() {
    if (MarchPathPicked()) return MarchChoice(ThreadMarchPath());
    // Found once: the processor does not change.
    static const MarchChoice fastest = [] {
        MarchChoice every;
        every.singleCost_ = std::numeric_limits<double>::infinity();
        for (const MarchPath path : SupportedMarchPaths()) {
            if (path == MarchPath::Reference) continue;
            every.Add(path);
            if (MarchPathCost(path).alone < every.singleCost_) {
                every.singleCost_ = MarchPathCost(path).alone;
                every.single_ = path;
            }
        }
        // Only the lanes of paths that some group of equal steps takes.
        MarchChoice used;
        used.single_ = every.single_;
        used.singleCost_ = every.singleCost_;
        std::vector<std::size_t> points;
        std::vector<MarchPiece> pieces;
        for (std::size_t k = 2; k <= every.groupSize_; ++k) {
            points.assign(k, 1000);
            every.Plan(points, pieces);
            for (const MarchPiece& piece : pieces) {
                const auto lanes = used.Lanes();
                if (piece.count > 1 && std::find(lanes.begin(), lanes.end(), piece.path) == lanes.end()) {
                    used.Add(piece.path);
                }
            }
        }
        // Keep the order of the processor's paths, oldest first.
        std::sort(used.lanes_.begin(), used.lanes_.begin() + static_cast<std::ptrdiff_t>(used.count_));
        for (std::size_t p = 0; p < used.count_; ++p) used.costs_[p] = MarchPathCost(used.lanes_[p]);
        return used;
    }();
    return fastest;
}

void MarchChoice::Plan(std::span<const std::size_t> points, std::vector<MarchPiece>& pieces) const {
    pieces.clear();
    const std::size_t k = std::min(points.size(), MaxGroup);
    // least[j]: the least cost of the first j steps, whose last piece starts
    // at start[j] on path[j].
    std::array<double, MaxGroup + 1> least{};
    std::array<std::size_t, MaxGroup + 1> start{};
    std::array<MarchPath, MaxGroup + 1> path{};
    for (std::size_t j = 1; j <= k; ++j) {
        least[j] = least[j - 1] + singleCost_ * static_cast<double>(points[j - 1]);
        start[j] = j - 1;
        path[j] = single_;
        for (std::size_t p = 0; p < count_; ++p) {
            const auto lanes = static_cast<std::size_t>(LaneCount(lanes_[p]));
            std::size_t longest = points[j - 1];
            for (std::size_t m = 2; m <= std::min(j, lanes); ++m) {
                longest = std::max(longest, points[j - m]);
                // A group of one register's lanes or fewer marches one register.
                const double row = costs_[p].row[m <= lanes / 2 ? 0 : 1];
                const double cost = least[j - m] + row * static_cast<double>(longest);
                if (cost < least[j]) {
                    least[j] = cost;
                    start[j] = j - m;
                    path[j] = lanes_[p];
                }
            }
        }
    }
    for (std::size_t j = k; j > 0; j = start[j]) pieces.push_back({path[j], start[j], j - start[j]});
    std::reverse(pieces.begin(), pieces.end());
}

}  // namespace qav
