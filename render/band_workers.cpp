// The kept helper threads of the banded renderer.
#include "render/band_workers.h"

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
// generation; a helper runs the task when its slot is among those asked for
// and reports back by counting `pending` down.
class WorkerPool {
public:
    void run(int threads, BandTask task, void *context) {
        const std::lock_guard<std::mutex> oneCall(callMutex_);
        const int helpers = startHelpers(threads - 1);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            task_ = task;
            context_ = context;
            slots_ = helpers;
            pending_ = helpers;
            ++generation_;
        }
        if (helpers > 0) wake_.notify_all();
        task(context, 0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    // Starts helpers until `wanted` exist (or one cannot be started);
    // returns how many there are, at most `wanted`.
    int startHelpers(int wanted) {
        while (started_ < wanted) {
            uint64_t generation;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                generation = generation_;
            }
            try {
                // Detached: a helper lives as long as the process and is
                // never joined (nothing it touches is ever destroyed).
                std::thread(&WorkerPool::helperLoop, this, started_ + 1, generation).detach();
            } catch (const std::system_error &) {
                break;
            }
            ++started_;
        }
        return started_ < wanted ? started_ : wanted;
    }

    // A helper's life: wait for the next generation, run its slot if asked
    // for, report. `seen` is the generation current when it was started, so
    // that a render begun before the thread first runs is not missed.
    void helperLoop(int slot, uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return generation_ != seen; });
            seen = generation_;
            if (slot > slots_) continue;
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
    int slots_ = 0;
    int pending_ = 0;
    uint64_t generation_ = 0;
    int started_ = 0;  // under callMutex_
};

// The process's pool, never destroyed: its helpers outlive every static
// destructor. A child made by fork() has none of its parent's threads, so it
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
