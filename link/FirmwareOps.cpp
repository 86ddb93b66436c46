// LoadFirmware: the image into the board's SPI flash page by page, or, when
// the board only answers in boot mode, raw to its boot loader.
#include <algorithm>
#include <cstring>

#include "link/K350Task.h"

namespace {
constexpr std::uint16_t kFlashChipSelect = 4;
constexpr std::uint8_t kStatusRead = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kSectorErase = 0xD8;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kBusyBit = 0x01;

constexpr std::uint32_t kPageSize = 256;
constexpr std::uint32_t kSectorSize = 0x8000;
constexpr std::uint32_t kFlashLimit = 0x20000;  // nothing at or beyond it is written
constexpr std::uint32_t kProgramOverhead = 4;   // instruction and 24-bit address
constexpr std::uint32_t kFullPageCapacity = kPageSize + kProgramOverhead;
constexpr std::uint32_t kEraseSettleMs = 800;
constexpr std::int64_t kReadyLimitUs = 10'000'000;
constexpr std::size_t kBootBlock = 64;

constexpr std::size_t kShortRequestLength = kPacketHeaderSize + 1;
constexpr std::size_t kEraseRequestLength = kPacketHeaderSize + kProgramOverhead;
constexpr std::size_t kStatusReplyLength = kPacketHeaderSize + 1;

std::intptr_t addressValue(const void* address) {
    return reinterpret_cast<std::intptr_t>(address);
}

// A request of exactly 64, 128 or 192 bytes is one byte too many for the board.
bool needsShortening(std::uint32_t chunk) {
    return chunk == 52 || chunk == 116 || chunk == 180;
}
}  // namespace

void TK350::LoadFirmware() {
    if (openNormalLink()) return programFlash();
    downloadToBootLoader();
}

void TK350::setFlashRequest(std::uint16_t readCount, std::uint16_t writeCount,
                            std::uint8_t instruction) {
    setWord(0, Command::SpiFlash);
    setWord(1, readCount);
    setWord(2, writeCount);
    setWord(3, kFlashChipSelect);
    payload()[0] = instruction;
}

void TK350::setFlashAddress(std::uint32_t address) {
    payload()[1] = std::uint8_t(address >> 16);
    payload()[2] = std::uint8_t(address >> 8);
    payload()[3] = std::uint8_t(address);
}

TK350::Step TK350::flashExchange(std::size_t length) {
    const int result = exchange(length, K350Usb::DefaultTimeoutMs);
    if (result >= 0) return Step::Go;
    fail(result, FailureReaction::CloseWindow, WindowId::FFlash);
    return Step::Failed;
}

// Polls back to back while the flash is busy, for at most ten seconds.
TK350::Step TK350::waitForFlashReady() {
    const std::int64_t startUs = clock_.nowUs();
    for (;;) {
        setFlashRequest(1, 1, kStatusRead);
        int result = exchange(kShortRequestLength, K350Usb::DefaultTimeoutMs);
        // Without its status byte the reply would show the request's own byte.
        if (result >= 0 && std::size_t(result) < kStatusReplyLength) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) {
            fail(result, FailureReaction::CloseWindow, WindowId::FFlash);
            return Step::Failed;
        }
        if ((payload()[0] & kBusyBit) == 0) return Step::Go;
        // A flash that stays busy must not hold up the exit sequence.
        if (stopRequested()) return Step::Ended;
        if (clock_.nowUs() - startUs > kReadyLimitUs) {
            fail(LinkError::Timeout, FailureReaction::CloseWindow, WindowId::FFlash);
            return Step::Failed;
        }
    }
}

void TK350::programFlash() {
    // The smallest program request carries one image byte after the address.
    // Not reached today, since the size query refuses a capacity below the
    // 16-byte identification reply; kept so the chunk rule never goes negative.
    if (capacity() <= kProgramOverhead) {
        return fail(LinkError::InvalidReply, FailureReaction::CloseWindow, WindowId::FFlash);
    }
    TransferData image;  // holds the image alive even if the window closes
    if (!notifyMain(NotifyCode::Status, LinkStatus::FirmwareStarted)) return;
    if (!notify(WindowId::FFlash, NotifyCode::FillData, addressValue(&image))) return;
    const std::uint32_t length = usableCount(image, UINT32_MAX);
    if (!notify(WindowId::FFlash, NotifyCode::DieId, addressValue(ids_.data()))) return;
    if (!notify(WindowId::FFlash, NotifyCode::ChipId, addressValue(ids_.data() + 8))) return;
    if (!notify(WindowId::FFlash, NotifyCode::Total, length)) return;

    std::uint32_t bytesDone = 0;
    if (programImage(image, length, bytesDone) != Step::Go) return;

    if (!notify(WindowId::FFlash, NotifyCode::Done, bytesDone)) return;
    if (!notifyMain(NotifyCode::Status, LinkStatus::FirmwareFinished)) return;
    notifyMain(NotifyCode::BytesSent, bytesDone);
}

// A sector is erased when programming reaches its first address, not before.
TK350::Step TK350::programImage(const TransferData& image, std::uint32_t length,
                                std::uint32_t& bytesDone) {
    FlashCursor cursor;
    for (;;) {
        if (Step step = waitForFlashReady(); step != Step::Go) return step;
        if (!notify(WindowId::FFlash, NotifyCode::Progress, bytesDone)) return Step::Ended;
        if (bytesDone >= length || cursor.address >= kFlashLimit) return Step::Go;

        setFlashRequest(0, 1, kWriteEnable);
        if (Step step = flashExchange(kShortRequestLength); step != Step::Go) return step;
        const bool atUnerasedSector = cursor.address % kSectorSize == 0 && !cursor.erased;
        Step step = atUnerasedSector ? eraseSector(cursor)
                                     : programNextChunk(image, length, cursor, bytesDone);
        if (step != Step::Go) return step;
    }
}

TK350::Step TK350::eraseSector(FlashCursor& cursor) {
    setFlashRequest(0, kProgramOverhead, kSectorErase);
    setFlashAddress(cursor.address);
    if (Step step = flashExchange(kEraseRequestLength); step != Step::Go) return step;
    if (!pollFlash_) clock_.sleepMs(kEraseSettleMs);
    cursor.erased = true;
    return Step::Go;
}

TK350::Step TK350::programNextChunk(const TransferData& image, std::uint32_t length,
                                    FlashCursor& cursor, std::uint32_t& bytesDone) {
    const std::uint32_t chunk = programChunk(cursor.address, length - bytesDone, cursor.erased);
    setFlashRequest(0, std::uint16_t(chunk + kProgramOverhead), kPageProgram);
    setFlashAddress(cursor.address);
    std::memcpy(payload() + kProgramOverhead, image.data + bytesDone, chunk);
    if (Step step = flashExchange(kEraseRequestLength + chunk); step != Step::Go) return step;
    bytesDone += chunk;
    cursor.address += chunk;
    // Polling instead: the next pass's status poll waits exactly as long as the flash is busy.
    if (std::uint32_t pauseMs = chunk / kPageSize; pauseMs > 0 && !pollFlash_) {
        clock_.sleepMs(pauseMs);
    }
    return Step::Go;
}

// The next program chunk: within its page and its sector; reaching the sector's
// end means the next sector still needs its erase.
std::uint32_t TK350::programChunk(std::uint32_t address, std::uint32_t bytesLeft,
                                  bool& erased) const {
    const std::uint32_t largest =
        capacity() >= kFullPageCapacity ? kPageSize : capacity() - kProgramOverhead;
    std::uint32_t chunk = std::min(largest, kPageSize - address % kPageSize);
    chunk = std::min(chunk, bytesLeft);
    const std::uint32_t sectorEnd = (address / kSectorSize + 1) * kSectorSize;
    if (address + chunk >= sectorEnd) {
        chunk = sectorEnd - address;
        erased = false;
    }
    if (needsShortening(chunk)) --chunk;
    return chunk;
}

// Boot mode: the board's boot loader takes the image raw; the link is closed
// afterwards whatever the outcome.
void TK350::downloadToBootLoader() {
    OpenLink(K350Usb::BootConfiguration);
    if (!isLinkOpen()) {
        closeWindow(WindowId::FFlash);
        return;
    }
    TransferData image;
    std::uint32_t bytesSent = 0;
    if (notifyMain(NotifyCode::Status, LinkStatus::BootStarted) &&
        notify(WindowId::FFlash, NotifyCode::FillData, addressValue(&image))) {
        const std::uint32_t length = usableCount(image, UINT32_MAX);
        if (notify(WindowId::FFlash, NotifyCode::Total, length) &&
            sendBootBlocks(image, length, bytesSent) == Step::Go &&
            notify(WindowId::FFlash, NotifyCode::Done, bytesSent) &&
            notifyMain(NotifyCode::Status, LinkStatus::BootFinished)) {
            notifyMain(NotifyCode::BytesSent, bytesSent);
        }
    }
    CloseLink();
}

TK350::Step TK350::sendBootBlocks(const TransferData& image, std::uint32_t length,
                                  std::uint32_t& bytesSent) {
    while (bytesSent < length) {
        const std::size_t block = std::min<std::size_t>(kBootBlock, length - bytesSent);
        const int result = writeRaw(K350Usb::EndpointBoot, image.data + bytesSent, block,
                                    K350Usb::DefaultTimeoutMs);
        if (result < 0) {
            fail(result, FailureReaction::CloseWindow, WindowId::FFlash);
            return Step::Failed;
        }
        bytesSent += std::uint32_t(block);
        if (!notify(WindowId::FFlash, NotifyCode::Progress, bytesSent)) return Step::Ended;
    }
    return Step::Go;
}
