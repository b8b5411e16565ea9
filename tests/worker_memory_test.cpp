// Worker threads that run short of memory: operator new fails on every
// thread but the test's own once a budget of worker allocations is spent,
// so that some workers fail before their first block and others in the
// middle of one. The calling thread runs what they hand back; the run gives
// the results of a run on one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "model/model.h"
#include "tests/random_case.h"

namespace {

std::atomic<bool> starving{false};
std::atomic<long> workerBudget{0};
std::thread::id testThread;

void* Allocate(std::size_t size, std::size_t alignment) {
    if (starving.load() && std::this_thread::get_id() != testThread && workerBudget.fetch_sub(1) <= 0) {
        throw std::bad_alloc();
    }
    if (size == 0) size = 1;
    void* p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(size)
                  : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, alignof(std::max_align_t)); }
void* operator new[](std::size_t size) { return Allocate(size, alignof(std::max_align_t)); }
void* operator new(std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

struct Results {
    std::vector<double> hm0, tp, angle;
    std::vector<std::string> messages;
    int code;
    std::string message;
};

Results RunOn(const qav::RunInput& input, unsigned threads) {
    const std::size_t n = input.Hm0.size();
    Results r{std::vector<double>(n),
              std::vector<double>(n),
              std::vector<double>(n),
              std::vector<std::string>(n),
              0,
              std::string(1000, ' ')};
    qav::RunOptions options;
    options.Threads = threads;
    r.code = qav::RollerModel5(input, {r.hm0, r.tp, r.angle, {}, r.messages, {}},
                               qav::MessageBuffer(r.message.data(), r.message.size()), options);
    return r;
}

TEST(WorkerMemory, BlocksOfWorkersWithoutMemoryRunOnTheCallingThread) {
    testThread = std::this_thread::get_id();
    std::mt19937_64 random(24);
    const qav_testing::Storm storm = qav_testing::RandomStorm(random, 2000, 400.0);
    const Results alone = RunOn(storm.input, 1);
    for (const long budget : {0L, 40L, 400L}) {
        workerBudget = budget;
        starving = true;
        const Results shared = RunOn(storm.input, 8);
        starving = false;
        EXPECT_EQ(shared.code, alone.code) << budget;
        EXPECT_EQ(shared.message, alone.message) << budget;
        EXPECT_EQ(shared.messages, alone.messages) << budget;
        EXPECT_EQ(0, std::memcmp(shared.hm0.data(), alone.hm0.data(), alone.hm0.size() * sizeof(double)))
            << budget;
        EXPECT_EQ(0,
                  std::memcmp(shared.angle.data(), alone.angle.data(), alone.angle.size() * sizeof(double)))
            << budget;
    }
}

}  // namespace
