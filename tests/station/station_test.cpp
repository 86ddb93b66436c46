// The production station against simulated boards on the virtual clock: the whole sequence, what
// it records, what it writes, and a board unplugged at every step.
#include "station/Station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "config/ConfigFile.h"
#include "config/Cp1251.h"
#include "config/RecordRules.h"
#include "config/ServiceCodes.h"
#include "config/Sha256.h"
#include "station/StationSequence.h"
#include "store/RunJournal.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/CliFixture.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SimTime.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes Image(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 7 + 3);
    return bytes;
}

class StationTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        job.image = std::make_shared<const Bytes>(Image(3000));
        job.imageSha256 = Sha256Hex(*job.image);
        job.verify = true;
        ConfigSnapshot reference{};
        const Bytes record = k350sim::plausibleConfiguration(0);
        std::copy(record.begin(), record.end(), reference.bytes.begin());
        reference.bytes[ConfigOffset::Codec + 15] ^= 0x01;  // differs from what the boards hold
        RefreshCrc(TCrc(), reference);
        job.reference = reference;
        job.descriptionTemplate = "K-350A {serial} {die}";
        job.date = "09.12.2026";
        job.soak.seconds = 30;
        job.soak.maxErroneousPercent = 1;
        job.recipe = "test recipe";
        job.station = "bench-1";
        job.store = tempPath("line.sqlite");
    }

    StationCounts runStation(int boards) {
        Station station(job, clock, [this](const StationEvent& event) { events.push_back(event); });
        return station.run([] { return StationStop::None; }, boards);
    }

    std::vector<RunRecord> runs() { return OpenRunStore(job.store)->history({}); }

    StationJob job;
    std::vector<StationEvent> events;
};

std::string Hex(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < 16; ++i) {
        std::snprintf(digits, sizeof digits, "%02X ", bytes[i]);
        text += digits;
    }
    return text + "(" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace

TEST_F(StationTest, OneBoardGetsTheWholeSequenceAndTheReferenceWithItsIdentity) {
    const auto boards = plugBoards(1);
    const StationCounts counts = runStation(1);
    EXPECT_EQ(counts.passed, 1);

    const auto recorded = runs();
    ASSERT_EQ(recorded.size(), 1u);
    const RunRecord& run = recorded[0];
    EXPECT_EQ(run.result, "passed") << run.error;
    EXPECT_EQ(run.serial, "0001");
    EXPECT_EQ(run.dieId, RecordRules::DeviceIdText(dieIdFor(1).data()));
    EXPECT_EQ(run.station, "bench-1");
    EXPECT_EQ(run.recipe, "test recipe");
    EXPECT_EQ(run.imageSha256, job.imageSha256);
    ASSERT_TRUE(run.soakErroneousPercent.has_value());
    ASSERT_TRUE(run.soakJitterMs.has_value());
    std::vector<std::string> steps;
    for (const auto& step : nlohmann::json::parse(run.steps)) steps.push_back(step["step"]);
    EXPECT_EQ(steps, (std::vector<std::string>{"flash", "verify", "config", "readback", "soak"}));

    // The board holds the reference with its serial, the day's date and the description.
    const ConfigSnapshot expected =
        IdentityRecord(*job.reference, "0001", run.dieId, "09.12.2026", job.descriptionTemplate);
    const Bytes eeprom = k350sim::eeprom(boards[0]);
    EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + kImageSize),
              Bytes(expected.bytes.begin(), expected.bytes.begin() + kImageSize));
    EXPECT_EQ(run.configSha256,
              Sha256Hex(Bytes(expected.bytes.begin(), expected.bytes.begin() + kImageSize)));
    EXPECT_EQ(RecordRules::ShownLineBreaks(ReadTextField(eeprom.data() + ConfigOffset::Description,
                                                         ConfigLength::Description)),
              "K-350A 0001 " + run.dieId);
    const Bytes flash = k350sim::flash(boards[0]);
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 3000), *job.image);
    EXPECT_TRUE(k350sim::violations().empty());
}

// Every step exchanges with the board exactly what the k350ctl command of that task does (the
// station's identification is the probe flash --verify makes first). Only the
// read that empties the board's reply queue when a worker exits happens once per station board
// rather than once per command.
TEST_F(StationTest, EachStepExchangesWhatTheSeparateCommandDoes) {
    const auto exchanges = [](k350sim::DeviceId board) {
        std::vector<WireTransfer> bulk;
        for (const WireTransfer& transfer : wireOf(board)) {
            const bool exitDrain = transfer.kind == k350sim::TransferKind::Read &&
                                   transfer.data.empty() && transfer.timeoutMs == 100;
            if (!exitDrain && (transfer.kind == k350sim::TransferKind::Write ||
                               transfer.kind == k350sim::TransferKind::Read)) {
                bulk.push_back(transfer);
                // The counters of a statistics reply grow with the time the soak took.
                const bool statistics = transfer.kind == k350sim::TransferKind::Read &&
                                        !transfer.data.empty() && transfer.data[0] == 8;
                if (statistics) bulk.back().data.resize(2);
            }
        }
        return bulk;
    };
    auto board = plugBoards(1)[0];
    runStation(1);
    ASSERT_EQ(runs().at(0).result, "passed");
    const auto station = exchanges(board);

    board = plugBoards(1)[0];
    const std::string image = tempPath("image.rom");
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(job.image->data()),
               std::streamsize(job.image->size()));
    ConfigSnapshot identity = IdentityRecord(*job.reference, "0001", runs().at(0).dieId, job.date,
                                             job.descriptionTemplate);
    ASSERT_EQ(SaveConfigFile(tempPath("identity.kcf"), identity), SaveResult::Ok);
    const std::string code(kFullServiceCode);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"flash", image, "--verify", "--code", code},
          {"write", tempPath("identity.kcf"), "--full", "--other-board", "--code", code},
          {"read", "-o", tempPath("back.kcf")},
          {"stats", "--reset", "--count", "30"}}) {
        EXPECT_EQ(run(command).status, 0) << command[0];
    }
    const auto commands = exchanges(board);
    EXPECT_EQ(station.size(), commands.size());
    const auto differ =
        std::mismatch(station.begin(), station.end(), commands.begin(), commands.end());
    if (differ.first != station.end()) {
        ADD_FAILURE() << "first difference at exchange " << (differ.first - station.begin()) << ": "
                      << Hex(differ.first->data) << " / "
                      << (differ.second != commands.end() ? Hex(differ.second->data) : "none");
    }
}

TEST_F(StationTest, ABoardUnpluggedAtAStepIsRecordedFailedThereAndKeepsItsSerial) {
    struct Cut {
        const char* step;
        std::function<bool(const Bytes&)> request;
    };
    const auto word = [](const Bytes& r, int i) { return r[2 * i] | r[2 * i + 1] << 8; };
    const std::vector<Cut> cuts{
        {"flash", [](const Bytes& r) { return r[0] == 2 && r.size() > 8 && r[8] == 0x02; }},
        {"verify", [](const Bytes& r) { return r[0] == 2 && r.size() > 8 && r[8] == 0x03; }},
        {"config", [&](const Bytes& r) { return r[0] == 3 && word(r, 1) == 0; }},
        {"readback", [&](const Bytes& r) { return r[0] == 3 && word(r, 1) > 0; }},
        {"soak", [](const Bytes& r) { return r[0] == 8; }},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.step);
        std::filesystem::remove(job.store);
        const auto board = plugBoards(1)[0];
        k350sim::setReplyHook(
            [&, done = false](k350sim::DeviceId id, const Bytes& request, Bytes&) mutable {
                if (!done && cut.request(request)) {
                    done = true;
                    k350sim::unplug(id);
                }
                return 0;
            });
        EXPECT_EQ(runStation(1).failed, 1);
        k350sim::setReplyHook({});
        auto recorded = runs();
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0].result, "failed");
        EXPECT_EQ(recorded[0].failedStep, cut.step);
        EXPECT_NE(recorded[0].error.find("Error: -19"), std::string::npos) << recorded[0].error;
        EXPECT_EQ(recorded[0].serial, "0001");

        k350sim::replug(board);
        EXPECT_EQ(runStation(1).passed, 1);
        recorded = runs();
        ASSERT_EQ(recorded.size(), 2u);
        EXPECT_EQ(recorded[1].serial, "0001");  // the same board, the same serial
        EXPECT_EQ(recorded[1].result, "passed");
    }
}

TEST_F(StationTest, BoardsOnSeveralPortsRunAtOnceAndAPassedBoardIsSkipped) {
    plugBoards(8);
    EXPECT_EQ(runStation(8).passed, 8);
    std::set<std::string> serials, ports;
    std::map<std::string, std::string> serialOfDie;
    for (const RunRecord& run : runs()) {
        serials.insert(run.serial);
        ports.insert(run.port);
        serialOfDie[run.dieId] = run.serial;
    }
    EXPECT_EQ(serials.size(), 8u);
    EXPECT_EQ(*serials.begin(), "0001");
    EXPECT_EQ(*serials.rbegin(), "0008");
    EXPECT_EQ(ports.size(), 8u);
    for (const std::string& port : ports) EXPECT_TRUE(port.starts_with("1-")) << port;

    // The same boards again: all passed before, none processed.
    k350sim::clearLog();
    const StationCounts again = runStation(8);
    EXPECT_EQ(again.skipped, 8);
    // Each skipped board's last line names it as the store does: die ID and serial.
    int skippedLines = 0;
    for (const StationEvent& event : events) {
        if (event.state != "skipped") continue;
        ++skippedLines;
        ASSERT_TRUE(serialOfDie.count(event.dieId)) << event.dieId;
        EXPECT_EQ(event.serial, serialOfDie[event.dieId]);
    }
    EXPECT_EQ(skippedLines, 8);
    EXPECT_EQ(runs().size(), 8u);
    job.reprocessPassed = true;
    EXPECT_EQ(runStation(8).passed, 8);
    EXPECT_EQ(runs().size(), 16u);
    EXPECT_EQ(runs().back().serial.size(), 4u);
}

// The boot loader's download is a step of the board's run: the board comes back in normal mode
// at another address and port, and is taken there.
TEST_F(StationTest, ABootLoadedBoardIsTakenWhereItComesBackAndItsRunHoldsTheDownload) {
    const auto boot = plugBoards(1, {.bootMode = true})[0];
    Station station(job, clock, [&](const StationEvent& event) {
        events.push_back(event);
        if (event.step == "boot" && event.state == "done") {
            k350sim::unplug(boot);  // the boot loader starts the firmware: it enumerates anew
            k350sim::BoardOptions normal;
            normal.dieId = dieIdFor(1);
            const auto back = k350sim::addBoard(0, normal);
            k350sim::setEeprom(back, 0, k350sim::plausibleConfiguration(0));
        }
    });
    const StationCounts counts = station.run([] { return StationStop::None; }, 1, 10);
    EXPECT_EQ(counts.passed, 1);
    EXPECT_EQ(k350sim::bootBytes(boot), *job.image);
    const auto recorded = runs();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].result, "passed") << recorded[0].error;
    EXPECT_EQ(recorded[0].dieId, RecordRules::DeviceIdText(dieIdFor(1).data()));
    const auto steps = nlohmann::json::parse(recorded[0].steps);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps[0]["step"], "boot");
    EXPECT_NE(steps[0]["port"], recorded[0].port);  // it came back at another port
}

TEST_F(StationTest, ABootLoadedBoardThatNeverCameBackIsRecordedWhenTheStationStops) {
    const auto board = plugBoards(1, {.bootMode = true})[0];
    Station station(job, clock, [this](const StationEvent& event) { events.push_back(event); });
    int scans = 0;
    station.run([&] { return ++scans > 3 ? StationStop::Finish : StationStop::None; }, 0, 10);
    EXPECT_EQ(k350sim::bootBytes(board), *job.image);  // once: then it waits for the unplug
    const auto recorded = runs();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].result, "interrupted");
    EXPECT_EQ(nlohmann::json::parse(recorded[0].steps)[0]["step"], "boot");
}

// Boards the station cannot take are named, recorded and counted, once until plugged in again.
TEST_F(StationTest, EveryBoardItCannotTakeIsNamedRecordedAndCountedOnce) {
    k350sim::reset();
    const int bus = k350sim::addBus();
    const auto held = k350sim::addBoard(bus, {.refusesInterface0 = true});
    k350sim::addBoard(bus, {.kernelDriver = "cdc_acm"});
    k350sim::addBoard(bus, {.cannotOpen = true});
    RunSimOnClock(clock);
    job.image.reset();  // a boot-mode board then has nothing to take
    job.imageSha256.clear();
    k350sim::addBoard(bus, {.bootMode = true});
    Station station(job, clock, [this](const StationEvent& event) { events.push_back(event); });
    // --boards 4 ends it: the four count although none can be taken.
    EXPECT_EQ(station.run([] { return StationStop::None; }, 4, 10).unusable, 4);
    auto recorded = runs();
    ASSERT_EQ(recorded.size(), 4u);
    std::set<std::string> reasons;
    for (const RunRecord& run : recorded) {
        EXPECT_EQ(run.result, "unusable");
        EXPECT_FALSE(run.port.empty());
        reasons.insert(run.error);
    }
    EXPECT_EQ(reasons.size(), 4u);
    const auto said = [&](const char* words) {
        return std::count_if(events.begin(), events.end(), [&](const StationEvent& event) {
            return event.state == "unusable" && event.error.find(words) != std::string::npos;
        });
    };
    EXPECT_EQ(said("70-k350.rules"), 1);
    EXPECT_EQ(said("held by another program"), 1);
    EXPECT_EQ(said("held by the kernel driver cdc_acm"), 1);
    EXPECT_EQ(said("boot mode"), 1);

    // Scans later each is still named once; plugged in again, it is named again.
    events.clear();
    std::atomic<int> heldSaid{0};
    Station again(job, clock, [&](const StationEvent& event) {
        events.push_back(event);
        heldSaid += event.error.find("held by another") != std::string::npos;
    });
    std::int64_t unpluggedAt = -1;
    bool replugged = false;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    again.run(
        [&] {
            if (unpluggedAt < 0 && heldSaid == 1) {
                k350sim::unplug(held);
                unpluggedAt = k350sim::scans();
            } else if (unpluggedAt >= 0 && !replugged && k350sim::scans() >= unpluggedAt + 3) {
                k350sim::replug(held);
                replugged = true;
            }
            const bool done = heldSaid == 2 || std::chrono::steady_clock::now() > deadline;
            return done ? StationStop::Finish : StationStop::None;
        },
        0, 10);
    EXPECT_EQ(said("70-k350.rules"), 1);
    EXPECT_EQ(said("held by another program"), 2);
}

// The station's clock, but the pauses `held` picks wait until the test opens the gate: the boards
// are then where the test wants them, whatever the machine's speed.
class GatedClock : public Clock {
public:
    GatedClock(VirtualClock& inner, std::function<bool(std::uint32_t ms)> held)
        : inner_(inner), held_(std::move(held)) {}
    void sleepMs(std::uint32_t ms) override {
        if (held_(ms)) {
            std::unique_lock lock(mutex_);
            ++waiting_;
            opened_.wait(lock, [&] { return open_; });
        }
        inner_.sleepMs(ms);
    }
    std::int64_t nowUs() override { return inner_.nowUs(); }
    TimeOfDay timeOfDay() override { return inner_.timeOfDay(); }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    VirtualClock& inner_;
    std::function<bool(std::uint32_t ms)> held_;
    std::mutex mutex_;
    std::condition_variable opened_;
    int waiting_ = 0;
    bool open_ = false;
};

// Runs the station until `held` workers wait at the gate, then asks it to finish and to stop now,
// as Ctrl+C twice does; the gate opens once the stop has been given.
StationCounts RunStoppedTwice(Station& station, GatedClock& gated, int held) {
    int answered = 0;
    const auto deadline = std::chrono::steady_clock::now() + 60s;  // a safety net only
    return station.run(
        [&] {
            if (std::chrono::steady_clock::now() > deadline) gated.open();
            if (gated.waiting() < held) return StationStop::None;
            // Once to finish, then now; asked again after that, the boards have been cut.
            if (++answered == 1) return StationStop::Finish;
            if (answered > 2) gated.open();
            return StationStop::Now;
        },
        0, 10);
}

TEST_F(StationTest, AStopIsSaidAtOnceAndASecondOneCutsTheDownloadAndRecordsIt) {
    plugBoards(2);
    // The pause after a page is programmed: the boards are held mid-download.
    GatedClock gated(clock, [](std::uint32_t ms) { return ms == 1; });
    std::atomic<std::uint32_t> finishing{99};
    Station station(job, gated, [&](const StationEvent& event) {
        events.push_back(event);
        if (event.step == "station") finishing = event.done;
    });
    const StationCounts counts = RunStoppedTwice(station, gated, 2);
    EXPECT_EQ(finishing, 2u);
    EXPECT_EQ(counts.interrupted, 2);
    for (const RunRecord& run : runs()) {
        EXPECT_EQ(run.result, "interrupted");
        EXPECT_EQ(run.failedStep, "flash");
        EXPECT_NE(run.error.find("flash is left incomplete"), std::string::npos) << run.error;
        EXPECT_FALSE(run.finishedAt.empty());
    }
}

// A worker that said it waits for the store is held in that wait until the gate opens.
thread_local bool tWaitsForStore = false;

class StationStoreWaitTest : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        if (!TestPostgresServer().available())
            GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
        static int databases = 0;
        job.store =
            TestPostgresServer().createDatabase("stationwait" + std::to_string(++databases));
        ASSERT_FALSE(job.store.empty());
        journal.emplace(tempPath("station.journal"));
        job.journal = &*journal;
    }
    void TearDown() override {
        // A test that failed half-way may have left it stopped: the next finds it running.
        if (TestPostgresServer().available()) TestPostgresServer().start();
        StationTest::TearDown();
    }

    // The station stopped twice while its one board waits for the absent store, `stopServer`
    // taking the server away at the board's event of its choice. The board's last event.
    StationEvent stoppedWhileWaiting(const std::function<bool(const StationEvent&)>& stopServer) {
        GatedClock gated(clock, [](std::uint32_t) { return tWaitsForStore; });
        std::int64_t waitedFromUs = -1;
        Station station(job, gated, [&](const StationEvent& event) {
            events.push_back(event);
            if (stopServer(event)) {
                EXPECT_TRUE(TestPostgresServer().stop());
            }
            if (event.step == StationStep::Store && event.state == "waiting") {
                waitedFromUs = clock.nowUs();
                tWaitsForStore = true;
            }
        });
        counts = RunStoppedTwice(station, gated, 1);
        EXPECT_GE(waitedFromUs, 0);
        // The stop ended the wait, not the retry time.
        EXPECT_LT(clock.nowUs() - waitedFromUs, std::int64_t(job.storeRetrySeconds * 1e6) / 2);
        EXPECT_EQ(counts.interrupted, 1);
        EXPECT_EQ(journal->pending(job.store), 1);
        EXPECT_FALSE(events.empty());
        return events.empty() ? StationEvent{} : events.back();
    }
    // The journal's run, written to the store once it is back.
    RunRecord recordedFromJournal() {
        EXPECT_TRUE(TestPostgresServer().start());
        EXPECT_EQ(journal->replay(*OpenRunStore(job.store), job.store).written, 1);
        const auto recorded = runs();
        EXPECT_EQ(recorded.size(), 1u);
        return recorded.empty() ? RunRecord{} : recorded[0];
    }

    std::optional<RunJournal> journal;
    StationCounts counts;
};

// The board passed and its end waits for the store: the run goes to the journal as it passed,
// and the board is told as interrupted, with its identity.
TEST_F(StationStoreWaitTest, ASecondStopEndsTheWaitToRecordABoardThatPassed) {
    plugBoards(1);
    const StationEvent last = stoppedWhileWaiting(
        [](const StationEvent& event) { return event.step == "soak" && event.state == "started"; });
    EXPECT_EQ(last.state, "interrupted");
    EXPECT_EQ(last.serial, "0001");
    EXPECT_EQ(last.dieId, RecordRules::DeviceIdText(dieIdFor(1).data()));
    EXPECT_NE(last.error.find("the board passed; the station was stopped while it waited for the "
                              "store; the run is kept in the journal"),
              std::string::npos)
        << last.error;
    const RunRecord run = recordedFromJournal();
    EXPECT_EQ(run.result, "passed");
    EXPECT_EQ(run.serial, "0001");
}

// The store is away before the board's sequence begins: nothing is done to the board, and its
// interrupted run waits in the journal.
TEST_F(StationStoreWaitTest, ASecondStopEndsTheWaitBeforeABoardIsTouched) {
    const auto board = plugBoards(1)[0];
    ASSERT_TRUE(TestPostgresServer().stop());
    const StationEvent last = stoppedWhileWaiting([](const StationEvent&) { return false; });
    EXPECT_EQ(last.state, "interrupted");
    EXPECT_EQ(last.dieId, RecordRules::DeviceIdText(dieIdFor(1).data()));
    EXPECT_NE(last.error.find("before the board's sequence began; run the board again"),
              std::string::npos)
        << last.error;
    EXPECT_TRUE(k350sim::violations().empty());
    const Bytes flash = k350sim::flash(board);
    EXPECT_NE(Bytes(flash.begin(), flash.begin() + 3000), *job.image);
    const RunRecord run = recordedFromJournal();
    EXPECT_EQ(run.result, "interrupted");
    EXPECT_EQ(run.failedStep, "store");
}

TEST_F(StationTest, AFirstStopFinishesTheBoardsUnderWay) {
    plugBoards(2);
    std::atomic<bool> asked{false};
    Station station(job, clock, [&](const StationEvent& event) {
        events.push_back(event);
        if (event.step == "soak" && event.state == "started") asked = true;
    });
    const StationCounts counts =
        station.run([&] { return asked ? StationStop::Finish : StationStop::None; }, 0, 10);
    EXPECT_EQ(counts.passed, 2);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const StationEvent& event) { return event.step == "station"; }),
              1);
}

// A board in a young unfinished run of another bench is not started again; one of a run that
// died with its station long ago, or of this bench's own earlier process, is.
TEST_F(StationTest, ABoardUnderWayOnAnotherBenchIsNotStartedAgain) {
    plugBoards(1);
    const std::string die = RecordRules::DeviceIdText(dieIdFor(1).data());
    auto store = OpenRunStore(job.store);
    RunRecord other;
    other.dieId = die;
    other.chipId = "0x0";
    other.station = "bench-2";
    other.port = "3-1.4";
    other.recipe = "test recipe";
    other.startedAt = UtcNow();
    other.id = store->beginRun(other);
    job.maxRunSeconds = 600;
    int scans = 0;
    Station station(job, clock, [this](const StationEvent& event) { events.push_back(event); });
    EXPECT_EQ(
        station.run([&] { return ++scans > 30 ? StationStop::Finish : StationStop::None; }, 0, 10)
            .ended(),
        0);
    const auto told = std::count_if(events.begin(), events.end(), [](const StationEvent& event) {
        return event.state == "elsewhere" &&
               event.error.find("bench bench-2 at port 3-1.4") != std::string::npos;
    });
    EXPECT_GE(told, 1);
    EXPECT_EQ(runs().size(), 1u);

    other.result = "failed";  // bench-2 is done with it
    store->finishRun(other);
    other.station = "bench-1";  // this bench's own: its earlier process died
    store->beginRun(other);
    other.station = "bench-3";
    other.startedAt = UtcSecondsAgo(601);  // too old to be under way
    store->beginRun(other);
    EXPECT_EQ(runStation(1).passed, 1);
}

// A line past 9999: alphanumeric serials from the recipe's first, written into the board's record
// and its description as they are.
TEST_F(StationTest, AlphanumericSerialsGoOnFromTheLinesFirst) {
    job.serials = {SerialForm::Alphanumeric, *SerialNumberOf("ZZZY", SerialForm::Alphanumeric),
                   LastSerialNumber(SerialForm::Alphanumeric)};
    job.soak.seconds = 0;
    const auto boards = plugBoards(3);
    const StationCounts counts = runStation(3);
    EXPECT_EQ(counts.passed, 2);
    EXPECT_EQ(counts.failed, 1);  // the range is used up after ZZZZ
    std::multiset<std::string> serials;
    for (const RunRecord& run : runs()) {
        if (run.result == "passed") serials.insert(run.serial);
    }
    // A refusal of the store, which is up: the failed run is in the store, not in a journal.
    const auto usedUp = std::find_if(events.begin(), events.end(), [](const StationEvent& event) {
        return event.error.find("from ZZZY to ZZZZ are used up") != std::string::npos;
    });
    ASSERT_NE(usedUp, events.end());
    EXPECT_EQ(usedUp->state, "failed");
    EXPECT_EQ(usedUp->error.find("journal"), std::string::npos) << usedUp->error;
    EXPECT_EQ(usedUp->error.find("not recorded"), std::string::npos) << usedUp->error;
    const auto recorded = runs();
    EXPECT_EQ(std::count_if(recorded.begin(), recorded.end(),
                            [](const RunRecord& run) {
                                return run.result == "failed" &&
                                       run.error.find("are used up") != std::string::npos;
                            }),
              1);
    EXPECT_EQ(serials, (std::multiset<std::string>{"ZZZY", "ZZZZ"}));
    for (const auto board : boards) {
        const Bytes eeprom = k350sim::eeprom(board);
        const std::string serial =
            ReadTextField(eeprom.data() + ConfigOffset::Serial, ConfigLength::Serial);
        if (!serials.count(serial)) continue;
        EXPECT_EQ(ReadTextField(eeprom.data() + ConfigOffset::Description, 11), "K-350A " + serial);
    }
}

// Another program takes the SQLite store's lock while the board soaks and keeps it: the board's
// end waits the retry time on the station's clock, then its run goes to the journal, its hook's
// outcome with it, and both reach the store once it is free.
class StationLockedStoreTest : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        job.storeRetrySeconds = 2;
        job.hooks.onPass = "echo label $K350_SERIAL";
    }
    // The station on one board; the store locked from its soak on.
    StationCounts runLocked() {
        Station station(job, clock, [&](const StationEvent& event) {
            events.push_back(event);
            if (event.step == "soak" && event.state == "started") {
                holder.emplace(job.store);
                holder->beginExclusive();
            }
        });
        return station.run([] { return StationStop::None; }, 0);
    }
    const StationEvent* eventOf(const std::string& step) const {
        const auto found =
            std::find_if(events.begin(), events.end(),
                         [&](const StationEvent& event) { return event.step == step; });
        return found == events.end() ? nullptr : &*found;
    }
    std::optional<SqliteConnection> holder;
};

TEST_F(StationLockedStoreTest, ARunTheLockedStoreCouldNotTakeWaitsInTheJournalWithItsHook) {
    RunJournal journal(tempPath("station.journal"));
    job.journal = &journal;
    plugBoards(1);
    Station station(job, clock, [&](const StationEvent& event) {
        events.push_back(event);
        if (event.step == "soak" && event.state == "started") {
            holder.emplace(job.store);
            holder->beginExclusive();
        }
    });
    EXPECT_EQ(station.run([] { return StationStop::None; }, 1).passed, 1);
    const StationEvent* waiting = eventOf(StationStep::Store);
    ASSERT_NE(waiting, nullptr);
    EXPECT_EQ(waiting->state, "waiting");
    EXPECT_NE(waiting->error.find("database is locked"), std::string::npos) << waiting->error;
    const StationEvent* board = eventOf("board");
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->state, "passed");
    EXPECT_NE(board->error.find("the run is kept in the journal " + journal.path()),
              std::string::npos)
        << board->error;
    const StationEvent* hook = eventOf("hook");
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(hook->state, "done");
    EXPECT_NE(hook->error.find("on_pass: exit 0: label 0001; the run is kept in the journal"),
              std::string::npos)
        << hook->error;

    holder->commit();
    holder.reset();
    EXPECT_EQ(journal.replay(*OpenRunStore(job.store), job.store).written, 1);
    const auto recorded = runs();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].result, "passed");
    EXPECT_EQ(recorded[0].hook, "on_pass");
    EXPECT_EQ(recorded[0].hookStatus, "exit 0");
    EXPECT_EQ(recorded[0].hookOutput, "label 0001\n");
}

// The journal cannot be written either: the run is told with its record on the board's line, the
// station says so on a line of its own, counts it as lost and takes no further board.
TEST_F(StationLockedStoreTest, ARunKeptNowhereStopsTheStationAndIsToldWithItsRecord) {
    RunJournal journal(tempPath("missing/station.journal"));
    job.journal = &journal;
    plugBoards(1);
    runLocked();  // without a board limit: it ends by itself
    EXPECT_EQ(journal.lostHere(), 1);
    const StationEvent* board = eventOf("board");
    ASSERT_NE(board, nullptr);
    EXPECT_NE(board->error.find("the run is neither in the store nor in a journal: journal " +
                                journal.path() + " cannot be written"),
              std::string::npos)
        << board->error;
    EXPECT_NE(board->error.find("the run, for the record: {\"key\":"), std::string::npos);
    const StationEvent* station = eventOf("station");
    ASSERT_NE(station, nullptr);
    EXPECT_EQ(station->state, "unrecorded");
    EXPECT_EQ(station->error, kUnrecordedText);
    holder->commit();
}
