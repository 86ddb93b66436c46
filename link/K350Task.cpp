#include "link/K350Task.h"

#include <sys/resource.h>
#include <unistd.h>
#include <usb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/UsbScan.h"

namespace {
constexpr std::chrono::milliseconds kPollInterval{50};
constexpr std::uint16_t kIdentificationPayload = std::tuple_size_v<DeviceIds>;
constexpr std::size_t kSizeQueryLength = 4;       // words 0 and 1 only, and the reply as long
constexpr std::uint16_t kSizeQueryWord = 0x4000;  // word 1 of the buffer size query
constexpr std::uint16_t kIdentifyWord3 = 0x3800;  // word 3 of the identification request
}  // namespace

TK350::TK350(NotificationChannel& channel, Clock& clock) : channel_(channel), clock_(clock) {}

TK350::TK350(std::shared_ptr<NotificationChannel> channel, std::shared_ptr<Clock> clock)
    : channelOwner_(std::move(channel)),
      clockOwner_(std::move(clock)),
      channel_(*channelOwner_),
      clock_(*clockOwner_) {}

TK350::~TK350() {
    requestStop();
    if (thread_.joinable()) thread_.join();
}

// --- thread ------------------------------------------------------------------

void TK350::start() {
    thread_ = std::thread([this] { threadBody(); });
}

void TK350::requestStop() {
    {
        std::lock_guard lock(wakeMutex_);
        stop_.store(true);
    }
    wake_.notify_all();
}

bool TK350::waitForExit(std::chrono::milliseconds limit) {
    std::unique_lock lock(wakeMutex_);
    return wake_.wait_for(lock, limit, [this] { return exited_.load(); });
}

void TK350::lowerThreadPriority() {
    // Linux applies nice values per thread: one step below the process's own.
    errno = 0;
    int current = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, gettid(), current + 1);
}

void TK350::threadBody() {
    lowerThreadPriority();
    while (!stop_.load()) {
        {
            std::unique_lock lock(wakeMutex_);
            wake_.wait_for(lock, kPollInterval, [this] { return stop_.load(); });
        }
        if (stop_.load()) break;
        runOnePass();
    }
    runExitSequence();
    {
        std::lock_guard lock(wakeMutex_);
        exited_.store(true);
    }
    wake_.notify_all();
}

bool TK350::runOnePass() {
    auto taken = events_.takeLowest();
    if (!taken) return false;
    runOperation(taken->request, taken->requester);
    return true;
}

void TK350::runOperation(WorkerRequest request, WindowGeneration requester) {
    requester_ = {RequesterOf(request), requester};
    dispatch(request);
    requester_ = {};
}

void TK350::dispatch(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::ReadConfig:
            return ReadConfig();
        case WorkerRequest::WriteConfig:
            return WriteConfig();
        case WorkerRequest::LoadFirmware:
            return LoadFirmware();
        case WorkerRequest::ReadStatistics:
            return ReadStatistics();
        case WorkerRequest::ResetStatistics:
            return ResetStatistics();
        case WorkerRequest::SendCodec:
            return SendCodec();
        case WorkerRequest::SendAmplifier:
            return SendAmplifier();
        case WorkerRequest::SendVocoder:
            return SendVocoder();
        case WorkerRequest::SendRecorder:
            return SendRecorder();
        case WorkerRequest::SetTrace:
            return SetTrace();
        case WorkerRequest::PollTrace:
            return PollTrace();
    }
}

void TK350::runExitSequence() {
    if (handle_ && !buffer_.empty()) {
        // Drain a reply the board may still hold, so it starts clean next time.
        usb_bulk_read(handle_, K350Usb::EndpointIn, reinterpret_cast<char*>(buffer_.data()),
                      int(buffer_.size()), K350Usb::PolledTimeoutMs);
    }
    CloseLink();
}

// --- link layer --------------------------------------------------------------

void TK350::OpenLink(int configuration) {
    if (location_) return openChosenBoard(configuration);
    if (handle_ && tryQuickReopen(configuration)) return;
    scanForBoard(configuration);
}

// Re-opens the board it had open, from the previous scan's list wherever it stands on the bus
// (behind the root hub and whatever else is plugged in), so that polled operations do not
// rescan the bus every time.
bool TK350::tryQuickReopen(int configuration) {
    struct usb_device* last = isListed(openedDevice_) ? openedDevice_ : nullptr;
    usb_close(handle_);
    handle_ = nullptr;
    if (!last || !IsBoard(last)) return false;
    return openBoard(last, configuration, false) == OpenOutcome::Opened;
}

bool TK350::isListed(const struct usb_device* device) {
    for (struct usb_bus* bus = usb_get_busses(); bus && device; bus = bus->next) {
        for (struct usb_device* listed = bus->devices; listed; listed = listed->next) {
            if (listed == device) return true;
        }
    }
    return false;
}

// Opens, selects the configuration and claims interface 0. With
// reportFailures, a refused configuration or interface is reported.
TK350::OpenOutcome TK350::openBoard(struct usb_device* device, int configuration,
                                    bool reportFailures) {
    usb_dev_handle* handle = usb_open(device);
    if (!handle) {
        // The 0.1 API leaves why in errno: a node without the udev rule's rights.
        if (errno == EACCES || errno == EPERM) accessRefused_ = true;
        return OpenOutcome::NotOpened;
    }
    if ((lastResult_ = usb_set_configuration(handle, configuration)) < 0) {
        if (reportFailures) notifyMain(NotifyCode::Status, LinkStatus::NoConfiguration);
        usb_close(handle);
        return OpenOutcome::Refused;
    }
    if ((lastResult_ = usb_claim_interface(handle, K350Usb::Interface)) < 0) {
        if (reportFailures) notifyMain(NotifyCode::Status, LinkStatus::NoInterface);
        usb_close(handle);
        return OpenOutcome::Refused;
    }
    handle_ = handle;
    openedDevice_ = device;
    return OpenOutcome::Opened;
}

void TK350::scanForBoard(int configuration) {
    accessRefused_ = false;
    RescanUsb();
    for (const ListedBoard& board : ListedBoards()) {
        // A board that cannot be opened is skipped; the first one that
        // opens ends the scan, whether it then takes the configuration or not.
        if (openBoard(board.device, configuration, true) != OpenOutcome::NotOpened) return;
    }
    reportNoBoard();
}

// No board opened; one that was there but refused access gets a line of its own.
void TK350::reportNoBoard() {
    if (!notifyMain(NotifyCode::Status, LinkStatus::NoBoard)) return;
    if (accessRefused_) notifyMain(NotifyCode::Status, LinkStatus::AccessRefused);
}

void TK350::QueryLink() {
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
    if (result < 0) return fail(result);
    std::uint16_t capacity = std::uint16_t(sizeBlock[2] | sizeBlock[3] << 8);
    // A board that cannot even carry the identification reply has no usable size.
    if (result < int(kSizeQueryLength) || capacity < kIdentificationPayload) {
        return fail(LinkError::InvalidReply);
    }

    buffer_.assign(capacity + kPacketHeaderSize, 0);

    setWord(0, Command::Identify);
    setWord(1, kIdentificationPayload);
    setWord(2, 0);
    setWord(3, kIdentifyWord3);
    result = exchange(kPacketHeaderSize, K350Usb::DefaultTimeoutMs);
    if (result < 0) return fail(result);
    // A reply too short to carry word 0 would leave the request's own code to be read back.
    if (result < 2 || word(0) != Command::Identify) return fail(LinkError::InvalidReply);
    // A reply too short to hold both IDs leaves the rest zero rather than stale.
    std::fill(ids_.begin(), ids_.end(), 0);
    std::size_t available = std::min<std::size_t>(result, buffer_.size());
    for (std::size_t i = 0; i < ids_.size() && kPacketHeaderSize + i < available; ++i) {
        ids_[i] = buffer_[kPacketHeaderSize + i];
    }
}

void TK350::CloseLink() {
    if (handle_) {
        usb_release_interface(handle_, K350Usb::Interface);
        usb_close(handle_);
        handle_ = nullptr;
    }
    ids_.fill(0);
}

// --- exchange ----------------------------------------------------------------

void TK350::setWord(int index, std::uint16_t value) {
    std::size_t at = std::size_t(index) * 2;
    if (at + 1 >= buffer_.size()) return;
    buffer_[at] = std::uint8_t(value & 0xFF);
    buffer_[at + 1] = std::uint8_t(value >> 8);
}

std::uint16_t TK350::word(int index) const {
    std::size_t at = std::size_t(index) * 2;
    if (at + 1 >= buffer_.size()) return 0;
    return std::uint16_t(buffer_[at] | buffer_[at + 1] << 8);
}

int TK350::writeRaw(int endpoint, const std::uint8_t* bytes, std::size_t length, int timeoutMs) {
    lastResult_ = usb_bulk_write(handle_, endpoint, reinterpret_cast<const char*>(bytes),
                                 int(length), timeoutMs);
    return lastResult_;
}

int TK350::writeRequest(std::size_t length, int timeoutMs) {
    return writeRaw(K350Usb::EndpointOut, buffer_.data(), std::min(length, buffer_.size()),
                    timeoutMs);
}

int TK350::readReply(int timeoutMs) {
    lastResult_ =
        usb_bulk_read(handle_, K350Usb::EndpointIn, reinterpret_cast<char*>(buffer_.data()),
                      int(buffer_.size()), timeoutMs);
    return lastResult_;
}

int TK350::exchange(std::size_t length, int timeoutMs) {
    int result = writeRequest(length, timeoutMs);
    if (result < 0) return result;
    return readReply(timeoutMs);
}

bool TK350::notify(WindowId to, std::uint32_t code, std::intptr_t value) {
    return channel_.deliver(to, generationOf(to), WorkerNotification{code, value});
}

bool TK350::openNormalLink() {
    OpenLink(K350Usb::NormalConfiguration);
    QueryLink();
    return isLinkOpen();
}

bool TK350::openLinkOr(FailureReaction reaction, WindowId window) {
    if (openNormalLink()) return true;
    react(reaction, window);
    return false;
}

void TK350::fail(int result, FailureReaction reaction, WindowId window) {
    const bool logged = notifyMain(NotifyCode::Error, result);
    if (logged && reaction != FailureReaction::StopWindowOnceClosed) react(reaction, window);
    CloseLink();
    if (logged && reaction == FailureReaction::StopWindowOnceClosed) react(reaction, window);
}

void TK350::react(FailureReaction reaction, WindowId window) {
    switch (reaction) {
        case FailureReaction::LogOnly:
            return;
        case FailureReaction::CloseWindow:
            closeWindow(window);
            return;
        case FailureReaction::StopWindow:
        case FailureReaction::StopWindowOnceClosed:
            notify(window, NotifyCode::Done, 0);
            return;
    }
}
