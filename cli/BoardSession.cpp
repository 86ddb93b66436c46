#include "cli/BoardSession.h"

#include <cerrno>

BoardSession::BoardSession(const BoardLocation& location, Clock& clock)
    : location_(location), worker_(channel_, clock) {
    worker_.setBoardLocation(location);
}

BoardSession::~BoardSession() {
    worker_.runExitSequence();
}

const CliChannel::Outcome& BoardSession::run(WorkerRequest request) {
    channel_.clearOutcome();
    worker_.signal(request);
    worker_.runOnePass();
    return channel_.outcome;
}

namespace {
const char* errorHint(int error) {
    switch (error) {
        case -1:
            return "the board's size or identification reply is invalid";
        case -2:
            return "the board answered with another command's reply";
        case -ETIMEDOUT:
            return "the board did not answer in time; check the cable and the board's power";
        case -ENODEV:
            return "the board was unplugged";
        case -EBUSY:
            return "the board is in use by another program";
        case -EACCES:
            return "permission denied; install the udev rules or join the plugdev group";
        case -EIO:
        case -EPIPE:
        case -EPROTO:
            return "USB transfer error; check the cable and the hub";
        default:
            return "USB error";
    }
}

const char* statusProblem(int status) {
    switch (status) {
        case 1:
            return "the board's configuration cannot be selected (Status: 1); it may be in boot "
                   "mode";
        case 2:
            return "the board's interface cannot be claimed (Status: 2); is another program "
                   "using it?";
        case 3:
            return "no K-350 board found on USB (Status: 3); check the cable, or the board "
                   "cannot be opened";
        default:
            return nullptr;
    }
}
}  // namespace

std::string LinkErrorText(int error) {
    return "Error: " + std::to_string(error) + " (" + errorHint(error) + ")";
}

std::string FailureText(const CliChannel::Outcome& outcome) {
    for (int status : outcome.statuses) {
        if (const char* problem = statusProblem(status)) return problem;
    }
    if (!outcome.errors.empty()) return LinkErrorText(outcome.errors.front());
    if (outcome.windowClosed || outcome.windowStopped) return "the operation did not complete";
    return {};
}

bool FoundNoBoard(const CliChannel::Outcome& outcome) {
    return outcome.errors.empty() && outcome.hasStatus(3);
}
