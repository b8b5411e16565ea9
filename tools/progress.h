#pragma once

#include <chrono>
#include <cstddef>

namespace qav::cli {

// A one-line progress bar on standard error. It shows only when enabled,
// standard error is a terminal and the work has taken longer than a second.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(std::size_t done, std::size_t total);
    // Clears the bar's line.
    void Finish();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
};

} // namespace qav::cli
