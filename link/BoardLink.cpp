#include "link/BoardLink.h"

#include <usb.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "config/ByteOrder.h"
#include "link/UsbScan.h"

namespace {
constexpr std::uint16_t kIdentificationPayload = std::tuple_size_v<DeviceIds>;
constexpr std::size_t kSizeQueryLength = 4;       // words 0 and 1 only, and the reply as long
constexpr std::uint16_t kSizeQueryWord = 0x4000;  // word 1 of the buffer size query
constexpr std::uint16_t kIdentifyWord3 = 0x3800;  // word 3 of the identification request

// The kernel driver bound to the board's interface; empty when none is, or when what holds it is
// another program's claim (the kernel names that usbfs).
std::string KernelDriverHolding(usb_dev_handle* handle) {
    char name[256] = {};
    if (usb_get_driver_np(handle, K350Usb::Interface, name, sizeof name) != 0) return {};
    return std::string(name) == "usbfs" ? std::string() : std::string(name);
}
}  // namespace

void BoardLink::setLocation(const BoardLocation& location) {
    location_ = std::make_unique<BoardLocation>(location);
}

bool BoardLink::matchesLocation(const BoardLocation& location) const {
    return !location_ || location == *location_;
}

// The quick re-open takes the board it had open (or the chosen one) from the previous scan's
// list, wherever it stands on the bus, so polled operations do not rescan every time; the scan
// opens the first board in bus and device order that opens.
void BoardLink::open(int configuration, OperationObserver& observer) {
    // Several links on several threads share libusb's one device list.
    std::lock_guard lock(UsbListMutex());
    if (handle_) {
        struct usb_device* candidate = reopenCandidate();
        usb_close(handle_);
        handle_ = nullptr;
        if (candidate && openDevice(candidate, configuration, nullptr) == OpenOutcome::Opened) {
            return;
        }
    }
    accessRefused_ = false;
    interfaceDriver_.clear();
    RescanUsb();
    for (const ListedBoard& board : ListedBoards()) {
        if (!matchesLocation(board.location)) continue;
        // A board that cannot be opened is skipped; the first one that opens ends the scan,
        // whether it then takes the configuration or not.
        if (openDevice(board.device, configuration, &observer) != OpenOutcome::NotOpened) return;
    }
    reportNoBoard(observer);
}

// Call with the list locked.
struct usb_device* BoardLink::reopenCandidate() const {
    for (const ListedBoard& board : ListedBoards()) {
        if (location_ ? board.location == *location_ : board.device == openedDevice_) {
            return board.device;
        }
    }
    return nullptr;
}

// Opens, selects the configuration and claims interface 0; a refused configuration or
// interface is reported to `reportTo`, when given.
BoardLink::OpenOutcome BoardLink::openDevice(struct usb_device* device, int configuration,
                                             OperationObserver* reportTo) {
    usb_dev_handle* handle = usb_open(device);
    if (!handle) {
        // The 0.1 API leaves why in errno: a node without the udev rule's rights.
        if (errno == EACCES || errno == EPERM) accessRefused_ = true;
        return OpenOutcome::NotOpened;
    }
    if ((lastResult_ = usb_set_configuration(handle, configuration)) < 0) {
        if (reportTo) reportTo->linkStatus(LinkStatus::NoConfiguration);
        usb_close(handle);
        return OpenOutcome::Refused;
    }
    if ((lastResult_ = usb_claim_interface(handle, K350Usb::Interface)) < 0) {
        if (lastResult_ == -EBUSY) interfaceDriver_ = KernelDriverHolding(handle);
        if (reportTo) reportTo->linkStatus(LinkStatus::NoInterface);
        usb_close(handle);
        return OpenOutcome::Refused;
    }
    handle_ = handle;
    openedDevice_ = device;
    return OpenOutcome::Opened;
}

// No board opened; one that was there but refused access gets a line of its own.
void BoardLink::reportNoBoard(OperationObserver& observer) {
    if (!observer.linkStatus(LinkStatus::NoBoard)) return;
    if (accessRefused_) observer.linkStatus(LinkStatus::AccessRefused);
}

void BoardLink::query(OperationObserver& observer) {
    if (!handle_) return;
    buffer_.clear();

    std::uint8_t sizeBlock[kSizeQueryLength] = {
        std::uint8_t(Command::BufferSize & 0xFF), std::uint8_t(Command::BufferSize >> 8),
        std::uint8_t(kSizeQueryWord & 0xFF), std::uint8_t(kSizeQueryWord >> 8)};
    int result =
        writeRaw(K350Usb::EndpointOut, sizeBlock, kSizeQueryLength, K350Usb::DefaultTimeoutMs);
    if (result >= 0) {
        result = lastResult_ =
            usb_bulk_read(handle_, K350Usb::EndpointIn, reinterpret_cast<char*>(sizeBlock),
                          int(kSizeQueryLength), K350Usb::DefaultTimeoutMs);
    }
    if (result < 0) {
        fail(observer, {result});
        return;
    }
    const std::uint16_t capacity = ReadLittleEndian(&sizeBlock[2]);
    // A board that cannot even carry the identification reply has no usable size.
    if (result < int(kSizeQueryLength) || capacity < kIdentificationPayload) {
        fail(observer, {LinkError::InvalidReply});
        return;
    }

    buffer_.assign(capacity + kPacketHeaderSize, 0);

    setHeader(Command::Identify, kIdentificationPayload, 0, kIdentifyWord3);
    result = exchange(kPacketHeaderSize, K350Usb::DefaultTimeoutMs);
    // A reply too short to carry word 0 would leave the request's own code to be read back.
    if (result >= 0 && (result < 2 || word(0) != Command::Identify)) {
        result = LinkError::InvalidReply;
    }
    if (result >= 0 && wholeIdentification_ &&
        result < int(kPacketHeaderSize + kIdentificationPayload)) {
        result = LinkError::InvalidReply;
    }
    if (result < 0) {
        fail(observer, {result});
        return;
    }
    // A reply too short to hold both IDs leaves the rest zero rather than stale.
    std::fill(ids_.begin(), ids_.end(), 0);
    std::size_t available = std::min<std::size_t>(result, buffer_.size());
    for (std::size_t i = 0; i < ids_.size() && kPacketHeaderSize + i < available; ++i) {
        ids_[i] = buffer_[kPacketHeaderSize + i];
    }
}

void BoardLink::close() {
    if (handle_) {
        usb_release_interface(handle_, K350Usb::Interface);
        usb_close(handle_);
        handle_ = nullptr;
    }
    ids_.fill(0);
}

bool BoardLink::openNormal(OperationObserver& observer) {
    open(K350Usb::NormalConfiguration, observer);
    query(observer);
    return isOpen();
}

bool BoardLink::openNormal(OperationObserver& observer, FailureReaction ifNotOpened) {
    if (openNormal(observer)) return true;
    observer.notOpened(ifNotOpened);
    return false;
}

// After a failed transfer the board's state is unknown: the link is closed even when nobody
// hears of the failure.
Failure BoardLink::fail(OperationObserver& observer, Failure failure) {
    observer.failed(failure);
    close();
    return failure;
}

void BoardLink::drainAndClose() {
    if (handle_ && !buffer_.empty()) readReply(K350Usb::PolledTimeoutMs);
    close();
}

// --- exchange ----------------------------------------------------------------

void BoardLink::setWord(int index, std::uint16_t value) {
    std::size_t at = std::size_t(index) * 2;
    if (at + 1 >= buffer_.size()) return;
    WriteLittleEndian(&buffer_[at], value);
}

void BoardLink::setHeader(std::uint16_t command, std::uint16_t first, std::uint16_t second,
                          std::uint16_t third) {
    setWord(0, command);
    setWord(1, first);
    setWord(2, second);
    setWord(3, third);
}

std::uint16_t BoardLink::word(int index) const {
    std::size_t at = std::size_t(index) * 2;
    if (at + 1 >= buffer_.size()) return 0;
    return ReadLittleEndian(&buffer_[at]);
}

int BoardLink::writeRaw(int endpoint, const std::uint8_t* bytes, std::size_t length,
                        int timeoutMs) {
    lastResult_ = usb_bulk_write(handle_, endpoint, reinterpret_cast<const char*>(bytes),
                                 int(length), timeoutMs);
    return lastResult_;
}

int BoardLink::writeRequest(std::size_t length, int timeoutMs) {
    return writeRaw(K350Usb::EndpointOut, buffer_.data(), std::min(length, buffer_.size()),
                    timeoutMs);
}

int BoardLink::readReply(int timeoutMs) {
    lastResult_ =
        usb_bulk_read(handle_, K350Usb::EndpointIn, reinterpret_cast<char*>(buffer_.data()),
                      int(buffer_.size()), timeoutMs);
    return lastResult_;
}

int BoardLink::exchange(std::size_t length, int timeoutMs) {
    int result = writeRequest(length, timeoutMs);
    if (result < 0) return result;
    return readReply(timeoutMs);
}
