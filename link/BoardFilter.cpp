// OpenLink restricted to one board by its location (k350ctl's workers, one per board), and the
// flash read-back that its verify uses.
#include <usb.h>

#include <algorithm>
#include <cstring>

#include "link/BoardLocation.h"
#include "link/K350Task.h"
#include "link/UsbScan.h"

namespace {
constexpr std::uint8_t kFlashRead = 0x03;
constexpr std::size_t kFlashReadRequestLength = kPacketHeaderSize + 4;
}  // namespace

void TK350::setBoardLocation(const BoardLocation& location) {
    location_ = std::make_unique<BoardLocation>(location);
}

// The board at the chosen location in the current list; call with the list locked.
struct usb_device* TK350::listedBoard() const {
    for (const ListedBoard& board : ListedBoards()) {
        if (board.location == *location_) return board.device;
    }
    return nullptr;
}

// Like the terminal's OpenLink, but only ever the chosen board: the quick re-open takes it from
// the list of the previous scan wherever it stands, and the scan opens nothing else.
void TK350::openChosenBoard(int configuration) {
    std::lock_guard lock(UsbListMutex());
    if (handle_) {
        struct usb_device* device = listedBoard();
        usb_close(handle_);
        handle_ = nullptr;
        if (device && openBoard(device, configuration, false) == OpenOutcome::Opened) return;
    }
    accessRefused_ = false;
    RescanUsb();
    struct usb_device* device = listedBoard();
    if (device && openBoard(device, configuration, true) != OpenOutcome::NotOpened) return;
    reportNoBoard();
}

int TK350::ReadFlash(std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    if (!openNormalLink()) return LinkError::InvalidReply;
    // The last program cycle may still run.
    if (waitForFlashReady() != Step::Go) return lastResult_ < 0 ? lastResult_ : LinkError::Timeout;
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint32_t chunk = std::min<std::uint32_t>({capacity(), count - done, 0xFFFF});
        const std::uint32_t at = address + done;
        setFlashRequest(std::uint16_t(chunk), 4, kFlashRead);
        setFlashAddress(at);
        int result = exchange(kFlashReadRequestLength, K350Usb::DefaultTimeoutMs);
        if (result >= 0 && std::uint32_t(result) < kPacketHeaderSize + chunk) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) {
            fail(result);
            return result;
        }
        std::memcpy(out + done, payload(), chunk);
        done += chunk;
    }
    return 0;
}
