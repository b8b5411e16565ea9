#include "tools/series_run.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "checks/checks.h"
#include "interface/log.h"
#include "interface/message.h"
#include "model/step_pieces.h"

namespace qav::cli {
namespace {

// The length of the run's message text, as the library's entries use it.
constexpr std::size_t MessageLength = 1000;

// One thread's share of the steps and what it found.
struct Chunk {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t failures = 0;
    std::size_t lastMessageStep = 0;  // one past the step; 0 when no step wrote a message
    std::exception_ptr error;
};

struct StepRunner {
    const RunInput& input;
    const Constants& constants;
    SeriesResult& result;
    const std::string& logFile;
    std::atomic<std::size_t>& done;

    // Consecutive steps marched together, a block at a time so that the
    // progress keeps moving; results and messages as one step after another.
    void MarchInLanes(Chunk& chunk, MessageBuffer message, StepWorkspace& work) const {
        constexpr std::size_t Block = 256;
        for (std::size_t begin = chunk.begin; begin < chunk.end; begin += Block) {
            const std::size_t count = std::min(Block, chunk.end - begin);
            RunInput part = input;
            part.Hm0 = input.Hm0.subspan(begin, count);
            part.Tp = input.Tp.subspan(begin, count);
            part.Wlev = input.Wlev.subspan(begin, count);
            part.IncomingWaveAngle = input.IncomingWaveAngle.subspan(begin, count);
            RunOutput output;
            output.Hm0Toe = std::span(result.hm0Toe).subspan(begin, count);
            output.TpToe = std::span(result.tpToe).subspan(begin, count);
            output.WaveAngleToe = std::span(result.angleToe).subspan(begin, count);
            output.Outcomes = std::span(result.outcomes).subspan(begin, count);
            output.Messages = std::span(result.messages).subspan(begin, count);
            chunk.failures += RunStepsInLanes(part, constants, output, message, work, work.path);
            for (std::size_t i = begin; i < begin + count; ++i) {
                if (!result.messages[i].empty()) chunk.lastMessageStep = i + 1;
            }
            done.fetch_add(count, std::memory_order_relaxed);
        }
    }

    void operator()(Chunk& chunk) const {
        try {
            // The log settings belong to the calling OS thread.
            if (!logFile.empty()) InitLog(1, logFile);
            std::array<char, MessageLength> text{};
            MessageBuffer message(text.data(), text.size());
            StepWorkspace work;
            if (logFile.empty() && LaneCount(work.path) > 1) {
                MarchInLanes(chunk, message, work);
            } else {
                for (std::size_t i = chunk.begin; i < chunk.end; ++i) {
                    // Every step that writes a message replaces the whole text, so
                    // a blank buffer shows whether this step wrote one.
                    message.Clear();
                    const StepResult step = ComputeTimeStep(input, constants, i, message, work);
                    result.hm0Toe[i] = step.Hm0Toe;
                    result.tpToe[i] = step.TpToe;
                    result.angleToe[i] = step.WaveAngleToe;
                    result.outcomes[i] = step.Outcome;
                    if (IsFailure(step.Outcome)) ++chunk.failures;
                    const std::string_view written = message.Trimmed();
                    if (!written.empty()) {
                        result.messages[i].assign(written);
                        chunk.lastMessageStep = i + 1;
                    }
                    done.fetch_add(1, std::memory_order_relaxed);
                }
            }
            if (!logFile.empty()) InitLog(0, "");
        } catch (...) {
            chunk.error = std::current_exception();
        }
    }
};

} // namespace

SeriesResult RunSeries(const RunInput& input, const SeriesRunSettings& settings) {
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    message.Clear();
    const bool logging = !settings.logFile.empty();
    if (logging && InitLog(1, settings.logFile)) {
        WriteLogLine("Start Logging:" + std::string(View(DateTimeStamp())));
    }
    const Constants constants = InitialiseModelConstants(input.Parameters);

    const std::size_t n = input.Hm0.size();
    const double invalid = input.Parameters.InvalidValue;
    SeriesResult result;
    result.hm0Toe.assign(n, invalid);
    result.tpToe.assign(n, invalid);
    result.angleToe.assign(n, invalid);
    result.outcomes.assign(n, StepOutcome::NotTreated);
    result.messages.assign(n, std::string());

    if (CheckModelSetup(input, message) != 0) {
        result.code = -1;
        result.finalMessage.assign(message.Trimmed());
        if (logging) InitLog(0, "");
        return result;
    }

    unsigned threads = logging ? 1u : std::max(1u, settings.threads);
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(n, 1)));
    std::vector<Chunk> chunks(threads);
    for (unsigned t = 0; t < threads; ++t) {
        chunks[t].begin = n * t / threads;
        chunks[t].end = n * (t + 1) / threads;
    }

    std::atomic<std::size_t> done{0};
    std::mutex mutex;
    std::condition_variable finishedChanged;
    unsigned finished = 0;
    const StepRunner runner{input, constants, result, settings.logFile, done};
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (Chunk& chunk : chunks) {
        workers.emplace_back([&runner, &chunk, &mutex, &finished, &finishedChanged] {
            runner(chunk);
            {
                const std::lock_guard lock(mutex);
                ++finished;
            }
            finishedChanged.notify_one();
        });
    }
    {
        std::unique_lock lock(mutex);
        while (!finishedChanged.wait_for(lock, std::chrono::milliseconds(100),
                                         [&] { return finished == threads; })) {
            lock.unlock();
            if (settings.progress) settings.progress(done.load(std::memory_order_relaxed), n);
            lock.lock();
        }
    }
    for (std::thread& worker : workers) worker.join();
    for (const Chunk& chunk : chunks) {
        if (chunk.error) std::rethrow_exception(chunk.error);
    }
    if (settings.progress) settings.progress(n, n);

    // The run's message is that of the last step, in time order, that wrote
    // one; without any it stays the set-up check's description.
    std::size_t failures = 0;
    std::size_t lastMessageStep = 0;
    for (const Chunk& chunk : chunks) {
        failures += chunk.failures;
        if (chunk.lastMessageStep != 0) lastMessageStep = chunk.lastMessageStep;
    }
    result.finalMessage =
        lastMessageStep != 0 ? result.messages[lastMessageStep - 1] : std::string(message.Trimmed());
    result.code = RunReturnCode(failures, n);

    if (logging) {
        WriteLogLine("Entry Log Finished at" + std::string(View(DateTimeStamp())) + std::string(41, '-'));
        InitLog(0, "");
    }
    return result;
}

} // namespace qav::cli
