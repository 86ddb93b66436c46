// TK350: the worker thread that alone owns the USB link to the board.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/BoardLocation.h"
#include "link/Clock.h"
#include "link/LinkTypes.h"
#include "link/NotificationChannel.h"
#include "link/RequestEvents.h"

struct usb_dev_handle;

// USB identity and endpoints of the board.
namespace K350Usb {
constexpr int VendorId = 0x0451;
constexpr int ProductId = 0x9001;
constexpr int NormalConfiguration = 2;
constexpr int BootConfiguration = 1;
constexpr int Interface = 0;
constexpr int EndpointOut = 0x01;
constexpr int EndpointIn = 0x81;
constexpr int EndpointBoot = 0x06;
constexpr int DefaultTimeoutMs = 1000;
constexpr int PolledTimeoutMs = 100;  // statistics, trace poll and the read at shutdown
}  // namespace K350Usb

// Command codes of the CommandPacket header word 0.
namespace Command {
constexpr std::uint16_t BufferSize = 0;
constexpr std::uint16_t Identify = 1;
constexpr std::uint16_t SpiFlash = 2;
constexpr std::uint16_t I2c = 3;
constexpr std::uint16_t Recorder = 4;
constexpr std::uint16_t TraceSelect = 5;
constexpr std::uint16_t TracePoll = 6;
constexpr std::uint16_t Vocoder = 7;
constexpr std::uint16_t Statistics = 8;
}  // namespace Command

constexpr std::size_t kPacketHeaderSize = 8;

class TK350 {
public:
    TK350(NotificationChannel& channel, Clock& clock);
    // Shares ownership of what it uses, so a worker left to finish on its own
    // never reaches a channel or clock destroyed before it.
    TK350(std::shared_ptr<NotificationChannel> channel, std::shared_ptr<Clock> clock);
    ~TK350();  // stops the thread, if running, and waits for its exit sequence
    TK350(const TK350&) = delete;
    TK350& operator=(const TK350&) = delete;

    // Thread control.
    void start();  // runs the loop on its own thread, one step below normal priority
    void requestStop();
    bool waitForExit(std::chrono::milliseconds limit);
    bool hasExited() const { return exited_.load(); }
    bool stopRequested() const { return stop_.load(); }
    bool isRunning() const { return thread_.joinable(); }
    // Lets the thread finish on its own; the object must then outlive it.
    void detach() { thread_.detach(); }

    // Requests, safe from any thread.
    // The requester is the generation of the window that asks; the operation
    // then talks only to that window of its class.
    void signal(WorkerRequest request, WindowGeneration requester = kAnyGeneration) {
        events_.signal(request, requester);
    }
    void reset(WorkerRequest request) { events_.reset(request); }
    bool isSignalled(WorkerRequest request) const { return events_.isSignalled(request); }

    // One pass of the loop without the sleep: takes the lowest signalled
    // request and runs it. For tests that drive the worker synchronously.
    bool runOnePass();
    void runOperation(WorkerRequest request, WindowGeneration requester = kAnyGeneration);
    void runExitSequence();

    // k350ctl only: from now on OpenLink uses the board at this location and no other. The
    // terminal never calls it and keeps the first board that opens.
    void setBoardLocation(const BoardLocation& location);
    // k350ctl only: reads `count` bytes of the flash from `address` into `out` within the
    // operation frame; 0, or the negative result that closed the link.
    int ReadFlash(std::uint32_t address, std::uint32_t count, std::uint8_t* out);
    // k350ctl only: after each sector erase and page program the download polls the flash's
    // status at once instead of pausing 800 ms and 1 ms first; the terminal keeps the pauses.
    void setFlashPolling(bool poll) { pollFlash_ = poll; }

    // Link layer.
    void OpenLink(int configuration);
    void QueryLink();
    void CloseLink();

    // The eleven operations.
    void ReadConfig();
    void WriteConfig();
    void LoadFirmware();
    void ReadStatistics();
    void ResetStatistics();
    void SendCodec();
    void SendAmplifier();
    void SendVocoder();
    void SendRecorder();
    void SetTrace();
    void PollTrace();

    // State, for tests and diagnostics (worker thread, or while it is idle).
    bool isLinkOpen() const { return handle_ != nullptr; }
    const DeviceIds& deviceIds() const { return ids_; }
    std::uint32_t bufferSize() const { return std::uint32_t(buffer_.size()); }
    std::uint32_t capacity() const {
        return buffer_.size() >= kPacketHeaderSize
                   ? std::uint32_t(buffer_.size() - kPacketHeaderSize)
                   : 0;
    }
    int lastResult() const { return lastResult_; }

private:
    void threadBody();
    void lowerThreadPriority();
    bool tryQuickReopen(int configuration);
    static bool isListed(const struct usb_device* device);
    void reportNoBoard();
    enum class OpenOutcome { NotOpened, Refused, Opened };
    OpenOutcome openBoard(struct usb_device* device, int configuration, bool reportFailures);
    void scanForBoard(int configuration);
    void openChosenBoard(int configuration);
    struct usb_device* listedBoard() const;

    // Exchange helpers: the buffer holds the request and, after the read, the reply.
    std::uint8_t* payload() { return buffer_.data() + kPacketHeaderSize; }
    void setWord(int index, std::uint16_t value);
    std::uint16_t word(int index) const;
    int writeRequest(std::size_t length, int timeoutMs);
    int readReply(int timeoutMs);
    // Request then reply; returns the first negative result, or the reply length.
    int exchange(std::size_t length, int timeoutMs);
    int writeRaw(int endpoint, const std::uint8_t* bytes, std::size_t length, int timeoutMs);

    // Guarded notifications: false means the window is gone and the operation ends.
    bool notify(WindowId to, std::uint32_t code, std::intptr_t value);
    bool notifyMain(std::uint32_t code, std::intptr_t value) {
        return notify(WindowId::FDevice, code, value);
    }
    bool closeWindow(WindowId window) {
        return channel_.requestClose(window, generationOf(window));
    }
    // The operation's own window is addressed by the generation that asked for it.
    WindowGeneration generationOf(WindowId window) const {
        return window == requester_.window ? requester_.generation : kAnyGeneration;
    }
    void dispatch(WorkerRequest request);
    // What a failure does besides logging the error and closing the link:
    // nothing more; close the operation's window (transfers, statistics); tell
    // it to stop (live settings, trace selection); or tell it to stop only once
    // the link is closed (trace poll, whose window may poll again at once).
    enum class FailureReaction { LogOnly, CloseWindow, StopWindow, StopWindowOnceClosed };
    // The one failure path: error to the log, the link closed and, when the log
    // took the error, the reaction on `window`.
    void fail(int result, FailureReaction reaction = FailureReaction::LogOnly,
              WindowId window = WindowId::FDevice);
    void react(FailureReaction reaction, WindowId window);
    // Opens and queries the link in configuration 2; true when it is open.
    bool openNormalLink();
    // Opens the link; when it does not open, the reaction on the operation's window.
    bool openLinkOr(FailureReaction reaction, WindowId window);

    // Helpers of the configuration operations (link/ConfigOps.cpp).
    // How many of the window's bytes may be read: at most `limit`, never past `owner`.
    static std::uint32_t usableCount(const TransferData& transfer, std::uint32_t limit);
    void setEepromRequest(std::uint16_t readCount, std::uint16_t writeCount, std::uint16_t address);
    bool readConfigChunks(std::uint8_t* image, std::uint32_t& bytesDone);
    bool writeConfigChunks(const TransferData& transfer, std::uint32_t count,
                           std::uint32_t& bytesDone);

    // Helpers of the firmware download (link/FirmwareOps.cpp).
    enum class Step { Go, Failed, Ended };  // Ended: a closed window ended the operation
    void setFlashRequest(std::uint16_t readCount, std::uint16_t writeCount,
                         std::uint8_t instruction);
    void setFlashAddress(std::uint32_t address);
    Step flashExchange(std::size_t length);
    Step waitForFlashReady();
    std::uint32_t programChunk(std::uint32_t address, std::uint32_t bytesLeft, bool& erased) const;
    Step programImage(const TransferData& image, std::uint32_t length, std::uint32_t& bytesDone);
    struct FlashCursor {
        std::uint32_t address = 0;
        bool erased = false;  // the sector being programmed has been erased
    };
    Step eraseSector(FlashCursor& cursor);
    Step programNextChunk(const TransferData& image, std::uint32_t length, FlashCursor& cursor,
                          std::uint32_t& bytesDone);
    void programFlash();
    void downloadToBootLoader();
    Step sendBootBlocks(const TransferData& image, std::uint32_t length, std::uint32_t& bytesSent);

    // Helpers of the live settings operations (link/LiveOps.cpp).
    // One live setting: the window's payload at request byte 8, then the request.
    // An I2C write fills words 1 to 3 (read count 0, write count, slave); a device
    // command writes only word 0 and leaves the others as the previous reply left them.
    struct LiveSetting {
        WindowId window;
        WorkerRequest request;
        std::uint16_t command;
        std::uint16_t slave;  // I2C writes only
        std::size_t payloadLength() const { return LivePayloadLength(request); }
    };
    void sendLiveSetting(const LiveSetting& setting);
    void fillLiveHeader(const LiveSetting& setting);

    // Helpers of the statistics and trace operations (link/MonitorOps.cpp).
    void requestStatistics(std::uint16_t keepCounters);
    const LinkStatisticsReply& takeStatistics(std::size_t replyLength);
    // Makes the line of one trace record of `length` payload bytes; returns the
    // number of traced bytes it carried.
    int appendTraceLine(int length);
    std::string traceLinePrefix(std::uint16_t recordType);

    std::shared_ptr<NotificationChannel> channelOwner_;
    std::shared_ptr<Clock> clockOwner_;
    NotificationChannel& channel_;
    Clock& clock_;
    RequestEvents events_;
    struct Requester {
        WindowId window = WindowId::FDevice;
        WindowGeneration generation = kAnyGeneration;
    };
    Requester requester_;  // of the operation under way

    usb_dev_handle* handle_ = nullptr;
    struct usb_device* openedDevice_ = nullptr;  // the list entry handle_ was opened from
    bool accessRefused_ = false;                 // a board's node refused us in this scan
    int lastResult_ = 0;
    std::vector<std::uint8_t> buffer_;
    DeviceIds ids_{};
    std::vector<std::string> traceLines_;
    std::unique_ptr<BoardLocation> location_;  // set by k350ctl only
    bool pollFlash_ = false;                   // set by k350ctl only
    LinkStatisticsReply statistics_;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> exited_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};
