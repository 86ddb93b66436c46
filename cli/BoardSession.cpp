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
        case LinkError::InvalidReply:
            return "the board's size or identification reply is invalid";
        case LinkError::WrongReplyCode:
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
        case LinkStatus::NoConfiguration:
            return "the board's configuration cannot be selected (Status: 1); it may be in boot "
                   "mode";
        case LinkStatus::NoInterface:
            return "the board's interface cannot be claimed (Status: 2); is another program "
                   "using it?";
        case LinkStatus::NoBoard:
            return "no K-350 board found on USB (Status: 3); check the cable, or the board "
                   "cannot be opened";
        case LinkStatus::AccessRefused:
            return "access to the board was refused (permission denied on its USB node); install "
                   "the udev rule 70-k350.rules and replug the board";
        default:
            return nullptr;
    }
}
}  // namespace

std::string LinkErrorText(int error) {
    return "Error: " + std::to_string(error) + " (" + errorHint(error) + ")";
}

std::string LinkFailureText(const std::vector<int>& statuses, const std::vector<int>& errors) {
    for (int status : statuses) {
        if (status == LinkStatus::AccessRefused) return statusProblem(status);
    }
    for (int status : statuses) {
        if (const char* problem = statusProblem(status)) return problem;
    }
    if (!errors.empty()) return LinkErrorText(errors.front());
    return {};
}

std::string FailureText(const CliChannel::Outcome& outcome) {
    std::string text = LinkFailureText(outcome.statuses, outcome.errors);
    if (!text.empty()) return text;
    if (outcome.windowClosed || outcome.windowStopped) return "the operation did not complete";
    return {};
}

bool FoundNoBoard(const CliChannel::Outcome& outcome) {
    return outcome.errors.empty() && outcome.hasStatus(LinkStatus::NoBoard) &&
           !outcome.hasStatus(LinkStatus::AccessRefused);
}
