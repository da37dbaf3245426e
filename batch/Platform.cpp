#include "Platform.h"

#include <initializer_list>

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velora::batch {

namespace {

std::atomic<int> InterruptFlag{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is written from a signal handler");

extern "C" void OnInterrupt(int signalNumber) {
    InterruptFlag.store(signalNumber, std::memory_order_relaxed);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
    if (!IsTerminal(stream)) {
        return 0;
    }
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

const std::atomic<int>& InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Reset to the default after the first signal: a second Ctrl+C still ends a stuck run.
    action.sa_flags = SA_RESETHAND;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
    return InterruptFlag;
}

}  // namespace velora::batch
