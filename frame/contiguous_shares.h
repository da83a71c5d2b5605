// Items 0 .. count - 1 handed to threads in contiguous shares: each thread
// takes its own share's items in order, and a thread whose share is empty
// takes the last item of the share with the most left. Neighbouring items
// (rows of an image) thus mostly go to the same thread, whose caches hold
// what they share, while a thread on a slower core still finishes with the
// others.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace kelmo {

class ContiguousShares {
public:
    // count >= 0 items, threads >= 1 shares (asserted: the callers' own
    // values); share t holds items [t * count / threads, (t + 1) * count /
    // threads). May throw std::bad_alloc.
    ContiguousShares(int32_t count, int threads);
    ~ContiguousShares();
    ContiguousShares(const ContiguousShares &) = delete;
    ContiguousShares &operator=(const ContiguousShares &) = delete;

    // The next item for thread 0 <= thread < threads, or -1 when every item
    // has been taken. Any number of threads may call at once; every item is
    // returned exactly once. Never allocates nor blocks.
    int32_t take(int thread) noexcept;

private:
    // A share's untaken items [next, end), packed as end << 32 | next so that
    // one compare-and-swap takes an item from either end.
    struct alignas(64) Share {
        std::atomic<uint64_t> range{0};
    };
    std::unique_ptr<Share[]> shares_;
    int threads_;
};

}  // namespace kelmo
