#include "update/run_stop.h"

#include <atomic>

namespace {

// Lock-free, so that a signal handler may set it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void RequestRunStop() {
    stopRequested.store(true);
}

bool RunStopRequested() {
    return stopRequested.load();
}

void ClearRunStop() {
    stopRequested.store(false);
}
