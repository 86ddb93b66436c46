// The observer of a caller that runs the board operations itself (k350ctl, its station, the
// board probe): it keeps what the link reported, hands over the bytes it was given, and passes
// the progress on. Nothing it is told can stop an operation except the approval and the
// cancellation it was given; once cancelled, every "go on?" of the operation is answered no, so
// a download ends at its next page and a wait at its next poll.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/OperationObserver.h"

class DirectObserver : public OperationObserver {
public:
    // Handed over when an operation asks for the bytes to send.
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    // Asked before they are handed over; false ends the operation with nothing sent.
    std::function<bool()> approveTransfer;
    // Written into a request's own bytes (a live setting's payload; the trace mask,
    // little-endian), as many as fit.
    std::vector<std::uint8_t> requestBytes;
    std::function<void(std::uint32_t done, std::uint32_t total)> onProgress;
    std::function<bool()> isCancelled;

    // What the link reported during the operations since the last clear.
    std::vector<int> statuses;  // LinkStatus values
    std::vector<int> errors;    // libusb results and LinkError values
    std::uint32_t totalBytes = 0;
    bool hasStatus(int status) const;
    void clearReports();

    bool linkStatus(int status) override;
    void notOpened(FailureReaction) override {}
    bool failed(const Failure& failure) override;
    bool started(BoardTransfer) override { return !cancelled(); }
    bool supply(TransferData& data) override;
    bool fill(std::span<std::uint8_t> target) override;
    bool identified(const DeviceIds&) override { return !cancelled(); }
    bool total(std::uint32_t bytes) override;
    bool progress(std::uint32_t bytesDone) override;
    bool finished(BoardTransfer, std::uint32_t) override { return !cancelled(); }
    bool cancelled() const override { return isCancelled && isCancelled(); }
};
