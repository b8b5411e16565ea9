#include "tools/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace qav::cli {
namespace {

constexpr int BarWidth = 40;

} // namespace

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled && ::isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::size_t done, std::size_t total) {
    if (!enabled_ || total == 0) return;
    if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    shown_ = true;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(fraction * BarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(BarWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%% %zu/%zu steps", bar.c_str(), static_cast<int>(fraction * 100.0), done,
                 total);
    std::fflush(stderr);
}

void ProgressBar::Finish() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", BarWidth + 40, "");
    std::fflush(stderr);
    shown_ = false;
}

} // namespace qav::cli
