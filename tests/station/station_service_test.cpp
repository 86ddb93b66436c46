// A station process under a stand-in for systemd: a notify socket the test binds and a watchdog
// interval, given as systemd gives them. The station says it is ready only once its store is
// checked, beats the watchdog while it works, says when it stops, and stops beating once the
// loop that watches its ports hangs. With its output the journal's stream it writes its lines
// to journald's socket (a socket the test binds there, in a mount namespace of its own) with
// their fields, and prints them when nothing takes them.
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

// The service manager's end of the notify protocol (and journald's of its native one): a datagram
// socket at a path.
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

// One entry of journald's native protocol: NAME=value lines (the station's have no line break
// in a value, which would take the protocol's binary form).
std::map<std::string, std::string> JournalFields(const std::string& datagram) {
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < datagram.size()) {
        std::size_t end = datagram.find('\n', start);
        if (end == std::string::npos) end = datagram.size();
        const std::string line = datagram.substr(start, end - start);
        if (const std::size_t equals = line.find('='); equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return fields;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// systemd's JOURNAL_STREAM for the program's standard output, set as systemd sets it: the
// program runs through a shell that names its own output's device and inode.
constexpr const char* kAsJournalStream =
    R"(JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec "$@")";

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

// Outside the journal the lines are printed as ever, whatever else the environment says: a
// service's invocation id, or a journal stream that is not its output (redirected since).
TEST_F(StationServiceTest, PrintsItsLinesWhenItsOutputIsNotTheJournal) {
    const ProgramRun ended =
        StartedProgram(
            K350CTL_SIM, {"station", "--store", store, "--json", "--boards", "1", "--soak", "1"},
            {{"JOURNAL_STREAM", "8:4242"}, {"INVOCATION_ID", "0123456789abcdef0123456789abcdef"}},
            folder.path())
            .finish(kLimit);
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(Count(ended.out, R"("step":"identify","state":"done")"), 1u) << ended.out;
    EXPECT_EQ(Count(ended.out, R"("step":"board","state":"passed")"), 1u) << ended.out;
}

// Its output the journal's stream and no journald to take the entries (no socket): each line is
// printed after all, none lost.
TEST_F(StationServiceTest, PrintsItsLinesWhenNoJournaldTakesThem) {
    if (std::filesystem::exists("/run/systemd/journal/socket")) {
        GTEST_SKIP() << "a journald runs here: the station's entries would go to it";
    }
    const ProgramRun ended =
        StartedProgram("/bin/sh",
                       {"-c", kAsJournalStream, "sh", K350CTL_SIM, "station", "--store", store,
                        "--json", "--boards", "1", "--soak", "1"},
                       {}, folder.path())
            .finish(kLimit);
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(Count(ended.out, R"("step":"identify","state":"done")"), 1u) << ended.out;
    EXPECT_EQ(Count(ended.out, R"("step":"board","state":"passed")"), 1u) << ended.out;
}

// Under the journal: each line goes through libsystemd to journald's socket with its fields, and
// is not printed besides. journald is the test's socket, mounted where libsystemd looks for it
// in a namespace of the station's own.
TEST_F(StationServiceTest, WritesEachLineToTheJournalWithItsFields) {
    std::filesystem::create_directories(folder.file("journal"));
    NotifySocket journald(folder.file("journal/socket"));
    ASSERT_TRUE(journald.bound());
    const std::string inNamespace =
        "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
        "mount --bind \"$1\" /run/systemd/journal && shift && " +
        std::string(kAsJournalStream);
    const ProgramRun ended =
        StartedProgram("/usr/bin/unshare",
                       {"--map-root-user", "--mount", "/bin/sh", "-c", inNamespace, "sh",
                        folder.file("journal"), K350CTL_SIM, "station", "--store", store, "--json",
                        "--boards", "1", "--soak", "1"},
                       {{"K350_STATION", "line2"}}, folder.path())
            .finish(kLimit);
    if (ended.err.find("unshare:") != std::string::npos) {
        GTEST_SKIP() << "no mount namespace here: " << ended.err;
    }
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(Count(ended.out, R"("step")"), 0u) << "printed besides: " << ended.out;

    std::vector<std::map<std::string, std::string>> entries;
    while (const auto datagram = journald.next(std::chrono::milliseconds(0))) {
        entries.push_back(JournalFields(*datagram));
    }
    ASSERT_FALSE(entries.empty()) << ended.err;
    const auto& started = entries.front();
    EXPECT_EQ(started.at("K350_STEP"), "identify");
    EXPECT_EQ(started.at("PRIORITY"), "6");
    EXPECT_EQ(started.at("K350_BENCH"), "line2");
    EXPECT_FALSE(started.at("K350_DIE_ID").empty());
    EXPECT_NE(started.at("MESSAGE").find(R"("state":"done")"), std::string::npos);
    const auto& passed = entries.back();
    EXPECT_EQ(passed.at("K350_STEP"), "board");
    EXPECT_EQ(passed.at("K350_RESULT"), "passed");
    EXPECT_EQ(passed.at("K350_SERIAL"), started.at("K350_SERIAL"));
    EXPECT_EQ(passed.at("K350_PORT"), started.at("K350_PORT"));
    EXPECT_NE(passed.at("MESSAGE_ID"), started.at("MESSAGE_ID"));
    EXPECT_EQ(passed.at("MESSAGE_ID").size(), 32u);
}
