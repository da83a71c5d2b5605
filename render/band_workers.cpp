// The kept helper threads of the banded renderer.
#include "render/band_workers.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__unix__)
#include <unistd.h>
#endif

namespace kelmo {

namespace {

// The helpers and the one piece of work they share. Each render bumps the
// generation; the helpers woken claim its slots in turn and report back by
// counting `pending` down. A helper left without work for kIdleLife ends,
// so that an idle process keeps no threads (and a host may unload the
// library once renders have stopped); the next render starts new ones.
class WorkerPool {
public:
    void run(int threads, BandTask task, void *context) {
        const std::lock_guard<std::mutex> oneCall(callMutex_);
        const int wanted = threads - 1;
        int helpers = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            // Started under the lock, a helper first sees the generation
            // before the bump below, so it cannot miss this render.
            while (alive_ < wanted) {
                try {
                    // Detached: a helper is never joined; it ends by itself.
                    std::thread(&WorkerPool::helperLoop, this, generation_).detach();
                } catch (const std::system_error &) {
                    break;
                }
                ++alive_;
            }
            helpers = alive_ < wanted ? alive_ : wanted;
            task_ = task;
            context_ = context;
            slots_ = helpers;
            claimed_ = 0;
            pending_ = helpers;
            ++generation_;
        }
        if (helpers > 0) wake_.notify_all();
        task(context, 0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    static constexpr std::chrono::seconds kIdleLife{1};

    // A helper's life: wait for the next generation, claim a slot if one is
    // left, run it, report. `seen` is the generation it has answered. It
    // ends only while no render has begun since (the generation unchanged
    // under the lock), so no render ever counts on a helper that has ended.
    void helperLoop(uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!wake_.wait_for(lock, kIdleLife, [&] { return generation_ != seen; })) {
                --alive_;
                return;
            }
            seen = generation_;
            if (claimed_ >= slots_) continue;
            const int slot = ++claimed_;
            const BandTask task = task_;
            void *const context = context_;
            lock.unlock();
            task(context, slot);
            lock.lock();
            if (--pending_ == 0) done_.notify_one();
        }
    }

    std::mutex callMutex_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    BandTask task_ = nullptr;
    void *context_ = nullptr;
    int alive_ = 0;
    int slots_ = 0;
    int claimed_ = 0;
    int pending_ = 0;
    uint64_t generation_ = 0;
};

// The process's pool, never destroyed: a helper may still be waiting out
// its idle time while static destructors run. A child made by fork() has none of its parent's threads, so it
// starts a pool of its own (the parent's left as it was copied).
WorkerPool &workerPool() {
    static WorkerPool *pool = new WorkerPool;
#if defined(__unix__)
    static pid_t owner = getpid();
    if (getpid() != owner) {
        owner = getpid();
        pool = new WorkerPool;
    }
#endif
    return *pool;
}

}  // namespace

void runOnBandWorkers(int threads, BandTask task, void *context) {
    if (threads <= 1) {
        task(context, 0);
        return;
    }
    workerPool().run(threads, task, context);
}

}  // namespace kelmo
