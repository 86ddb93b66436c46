// k350ctl: the terminal's board operations from the command line.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/Commands.h"
#include "config/Clock.h"
#include "station/BoardHook.h"

namespace {
std::atomic<bool> interrupted{false};
std::atomic<int> stopSignal{0};
std::atomic<int> downloads{0};
std::atomic<int> receivedSignals{0};
std::atomic<bool> answersSignals{false};

void say(const char* text) {
    ssize_t written = write(STDERR_FILENO, text, strlen(text));
    (void)written;
}

// Ctrl+C, a terminating signal and a closed terminal (SIGHUP, taken as SIGTERM) end the command
// at its next step, so the board is released. A download runs to its end, since a
// half-programmed flash does not start; a second signal ends the program at once, unless the
// command answers it itself (the station names what it leaves and records it).
void onSignal(int received) {
    const int signal = received == SIGHUP ? SIGTERM : received;
    ++receivedSignals;
    if (answersSignals.load()) {
        if (!interrupted.exchange(true)) stopSignal.store(signal);
        return;
    }
    if (interrupted.exchange(true)) {
        if (downloads.load() > 0) {
            say("k350ctl: stopped during the download: the flash is left incomplete and the "
                "board will not start until an image is downloaded again\n");
        }
        KillRunningHooks();
        _exit(128 + signal);
    }
    stopSignal.store(signal);
    if (downloads.load() > 0) {
        say("k350ctl: the download finishes first, since a half-programmed flash does not "
            "start; a second Ctrl+C stops it now\n");
    }
}

void catchSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// A closed standard stream would hand its number to the next file opened, and data meant for
// standard output would land in it: it is opened on /dev/null for reading, so writing to it
// fails and is reported.
void keepStandardStreamsTaken() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDONLY);
    }
}
}  // namespace

int main(int argc, char** argv) {
    keepStandardStreamsTaken();
    catchSignals();
    SystemClock clock;
    Environment environment{std::cout,
                            std::cerr,
                            isatty(STDERR_FILENO) == 1,
                            clock,
                            [](const char* name) { return std::getenv(name); },
                            &interrupted,
                            &stopSignal,
                            &downloads,
                            &receivedSignals,
                            &answersSignals};
    const int status = RunK350ctl(std::vector<std::string>(argv + 1, argv + argc), environment);
    if (status == 128 + SIGPIPE) {
        signal(SIGPIPE, SIG_DFL);
        raise(SIGPIPE);
    }
    return status;
}
