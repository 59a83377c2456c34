#include "common/interrupt.h"

#include <signal.h>

#include "common/exit.h"

namespace {

// Set by the handler, read between steps.
volatile sig_atomic_t noted_signal = 0;

// The first signal is the one the run ends by: a SIGPIPE that follows an
// interrupt (its reader went away too) must not replace it.
void note_signal(int signal_number) {
    if (noted_signal == 0) {
        noted_signal = signal_number;
    }
}

// SIGPIPE too: a reader of the audio that goes away must not end the run
// with the drive still switched.
constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

}  // namespace

void catch_interrupts(quit_signal quit) {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked write must come back
    const auto catch_one = [&](int signal_number) {
        struct sigaction inherited {};
        // A signal the parent ignores (nohup, a background job) stays ignored.
        if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
            return;
        }
        sigaction(signal_number, &action, nullptr);
    };
    for (int signal_number : interrupting_signals) {
        catch_one(signal_number);
    }
    if (quit == quit_signal::noted) {
        catch_one(SIGQUIT);
    }
}

int pending_interrupt() {
    return noted_signal;
}

void stop_if_interrupted() {
    const int signal_number = noted_signal;
    if (signal_number != 0) {
        throw exit_request{128 + signal_number, signal_number};
    }
}

void end_by_signal(int signal_number) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(signal_number);
}
