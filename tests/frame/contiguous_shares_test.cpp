// ContiguousShares: items handed out once each, own share first and in order,
// then taken from the end of the fullest share.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <vector>

#include "frame/contiguous_shares.h"

namespace {

using kelmo::ContiguousShares;

std::vector<int32_t> takeAll(ContiguousShares &shares, int thread) {
    std::vector<int32_t> taken;
    for (int32_t item = shares.take(thread); item >= 0; item = shares.take(thread)) taken.push_back(item);
    return taken;
}

TEST(ContiguousShares, AThreadTakesItsShareInOrderThenTheLastItemOfTheFullestShare) {
    ContiguousShares two(6, 2);  // shares 0-2 and 3-5
    EXPECT_EQ(takeAll(two, 1), (std::vector<int32_t>{3, 4, 5, 2, 1, 0}));
    EXPECT_EQ(two.take(0), -1);

    ContiguousShares three(9, 3);  // shares 0-2, 3-5, 6-8
    EXPECT_EQ(three.take(1), 3);
    // After 8, shares 1 and 2 hold two items each: a tie goes to the lower share.
    EXPECT_EQ(takeAll(three, 0), (std::vector<int32_t>{0, 1, 2, 8, 5, 7, 4, 6}));

    ContiguousShares fewer(2, 4);  // shares: {}, {0}, {}, {1}
    EXPECT_EQ(takeAll(fewer, 0), (std::vector<int32_t>{0, 1}));
}

TEST(ContiguousShares, ThreadsTakingAtOnceGetEveryItemExactlyOnce) {
    for (int32_t count : {0, 1, 5, 128, 20000}) {
        for (int threads : {1, 2, 3, 8}) {
            ContiguousShares shares(count, threads);
            std::vector<std::atomic<int>> times(static_cast<std::size_t>(count));
#pragma omp parallel num_threads(threads)
            {
                const int thread = omp_get_thread_num();
                for (int32_t item = shares.take(thread); item >= 0; item = shares.take(thread)) {
                    times[static_cast<std::size_t>(item)].fetch_add(1, std::memory_order_relaxed);
                }
            }
            for (int32_t item = 0; item < count; ++item) {
                ASSERT_EQ(times[static_cast<std::size_t>(item)].load(), 1) << count << " items, " << threads << " threads, item " << item;
            }
        }
    }
}

}  // namespace
