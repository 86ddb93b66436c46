// k350ctl: the terminal's board operations from the command line.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>

#include "cli/Commands.h"
#include "link/Clock.h"

namespace {
std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted.store(true);
}

// Ctrl+C and a terminating signal end the command at its next step, so the board is released.
// A download runs to its end, since a half-programmed flash does not start; a second Ctrl+C
// ends the program at once.
void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}
}  // namespace

int main(int argc, char** argv) {
    catchInterrupts();
    SystemClock clock;
    Environment environment{std::cout,
                            std::cerr,
                            isatty(STDERR_FILENO) == 1,
                            clock,
                            [](const char* name) { return std::getenv(name); },
                            &interrupted};
    return RunK350ctl(std::vector<std::string>(argv + 1, argv + argc), environment);
}
