// The threads that draw the bands of a render beside the calling thread:
// started on the first render that asks for them and then kept, each waiting
// on a condition variable between renders, so that a render pays for a
// wake-up (microseconds) rather than for starting and joining threads. A
// helper idle for a second ends; the next render starts it again.
#pragma once

namespace kelmo {

// A piece of work run on several threads at once: `slot` is 0 on the calling
// thread and 1, 2, ... on the helpers. It must not throw.
using BandTask = void (*)(void *context, int slot);

// Runs task(context, slot) on `threads` threads at once, the calling thread
// as slot 0 and threads - 1 helpers as the others, and returns once every
// slot has returned (what the slots wrote is then visible to the caller).
// Helpers are started as needed and kept while renders come; one that
// cannot be started leaves its slot unrun, so a task must take its work from
// a shared counter, never from its slot number alone. One call at a time, like the rest of the
// library's process-wide state. Never throws.
void runOnBandWorkers(int threads, BandTask task, void *context);

// The same with any callable taking the slot number.
template <class Task>
void runOnBandWorkers(int threads, Task &task) {
    runOnBandWorkers(threads, [](void *context, int slot) { (*static_cast<Task *>(context))(slot); }, &task);
}

}  // namespace kelmo
