#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "model/model.h"

namespace qav::cli {

// Results of a run over a whole series, one element per time step.
struct SeriesResult {
    std::vector<double> hm0Toe;
    std::vector<double> tpToe;
    std::vector<double> angleToe;
    std::vector<StepOutcome> outcomes;
    std::vector<std::string> messages;  // each step's own message, empty when it wrote none
    int code = -1;                      // 0 the run succeeded, -1 it failed
    std::string finalMessage;           // the run's message as the library leaves it
};

struct SeriesRunSettings {
    unsigned threads = 1;  // at most this many threads share the steps
    std::string logFile;   // diagnostic log; empty for none (forces one thread)
    // Called now and then on the calling thread with the number of steps done.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// Runs the model over the series exactly as qav::RollerModel5 does, with the
// time steps split into contiguous chunks over threads. Results, messages and
// return code do not depend on the number of threads.
SeriesResult RunSeries(const RunInput& input, const SeriesRunSettings& settings);

} // namespace qav::cli
