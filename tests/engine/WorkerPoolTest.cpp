#include "engine/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

TEST(WorkerPoolTest, EveryIndexRunsOnceWhateverTheWorkersAndThrowingTasksStopOnlyThemselves) {
    struct Case {
        int count;
        int workers;
    } cases[] = {{0, 4}, {1, 4}, {7, 1}, {50, 3}, {50, 0}, {3, 16}};
    for (const Case& c : cases) {
        std::vector<std::atomic<int>> runs(static_cast<size_t>(c.count));
        RunOnWorkers(c.count, c.workers, [&](int i) {
            ++runs[static_cast<size_t>(i)];
            if (i % 5 == 2) throw std::runtime_error("task failed");
        });
        for (int i = 0; i < c.count; ++i)
            EXPECT_EQ(runs[static_cast<size_t>(i)].load(), 1) << i << " of " << c.count << " on " << c.workers;
    }
}

TEST(WorkerPoolTest, AFailedTaskIsTriedOnceMoreWithNoOtherTaskRunning) {
    RetryAlone gate;
    std::atomic<int> inside{0}, crowdedRetries{0}, attempts{0};
    std::vector<std::atomic<int>> results(40);
    RunOnWorkers(40, 4, [&](int i) {
        bool first = true;
        results[static_cast<size_t>(i)] = gate.Run([&] {
            ++attempts;
            const int others = inside++;
            if (!first && others > 0) ++crowdedRetries;
            Sleep(1);
            --inside;
            // Every third task fails when first tried; task 10 fails always.
            const bool ok = i != 10 && !(first && i % 3 == 0);
            first = false;
            return ok;
        });
    });
    EXPECT_EQ(crowdedRetries.load(), 0);
    EXPECT_EQ(attempts.load(), 40 + 14 + 1) << "each failure tried once more, no more";
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(results[static_cast<size_t>(i)].load(), i != 10 ? 1 : 0) << i;
}

}  // namespace
