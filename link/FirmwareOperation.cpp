#include "link/FirmwareOperation.h"

#include <algorithm>
#include <cstring>

#include "link/BoardLink.h"
#include "config/Clock.h"
#include "link/SpiFlash.h"

namespace {
using Result = OperationResult<FirmwareDownload>;
using Step = OperationResult<>;

constexpr std::uint32_t kFullPageCapacity = SpiFlash::PageSize + SpiFlash::AddressedOverhead;
constexpr std::uint32_t kEraseSettleMs = 800;
constexpr std::size_t kBootBlock = 64;
constexpr std::size_t kShortRequestLength = kPacketHeaderSize + 1;
constexpr std::size_t kAddressedRequestLength = kPacketHeaderSize + SpiFlash::AddressedOverhead;

// A request of exactly 64, 128 or 192 bytes is one byte too many for the board.
bool needsShortening(std::uint32_t chunk) {
    return chunk == 52 || chunk == 116 || chunk == 180;
}

template <class To, class From>
To sameEnding(const From& from) {
    return {from.ending, {}, from.failure};
}

// The image into the flash, within the bounds of its pages and sectors. A sector is erased when
// programming reaches its first address, not before.
class FlashProgramming {
public:
    FlashProgramming(BoardLink& link, OperationObserver& observer, const FirmwareOptions& options)
        : link_(link), observer_(observer), options_(options) {}

    Result run() {
        // The smallest program request carries one image byte after the address. Not reached
        // today, since the size query refuses a capacity below the 16-byte identification
        // reply; kept so the chunk rule never goes negative.
        if (link_.capacity() <= SpiFlash::AddressedOverhead) {
            return sameEnding<Result>(failWith(LinkError::InvalidReply));
        }
        TransferData image;  // holds the image alive even if whoever handed it over goes away
        if (!observer_.started(BoardTransfer::Firmware)) return Result::stopped();
        if (!observer_.supply(image)) return Result::stopped();
        const std::uint32_t length = image.usableCount(UINT32_MAX);
        if (!observer_.identified(link_.ids())) return Result::stopped();
        if (!observer_.total(length)) return Result::stopped();

        if (Step step = programImage(image, length); !step.done()) return sameEnding<Result>(step);
        if (!observer_.finished(BoardTransfer::Firmware, bytesDone_)) return Result::stopped();
        return Result::doneWith({false, bytesDone_, erase_, program_});
    }

private:
    Step failWith(int result) {
        return Step::failedWith(link_.fail(observer_, {result, FailureReaction::Abandon}));
    }

    Step exchange(std::size_t length) {
        const int result = link_.exchange(length, K350Usb::DefaultTimeoutMs);
        return result < 0 ? failWith(result) : Step{};
    }

    Step programImage(const TransferData& image, std::uint32_t length) {
        for (;;) {
            if (Step ready = SpiFlash::WaitUntilReady(link_, observer_); !ready.done()) {
                return ready;
            }
            timeBusy();
            if (!observer_.progress(bytesDone_)) return Step::stopped();
            if (bytesDone_ >= length || address_ >= SpiFlash::ProgramLimit) return {};

            SpiFlash::SetRequest(link_, 0, 1, SpiFlash::WriteEnable);
            if (Step step = exchange(kShortRequestLength); !step.done()) return step;
            const bool atUnerasedSector = address_ % SpiFlash::SectorSize == 0 && !erased_;
            Step step = atUnerasedSector ? eraseSector() : programNextChunk(image, length);
            if (!step.done()) return step;
        }
    }

    Step eraseSector() {
        SpiFlash::SetRequest(link_, 0, SpiFlash::AddressedOverhead, SpiFlash::SectorErase);
        SpiFlash::SetAddress(link_, address_);
        if (Step step = exchange(kAddressedRequestLength); !step.done()) return step;
        busySince(erase_);
        if (!options_.pollInsteadOfPausing) link_.clock().sleepMs(kEraseSettleMs);
        erased_ = true;
        return {};
    }

    Step programNextChunk(const TransferData& image, std::uint32_t length) {
        const std::uint32_t chunk = nextChunk(length - bytesDone_);
        SpiFlash::SetRequest(link_, 0, std::uint16_t(chunk + SpiFlash::AddressedOverhead),
                             SpiFlash::PageProgram);
        SpiFlash::SetAddress(link_, address_);
        std::memcpy(link_.payload() + SpiFlash::AddressedOverhead, image.data + bytesDone_, chunk);
        if (Step step = exchange(kAddressedRequestLength + chunk); !step.done()) return step;
        busySince(program_);
        bytesDone_ += chunk;
        address_ += chunk;
        // Polling instead: the next pass's status poll waits exactly as long as the flash is busy.
        if (std::uint32_t pauseMs = chunk / SpiFlash::PageSize;
            pauseMs > 0 && !options_.pollInsteadOfPausing) {
            link_.clock().sleepMs(pauseMs);
        }
        return {};
    }

    // The next program chunk: within its page and its sector; reaching the sector's end means
    // the next sector still needs its erase.
    std::uint32_t nextChunk(std::uint32_t bytesLeft) {
        const std::uint32_t largest = link_.capacity() >= kFullPageCapacity
                                          ? SpiFlash::PageSize
                                          : link_.capacity() - SpiFlash::AddressedOverhead;
        std::uint32_t chunk = std::min(largest, SpiFlash::PageSize - address_ % SpiFlash::PageSize);
        chunk = std::min(chunk, bytesLeft);
        const std::uint32_t sectorEnd = (address_ / SpiFlash::SectorSize + 1) * SpiFlash::SectorSize;
        if (address_ + chunk >= sectorEnd) {
            chunk = sectorEnd - address_;
            erased_ = false;
        }
        if (needsShortening(chunk)) --chunk;
        return chunk;
    }

    // The flash is busy from the request just sent; the next status poll that finds it ready
    // ends the time. A fixed pause instead tells nothing of the flash.
    void busySince(FlashBusyTimes& kind) {
        if (!options_.pollInsteadOfPausing) return;
        busyKind_ = &kind;
        busySinceUs_ = link_.clock().nowUs();
    }
    void timeBusy() {
        if (!busyKind_) return;
        busyKind_->add(double(link_.clock().nowUs() - busySinceUs_) / 1000);
        busyKind_ = nullptr;
    }

    BoardLink& link_;
    OperationObserver& observer_;
    const FirmwareOptions& options_;
    FlashBusyTimes erase_, program_;
    FlashBusyTimes* busyKind_ = nullptr;
    std::int64_t busySinceUs_ = 0;
    std::uint32_t address_ = 0;
    std::uint32_t bytesDone_ = 0;
    bool erased_ = false;  // the sector being programmed has been erased
};

}  // namespace

void FlashBusyTimes::add(double ms) {
    ++count;
    totalMs += ms;
    maxMs = std::max(maxMs, ms);
}

namespace {

Step sendBootBlocks(BoardLink& link, OperationObserver& observer, const TransferData& image,
                    std::uint32_t length, std::uint32_t& bytesSent) {
    while (bytesSent < length) {
        const std::size_t block = std::min<std::size_t>(kBootBlock, length - bytesSent);
        const int result = link.writeRaw(K350Usb::EndpointBoot, image.data + bytesSent, block,
                                         K350Usb::DefaultTimeoutMs);
        if (result < 0) {
            return Step::failedWith(link.fail(observer, {result, FailureReaction::Abandon}));
        }
        bytesSent += std::uint32_t(block);
        if (!observer.progress(bytesSent)) return Step::stopped();
    }
    return {};
}

Result downloadInBootMode(BoardLink& link, OperationObserver& observer) {
    TransferData image;
    std::uint32_t bytesSent = 0;
    if (!observer.started(BoardTransfer::BootFirmware)) return Result::stopped();
    if (!observer.supply(image)) return Result::stopped();
    const std::uint32_t length = image.usableCount(UINT32_MAX);
    if (!observer.total(length)) return Result::stopped();
    if (Step step = sendBootBlocks(link, observer, image, length, bytesSent); !step.done()) {
        return sameEnding<Result>(step);
    }
    if (!observer.finished(BoardTransfer::BootFirmware, bytesSent)) return Result::stopped();
    return Result::doneWith({true, bytesSent});
}

// The board's boot loader takes the image raw; the link is closed afterwards whatever the
// outcome.
Result sendToBootLoader(BoardLink& link, OperationObserver& observer) {
    link.open(K350Usb::BootConfiguration, observer);
    if (!link.isOpen()) {
        observer.notOpened(FailureReaction::Abandon);
        return Result::notOpened();
    }
    Result result = downloadInBootMode(link, observer);
    link.close();
    return result;
}
}  // namespace

Result DownloadFirmware(BoardLink& link, OperationObserver& observer,
                        const FirmwareOptions& options) {
    if (link.openNormal(observer)) return FlashProgramming(link, observer, options).run();
    return sendToBootLoader(link, observer);
}
