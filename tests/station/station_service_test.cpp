// A station process under a stand-in for systemd: a notify socket the test binds and a watchdog
// interval, given as systemd gives them. The station says it is ready only once its store is
// checked, beats the watchdog while it works, says when it stops, and stops beating once the
// loop that watches its ports hangs.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "tests/support/StartedProgram.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// A safety net only: what has not come by then is not coming.
constexpr auto kLimit = std::chrono::seconds(60);
// The watchdog interval the station is given: 200 ms, so it beats at least every 50 ms.
constexpr auto kWatchdogUs = "200000";

// The service manager's end of the notify protocol: a datagram socket at a path.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ =
            fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) close(fd_);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return bound_; }
    const std::string& path() const { return path_; }
    // The next message, or none when nothing came within `limit`.
    std::optional<std::string> next(std::chrono::milliseconds limit) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, int(limit.count())) != 1) return std::nullopt;
        char message[4096];
        const ssize_t size = recv(fd_, message, sizeof message, 0);
        if (size < 0) return std::nullopt;
        return std::string(message, std::size_t(size));
    }
    // The next message that holds `text`; the ones before it are passed over.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto message = next(std::chrono::milliseconds(100));
            if (message && message->find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

bool Holds(const std::optional<std::string>& message, const std::string& text) {
    return message && message->find(text) != std::string::npos;
}

class StationServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(notify.bound()) << notify.path(); }

    std::unique_ptr<StartedProgram> startStation(const std::vector<std::string>& more) {
        std::vector<std::string> arguments{"station", "--store", store, "--json"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return std::make_unique<StartedProgram>(
            K350CTL_SIM, arguments,
            std::map<std::string, std::string>{{"NOTIFY_SOCKET", notify.path()},
                                               {"WATCHDOG_USEC", kWatchdogUs},
                                               {"K350_SIM_SCAN_HANG", hangFile}},
            folder.path());
    }

    TemporaryFolder folder;
    NotifySocket notify{folder.file("notify")};
    std::string store = folder.file("line.sqlite");
    std::string hangFile = folder.file("hang");
};

}  // namespace

TEST_F(StationServiceTest, ReadyAfterTheChecksBeatsWhileItWorksAndFallsSilentWhenItsPortLoopHangs) {
    const auto station = startStation({"--soak", "600"});
    const auto first = notify.next(kLimit);
    ASSERT_TRUE(Holds(first, "READY=1")) << first.value_or("nothing") << station->output();
    EXPECT_TRUE(std::filesystem::exists(store)) << "ready before the store was made";
    EXPECT_TRUE(Holds(first, "STATUS=watching the ports: 0 board(s) under way")) << *first;

    // The board is taken (a status is sent when it changes) and soaks; the port loop beats on.
    ASSERT_TRUE(notify.waitFor("STATUS=watching the ports: 1 board(s) under way"));
    for (int beat = 0; beat < 3; ++beat) ASSERT_TRUE(notify.waitFor("WATCHDOG=1")) << beat;

    // The port loop's scan hangs: whatever it sent before is read, then nothing more comes,
    // though five watchdog intervals pass.
    std::ofstream(hangFile).put('\n');
    ASSERT_TRUE(station->waitForText("k350sim: the scan hangs", kLimit)) << station->output();
    while (notify.next(std::chrono::milliseconds(0))) {
    }
    const auto late = notify.next(std::chrono::milliseconds(1000));
    EXPECT_FALSE(late) << *late;
    station->kill();
}

// The first signal: it says it stops and names the boards it finishes; the second cuts them.
TEST_F(StationServiceTest, SaysItStopsAndHowManyBoardsItFinishes) {
    const auto station = startStation({"--soak", "600"});
    ASSERT_TRUE(notify.waitFor("READY=1")) << station->output();
    ASSERT_TRUE(notify.waitFor("STATUS=watching the ports: 1 board(s) under way"));
    station->signal(SIGTERM);
    EXPECT_TRUE(notify.waitFor("STOPPING=1\nSTATUS=stopping: 1 board(s) under way"));
    station->signal(SIGTERM);
    EXPECT_EQ(station->finish(kLimit).status, 128 + SIGTERM);
}

// A store that cannot be opened ends the station before it ever says it is ready: systemd
// counts the start as failed, not as a station that went away later.
TEST_F(StationServiceTest, NeverReadyWhenItsStoreCannotBeOpened) {
    store = folder.file("missing/line.sqlite");
    const ProgramRun ended = startStation({"--soak", "1", "--store-retry", "0"})->finish(kLimit);
    EXPECT_EQ(ended.status, 4) << ended.err;
    const auto message = notify.next(std::chrono::milliseconds(0));
    EXPECT_FALSE(Holds(message, "READY=1")) << *message;
}
