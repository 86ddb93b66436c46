// "Отмена" and, at once, a new window of the same class, at every notification
// point of the read, the write and the firmware download: the cancelled
// operation ends at its next notification although a window of its class is
// open again, and the new window sees only its own operation.
#include <gmock/gmock.h>

#include "tests/support/WorkerFixture.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

struct CancelCase {
    const char* name;
    WorkerRequest request;
    std::uint16_t capacity;  // small enough for several chunks
};

void PrintTo(const CancelCase& cancelCase, std::ostream* out) {
    *out << cancelCase.name;
}

std::vector<CancelCase> cancelCases() {
    return {{"Read", WorkerRequest::ReadConfig, 40},
            {"Write", WorkerRequest::WriteConfig, 512},
            {"Firmware", WorkerRequest::LoadFirmware, 512}};
}

Bytes pattern(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 7 + 3);
    return bytes;
}

// What a window saw: each notification, and how many requests the board had
// answered when it came.
struct Seen {
    std::vector<std::pair<std::uint32_t, std::intptr_t>> notifications;
    std::vector<int> requestsBefore;
};

// The notifications with the values that are addresses left out.
std::vector<std::pair<std::uint32_t, std::intptr_t>> withoutAddresses(const Seen& seen) {
    auto notifications = seen.notifications;
    for (auto& [code, value] : notifications) {
        if (code == NotifyCode::DieId || code == NotifyCode::ChipId || code == NotifyCode::FillData)
            value = 0;
    }
    return notifications;
}

}  // namespace

class CancelTest : public WorkerFixture, public ::testing::WithParamInterface<CancelCase> {
protected:
    WindowId window() const { return RequesterOf(GetParam().request); }

    void freshBoard() {
        useBoard({.capacity = GetParam().capacity});
        requests_ = 0;
        k350sim::setReplyHook([this](k350sim::DeviceId, const Bytes&, Bytes&) {
            ++requests_;
            return 0;
        });
        channel.clear();
        channel.open(WindowId::FDevice, fillWith(record_));
    }

    // A progress window: answers notification 11 (the firmware window does)
    // and records what it sees; `atEach` runs after each notification.
    WindowGeneration openWindow(Seen& seen, std::function<void()> atEach = {}) {
        return channel.open(window(), [this, &seen, atEach](WorkerNotification n) {
            if (GetParam().request == WorkerRequest::LoadFirmware) fillWith(image_)(n);
            seen.notifications.emplace_back(n.code, n.value);
            seen.requestsBefore.push_back(requests_);
            if (atEach) atEach();
        });
    }

    void run(WindowGeneration requester) {
        worker.signal(GetParam().request, requester);
        ASSERT_TRUE(worker.runOnePass());
    }

    Seen reference() {
        freshBoard();
        Seen seen;
        run(openWindow(seen));
        totalRequests_ = requests_;
        return seen;
    }

    int requests_ = 0;
    int totalRequests_ = 0;
    std::shared_ptr<const Bytes> record_ = std::make_shared<const Bytes>(pattern(140));
    std::shared_ptr<const Bytes> image_ = std::make_shared<const Bytes>(pattern(0x8000 + 300));
};

TEST_P(CancelTest, ReopenedWindowAtAnyNotificationGetsNothingOfTheCancelledOperation) {
    const Seen whole = reference();
    const std::size_t points = whole.notifications.size();
    ASSERT_GE(points, 5u);
    for (std::size_t point = 0; point < points; ++point) {
        SCOPED_TRACE(point);
        freshBoard();
        Seen cancelled, reopened;
        const WindowGeneration first = openWindow(cancelled, [&] {
            if (cancelled.notifications.size() != point + 1) return;
            // "Отмена", and the same task asked for again at once.
            channel.close(window());
            worker.signal(GetParam().request, openWindow(reopened));
        });
        run(first);
        EXPECT_EQ(cancelled.notifications.size(), point + 1);
        // Not one request past the point of its next notification.
        const int limit = point + 1 < points ? whole.requestsBefore[point + 1] : totalRequests_;
        EXPECT_EQ(requests_, limit);
        EXPECT_TRUE(reopened.notifications.empty());

        // The reopened window's own request is still signalled.
        ASSERT_TRUE(worker.runOnePass());
        EXPECT_EQ(withoutAddresses(reopened), withoutAddresses(whole));
    }
}

TEST_P(CancelTest, CloseRequestOfAFailedOperationSparesTheNewWindow) {
    freshBoard();
    Seen cancelled, reopened;
    const WindowGeneration first = openWindow(cancelled, [&] {
        if (cancelled.notifications.size() != 1) return;
        channel.close(window());
        openWindow(reopened);
        k350sim::failTransfer(0, LinkError::Timeout);
    });
    run(first);
    EXPECT_FALSE(channel.closeRequested(window()));
    EXPECT_TRUE(channel.isOpen(window()));
    EXPECT_TRUE(reopened.notifications.empty());
}

INSTANTIATE_TEST_SUITE_P(ProgressWindows, CancelTest, ::testing::ValuesIn(cancelCases()),
                         [](const auto& info) { return std::string(info.param.name); });
