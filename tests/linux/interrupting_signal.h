// SIGUSR1 handled, while one of these lives, without SA_RESTART, as the front end's Ctrl-C
// handler is: every wait it interrupts fails with EINTR. Counts the signals caught; the previous
// handler comes back when it goes.
#pragma once

#include <signal.h>

#include <atomic>

class InterruptingSignal {
  public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = Count;
        action.sa_flags = 0;  // no SA_RESTART
        sigemptyset(&action.sa_mask);
        caught_ = 0;
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

    int Caught() const { return caught_.load(); }

  private:
    static void Count(int) { caught_.fetch_add(1); }

    static inline std::atomic<int> caught_{0};
    struct sigaction previous_ {};
};
