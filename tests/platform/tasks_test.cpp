#include "platform/tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <stdexcept>
#include <vector>

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

}  // namespace
