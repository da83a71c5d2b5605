#include "frame/contiguous_shares.h"

#include <cassert>

namespace kelmo {

namespace {

uint64_t packRange(uint32_t next, uint32_t end) { return static_cast<uint64_t>(end) << 32 | next; }
uint32_t nextOf(uint64_t range) { return static_cast<uint32_t>(range); }
uint32_t endOf(uint64_t range) { return static_cast<uint32_t>(range >> 32); }

}  // namespace

ContiguousShares::ContiguousShares(int32_t count, int threads)
    : shares_(std::make_unique<Share[]>(static_cast<std::size_t>(threads))), threads_(threads) {
    assert(count >= 0 && threads >= 1);
    for (int t = 0; t < threads; ++t) {
        const auto first = static_cast<uint32_t>(static_cast<int64_t>(count) * t / threads);
        const auto end = static_cast<uint32_t>(static_cast<int64_t>(count) * (t + 1) / threads);
        shares_[static_cast<std::size_t>(t)].range.store(packRange(first, end), std::memory_order_relaxed);
    }
}

ContiguousShares::~ContiguousShares() = default;

int32_t ContiguousShares::take(int thread) noexcept {
    assert(thread >= 0 && thread < threads_);
    // The work an item stands for is ordered by the callers' own barriers;
    // the swaps need only hand each item out once.
    std::atomic<uint64_t> &own = shares_[static_cast<std::size_t>(thread)].range;
    uint64_t range = own.load(std::memory_order_relaxed);
    while (nextOf(range) < endOf(range)) {
        if (own.compare_exchange_weak(range, range + 1, std::memory_order_relaxed)) {
            return static_cast<int32_t>(nextOf(range));
        }
    }
    for (;;) {
        // The share with the most left gives up its last item (the lowest
        // such share on a tie).
        std::atomic<uint64_t> *fullest = nullptr;
        uint64_t fullestRange = 0;
        uint32_t most = 0;
        for (int t = 0; t < threads_; ++t) {
            std::atomic<uint64_t> &share = shares_[static_cast<std::size_t>(t)].range;
            const uint64_t candidate = share.load(std::memory_order_relaxed);
            if (nextOf(candidate) < endOf(candidate) && endOf(candidate) - nextOf(candidate) > most) {
                most = endOf(candidate) - nextOf(candidate);
                fullest = &share;
                fullestRange = candidate;
            }
        }
        if (fullest == nullptr) return -1;
        const uint32_t last = endOf(fullestRange) - 1;
        if (fullest->compare_exchange_strong(fullestRange, packRange(nextOf(fullestRange), last),
                                             std::memory_order_relaxed)) {
            return static_cast<int32_t>(last);
        }
        // Another thread took from that share meanwhile: look again.
    }
}

}  // namespace kelmo
