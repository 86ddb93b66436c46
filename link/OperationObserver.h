// What a board operation reports while it runs, and where it asks whether to go on. The worker
// turns each call into the notifications of its windows; k350ctl keeps what it needs. Every call
// that returns a bool may end the operation: false stops it at that point, with no further
// transfer and the link left as it stands.
#pragma once

#include <cstdint>
#include <span>

#include "link/BoardTypes.h"

// The transfers that report their start and their end.
enum class BoardTransfer { ConfigRead, ConfigWrite, Firmware, BootFirmware };

// What a failure does besides reaching the log and closing the link.
enum class FailureReaction {
    None,            // nothing more (a failed statistics exchange)
    Abandon,         // the operation is given up: its window is closed (transfers, statistics)
    Stop,            // the requester is told to stop (live settings, trace selection)
    StopOnceClosed,  // the same, once the link is closed (trace poll, which may poll again at once)
};

// A failure that ended an operation: libusb's negative result or a LinkError, and its reaction.
struct Failure {
    int result = 0;
    FailureReaction reaction = FailureReaction::None;
};

class OperationObserver {
public:
    virtual ~OperationObserver() = default;

    // The link's reports while it opens the board (LinkStatus values 1, 2, 3 and 12).
    virtual bool linkStatus(int status) = 0;
    // The link did not open, so nothing was exchanged; `reaction` says what that means.
    virtual void notOpened(FailureReaction reaction) = 0;
    // A failure; the link is closed right after. False: nobody heard of it, so no reaction.
    virtual bool failed(const Failure& failure) = 0;

    virtual bool started(BoardTransfer kind) = 0;
    // Asks for the bytes to send; they must stay valid until the operation has ended.
    virtual bool supply(TransferData& data) = 0;
    // Asks for a request's own bytes (a live setting's payload, the trace mask), written into
    // `bytes` during the call.
    virtual bool fill(std::span<std::uint8_t> bytes) = 0;
    virtual bool identified(const DeviceIds& ids) = 0;
    virtual bool total(std::uint32_t bytes) = 0;
    virtual bool progress(std::uint32_t bytesDone) = 0;
    virtual bool finished(BoardTransfer kind, std::uint32_t bytes) = 0;

    // Asked in waits that could last (a busy flash, a long trace backlog): true ends them early.
    virtual bool cancelled() const = 0;
};
