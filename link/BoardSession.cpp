#include "link/BoardSession.h"

#include <cerrno>

#include "link/ConfigReadOperation.h"
#include "link/ConfigWriteOperation.h"
#include "link/FlashReadOperation.h"
#include "link/TracePollOperation.h"
#include "link/TraceSelectOperation.h"

BoardSession::BoardSession(const BoardLocation& location, Clock& clock)
    : location_(location), link_(clock) {
    link_.setLocation(location);
    link_.requireWholeIdentification();
}

BoardSession::~BoardSession() {
    link_.drainAndClose();
}

DirectObserver& BoardSession::fresh() {
    observer_.clearReports();
    observer_.bytes = nullptr;
    observer_.approveTransfer = nullptr;
    observer_.requestBytes.clear();
    return observer_;
}

BoardProbe BoardSession::probe() {
    return ProbeLink(link_, fresh(), location_);
}

OperationResult<ConfigSnapshot> BoardSession::readConfig() {
    return ReadConfiguration(link_, fresh());
}

OperationResult<std::uint32_t> BoardSession::writeConfig(std::shared_ptr<const Bytes> bytes,
                                                         std::function<bool()> approve) {
    DirectObserver& observer = fresh();
    observer.bytes = std::move(bytes);
    observer.approveTransfer = std::move(approve);
    return WriteConfiguration(link_, observer);
}

OperationResult<FirmwareDownload> BoardSession::downloadFirmware(std::shared_ptr<const Bytes> image,
                                                                 const FirmwareOptions& options) {
    DirectObserver& observer = fresh();
    observer.bytes = std::move(image);
    return DownloadFirmware(link_, observer, options);
}

OperationResult<BoardSession::Bytes> BoardSession::readFlash(std::uint32_t address,
                                                             std::uint32_t count) {
    return ReadFlashBack(link_, fresh(), address, count);
}

OperationResult<LinkStatisticsReply> BoardSession::statistics(StatisticsRequest request) {
    return RequestStatistics(link_, fresh(), request);
}

OperationResult<> BoardSession::selectTrace(std::uint16_t mask) {
    DirectObserver& observer = fresh();
    // The mask goes into a header word, little-endian like every header word.
    observer.requestBytes = {std::uint8_t(mask & 0xFF), std::uint8_t(mask >> 8)};
    return SelectTrace(link_, observer);
}

OperationResult<TraceLines> BoardSession::pollTrace() {
    return PollTraceRecords(link_, fresh());
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

std::string FailureText(const DirectObserver& reports, Ending ending) {
    std::string text = LinkFailureText(reports.statuses, reports.errors);
    if (!text.empty()) return text;
    if (ending == Ending::NotOpened || ending == Ending::Failed) {
        return "the operation did not complete";
    }
    return {};
}

bool FoundNoBoard(const DirectObserver& reports) {
    return reports.errors.empty() && reports.hasStatus(LinkStatus::NoBoard) &&
           !reports.hasStatus(LinkStatus::AccessRefused);
}
