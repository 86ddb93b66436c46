// The USB link to one board: finding and opening it (the scan and the quick re-open), the size
// and identification queries, and the command packet exchange through the exchange buffer.
// Every board operation runs on one; the worker owns one, and so does each of k350ctl's boards.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/BoardLocation.h"
#include "link/BoardTypes.h"
#include "link/OperationObserver.h"
#include "link/UsbProtocol.h"

class Clock;
struct usb_dev_handle;
struct usb_device;

class BoardLink {
public:
    explicit BoardLink(Clock& clock) : clock_(clock) {}
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    // From now on only the board at this location is opened (k350ctl, one link per board). The
    // terminal never sets one and keeps the first board that opens.
    void setLocation(const BoardLocation& location);
    // k350ctl only: an identification reply too short to hold both IDs is invalid (-1), so
    // nothing is ever keyed on IDs the board did not send; the terminal does not examine the
    // reply's length.
    void requireWholeIdentification() { wholeIdentification_ = true; }

    // OpenLink: the quick re-open of the board it had open, else a scan for the first board
    // that opens. Refusals are reported through `observer.linkStatus`.
    void open(int configuration, OperationObserver& observer);
    // QueryLink: the buffer size and the DeviceIds; a failure is reported and closes the link.
    void query(OperationObserver& observer);
    // CloseLink: releases the board, if open, and zeroes the DeviceIds.
    void close();
    // Open and identify, as every normal-mode operation starts: true when the link is open.
    bool openNormal(OperationObserver& observer);
    // The same for an operation that tells its observer when the board did not open, and how
    // the observer is to take that.
    bool openNormal(OperationObserver& observer, FailureReaction ifNotOpened);
    // The one failure path: reported, then the link is closed.
    Failure fail(OperationObserver& observer, Failure failure);
    // What the worker's exit sequence does: a reply the board may still hold is drained, so
    // it starts clean next time, and the link is closed.
    void drainAndClose();

    bool isOpen() const { return handle_ != nullptr; }
    const DeviceIds& ids() const { return ids_; }
    std::uint32_t bufferSize() const { return std::uint32_t(buffer_.size()); }
    std::uint32_t capacity() const {
        return buffer_.size() >= kPacketHeaderSize
                   ? std::uint32_t(buffer_.size() - kPacketHeaderSize)
                   : 0;
    }
    int lastResult() const { return lastResult_; }
    // The kernel driver that held the interface when this scan's claim was refused as busy;
    // empty when another program held it, or no claim was refused.
    const std::string& interfaceDriver() const { return interfaceDriver_; }
    Clock& clock() { return clock_; }

    // The exchange buffer holds the request and, after the read, the reply. Words and bytes
    // outside it are never written; a word outside it reads as 0.
    std::span<std::uint8_t> buffer() { return buffer_; }
    std::uint8_t* payload() { return buffer_.data() + kPacketHeaderSize; }
    void setWord(int index, std::uint16_t value);
    // All four header words: the command and its three parameters.
    void setHeader(std::uint16_t command, std::uint16_t first, std::uint16_t second,
                   std::uint16_t third);
    std::uint16_t word(int index) const;
    // Request then reply; returns the first negative result, or the reply length.
    int exchange(std::size_t length, int timeoutMs);
    int writeRaw(int endpoint, const std::uint8_t* bytes, std::size_t length, int timeoutMs);

private:
    enum class OpenOutcome { NotOpened, Refused, Opened };
    OpenOutcome openDevice(struct usb_device* device, int configuration,
                           OperationObserver* reportTo);
    struct usb_device* reopenCandidate() const;
    bool matchesLocation(const BoardLocation& location) const;
    void reportNoBoard(OperationObserver& observer);
    int writeRequest(std::size_t length, int timeoutMs);
    int readReply(int timeoutMs);

    Clock& clock_;
    usb_dev_handle* handle_ = nullptr;
    struct usb_device* openedDevice_ = nullptr;  // the list entry handle_ was opened from
    bool accessRefused_ = false;                 // a board's node refused us in this scan
    std::string interfaceDriver_;
    int lastResult_ = 0;
    std::vector<std::uint8_t> buffer_;
    DeviceIds ids_{};
    std::unique_ptr<BoardLocation> location_;  // set by k350ctl only
    bool wholeIdentification_ = false;         // set by k350ctl only
};
