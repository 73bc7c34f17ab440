#include "platform/tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <numeric>
#include <stdexcept>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

TEST(RunParallel, RunsEveryTaskOnceNestedCallsIncluded) {
    ASSERT_GE(platform::worker_threads(), 1u);
    for (std::size_t count : {0u, 1u, 3u, 200u}) {
        std::vector<std::vector<int>> runs(count);
        platform::run_parallel(count, [&](std::size_t i) {
            runs[i].assign(i % 5, 0);
            // Work queued from inside a task is run too, without waiting forever.
            platform::run_parallel(runs[i].size(), [&](std::size_t j) { runs[i][j] += 1; });
        });
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(runs[i], std::vector<int>(i % 5, 1)) << "task " << i << " of " << count;
        }
    }
}

TEST(RunParallel, AnExceptionReachesTheCallerAndThePoolStaysUsable) {
    std::atomic<int> ran = 0;
    EXPECT_THROW(platform::run_parallel(50,
                                        [&](std::size_t i) {
                                            ++ran;
                                            if (i == 7) throw std::runtime_error("task 7");
                                        }),
                 std::runtime_error);
    EXPECT_EQ(ran, 50);
    std::vector<std::size_t> out(20);
    platform::run_parallel(out.size(), [&](std::size_t i) { out[i] = i * i; });
    EXPECT_EQ(std::accumulate(out.begin(), out.end(), std::size_t{0}), 2470u);
}

// Exits with 0 when every task ran although no thread could be started.
[[noreturn]] void run_without_threads() {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(2);
    const rlimit one{1, 1};
    if (::setrlimit(RLIMIT_NPROC, &one) != 0) std::_Exit(3);
    std::vector<int> done(100);
    platform::run_parallel(done.size(), [&](std::size_t i) { done[i] = 1; });
    std::_Exit(std::accumulate(done.begin(), done.end(), 0) == 100 ? 0 : 4);
}

// A system that refuses new threads: the calling thread does all the work.
// Run in a fresh process (no pool yet), without root's exemption from the limit.
TEST(RunParallel, WorksWhenNoThreadCanBeStarted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_without_threads(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
