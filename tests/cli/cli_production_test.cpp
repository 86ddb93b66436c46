// k350ctl set, station, history and flash --poll, run in-process against simulated boards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "config/ConfigFile.h"
#include "config/ServiceCodes.h"
#include "config/Sha256.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/CliFixture.h"

using ::testing::HasSubstr;

namespace {

class CliProductionTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        const k350sim::Bytes record = k350sim::plausibleConfiguration(0);
        std::ofstream(tempPath("reference.kcf"), std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()))
            .write(std::string(16, '\0').data(), 16);
        std::ofstream(tempPath("image.rom"), std::ios::binary) << std::string(2000, '\x33');
    }
    std::string full() const { return std::string(kFullServiceCode); }
};

}  // namespace

TEST_F(CliProductionTest, SetChangesFieldsByNameAndRefusesWhatAWindowWouldNot) {
    const std::string reference = tempPath("reference.kcf"), out = tempPath("out.kcf");
    const CliRun set =
        run({"set", reference, "codec.left_input_gain=-6dB", "board.serial=0042", "-o", out});
    ASSERT_EQ(set.status, 0) << set.err;
    const CliRun shown = run({"show", out});
    EXPECT_THAT(shown.out, HasSubstr("codec.left_input_gain: -6 dB"));
    EXPECT_THAT(shown.out, HasSubstr("board.serial: 0042"));
    EXPECT_THAT(shown.out, HasSubstr("crc_ok: yes"));

    const CliRun refused =
        run({"set", reference, "board.serial=7", "uart.baud_rate=5", "-o", tempPath("never.kcf")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("an integer from 18 to 1152000"));
    EXPECT_FALSE(std::filesystem::exists(tempPath("never.kcf")));  // nothing written
    EXPECT_EQ(run({"set", reference, "no-equals-sign"}).status, 2);
    EXPECT_EQ(run({"set", reference}).status, 2);
    EXPECT_EQ(run({"set", tempPath("none.kcf"), "board.serial=1"}).status, 4);

    // Without -o the file itself is replaced.
    ASSERT_EQ(run({"set", out, "vocoder.rate=6000"}).status, 0);
    EXPECT_THAT(run({"show", out}).out, HasSubstr("vocoder.rate: 6000 bit/s"));
}

TEST_F(CliProductionTest, StationRecordsEveryBoardAndHistoryAnswersForIt) {
    plugBoards(2);
    EXPECT_EQ(run({"station", "--image", tempPath("image.rom"), "--reference",
                   tempPath("reference.kcf"), "--store", tempPath("line.sqlite"), "--boards", "2"})
                  .status,
              2);  // the identity needs the full service code
    const CliRun station =
        run({"station", "--image", tempPath("image.rom"), "--verify", "--poll", "--reference",
             tempPath("reference.kcf"), "--description", "K-350A {serial}", "--store",
             tempPath("line.sqlite"), "--boards", "2", "--code", full()});
    ASSERT_EQ(station.status, 0) << station.err;
    EXPECT_THAT(station.out, HasSubstr(R"("step":"flash","state":"done")"));
    EXPECT_THAT(station.out, HasSubstr(R"("step":"board","state":"passed")"));
    EXPECT_THAT(station.err, HasSubstr("2 passed, 0 failed"));

    const CliRun history = run({"history", "--store", tempPath("line.sqlite"), "--json"});
    ASSERT_EQ(history.status, 0) << history.err;
    EXPECT_EQ(std::count(history.out.begin(), history.out.end(), '\n'), 2);
    EXPECT_THAT(history.out, HasSubstr(R"("result":"passed")"));
    const CliRun one = run({"history", "--store", tempPath("line.sqlite"), "--serial", "2"});
    EXPECT_THAT(one.out, HasSubstr("  0002  "));
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 1);
    EXPECT_THAT(run({"history", "--store", tempPath("line.sqlite"), "--csv"}).out,
                ::testing::StartsWith("id,serial,die_id,"));
    EXPECT_EQ(run({"history", "--store", tempPath("line.sqlite"), "--since", "yesterday"}).status,
              2);
    EXPECT_EQ(run({"history", "--store", tempPath("none.sqlite")}).status, 4);
    EXPECT_FALSE(std::filesystem::exists(tempPath("none.sqlite")));
}

TEST_F(CliProductionTest, FlashPollReplacesThePausesAndTheDefaultKeepsThem) {
    plugBoards(1);
    ASSERT_EQ(run({"flash", tempPath("image.rom"), "--code", full()}).status, 0);
    EXPECT_EQ(clock.pauses(), (std::vector<std::uint32_t>{800, 1, 1, 1, 1, 1, 1, 1}));
    clock.clearPauses();
    ASSERT_EQ(run({"flash", tempPath("image.rom"), "--poll", "--verify", "--code", full()}).status,
              0);
    EXPECT_TRUE(clock.pauses().empty());
}

TEST_F(CliProductionTest, StationRefusesEveryImageFlashRefusesBeforeABoardIsTouched) {
    const auto board = plugBoards(1)[0];
    std::ofstream(tempPath("empty.rom"), std::ios::binary);
    std::ofstream(tempPath("large.rom"), std::ios::binary) << std::string(200000, '\x11');
    std::filesystem::create_directory(tempPath("folder.rom"));
    for (const char* name : {"empty.rom", "large.rom", "folder.rom", "none.rom"}) {
        SCOPED_TRACE(name);
        k350sim::clearLog();
        const CliRun flash = run({"flash", tempPath(name), "--code", full()});
        const CliRun station = run({"station", "--image", tempPath(name), "--store",
                                    tempPath("line.sqlite"), "--boards", "1", "--code", full()});
        EXPECT_EQ(flash.status, 4);
        EXPECT_EQ(station.status, 4);
        EXPECT_EQ(station.err, flash.err);
        EXPECT_TRUE(wireOf(board).empty());
        EXPECT_FALSE(std::filesystem::exists(tempPath("line.sqlite")));
    }
    EXPECT_THAT(run({"station", "--image", tempPath("large.rom")}).err,
                HasSubstr("is 200000 bytes; the flash takes 1 to 131072"));
}

TEST_F(CliProductionTest, StationRecordsTheDigestOfTheBytesItProgrammed) {
    const auto board = plugBoards(1)[0];
    std::string image(0x20000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = char(i * 13 + i / 251);
    std::ofstream(tempPath("whole.rom"), std::ios::binary) << image;
    const CliRun station = run({"station", "--image", tempPath("whole.rom"), "--poll", "--store",
                                tempPath("line.sqlite"), "--boards", "1", "--code", full()});
    ASSERT_EQ(station.status, 0) << station.err;
    const k350sim::Bytes flash = k350sim::flash(board);
    const k350sim::Bytes programmed(flash.begin(), flash.begin() + 0x20000);
    EXPECT_EQ(std::string(programmed.begin(), programmed.end()), image);
    const CliRun history = run({"history", "--store", tempPath("line.sqlite"), "--json"});
    EXPECT_THAT(history.out, HasSubstr(Sha256Hex(programmed)));
}

namespace {
RunRecord StoredRun(const std::string& die, const std::string& startedAt) {
    RunRecord run;
    run.dieId = die;
    run.chipId = "0xC1";
    run.serial = "0001";
    run.station = "bench-1";
    run.port = "1-1";
    run.recipe = "k350a";
    run.startedAt = startedAt;
    return run;
}

// This process's time zone for a while: UTC+3 all year, as a POSIX rule needs no zone files.
class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> old_;
};
}  // namespace

TEST_F(CliProductionTest, HistoryTakesIso8601TimesAndLocalTimeWithoutAZone) {
    const std::string store = tempPath("line.sqlite");
    {
        auto runs = OpenRunStore(store);
        for (const char* started : {"2026-12-09T19:59:59Z", "2026-12-09T20:00:00Z",
                                    "2026-12-09T21:30:00Z", "2026-12-10T05:00:00Z"}) {
            runs->beginRun(StoredRun("0x01", started));
        }
    }
    const LocalZone moscow("<+03>-3");
    const auto count = [&](const std::vector<std::string>& bounds) {
        std::vector<std::string> arguments{"history", "--store", store};
        arguments.insert(arguments.end(), bounds.begin(), bounds.end());
        const CliRun history = run(arguments);
        EXPECT_EQ(history.status, 0) << history.err;
        return std::count(history.out.begin(), history.out.end(), '\n');
    };
    EXPECT_EQ(count({"--since", "2026-12-09 23:00"}), 3);  // 20:00 UTC
    EXPECT_EQ(count({"--since", "2026-12-09T20:00:00Z"}), 3);
    EXPECT_EQ(count({"--since", "2026-12-09T22:00+02:00"}), 3);
    EXPECT_EQ(count({"--since", "2026-12-09T22:59:59"}), 4);
    // A date is the whole local day, --until included.
    EXPECT_EQ(count({"--since", "2026-12-10"}), 2);
    EXPECT_EQ(count({"--until", "2026-12-09"}), 2);
    EXPECT_EQ(count({"--since", "2026-12-09T23:00", "--until", "2026-12-10T00:30"}), 2);
    EXPECT_EQ(count({"--until", "2026-12-09T20:00:00Z"}), 2);
    for (const char* refused : {"2026-99-99", "2026-02-30", "2026-12-09T24:00", "yesterday",
                                "2026-12-09T23:00+3", "2026-12-09T23", "2026-12-09Z", "12/09/2026",
                                "2026-12-09T23:00:00.5Z", "2026-12-09 23:00 "}) {
        const CliRun history = run({"history", "--store", store, "--since", refused});
        EXPECT_EQ(history.status, 2) << refused;
        EXPECT_THAT(history.err, HasSubstr("is not an ISO 8601 date or time")) << refused;
        EXPECT_EQ(run({"history", "--store", store, "--until", refused}).status, 2) << refused;
    }
}

// History only reads: it refuses, untouched, a missing file, another program's file and a
// damaged store, and a recipe name cannot forge a line of its report.
TEST_F(CliProductionTest, HistoryReadsOnlyAndEscapesWhatTheStoreHolds) {
    const std::string missing = tempPath("mistyped.sqlite");
    const CliRun none = run({"history", "--store", missing});
    EXPECT_EQ(none.status, 4);
    EXPECT_THAT(none.err, HasSubstr("no store"));
    EXPECT_FALSE(std::filesystem::exists(missing));
    const std::string other = tempPath("other.sqlite");
    std::ofstream(other) << "a text file, not a database\n";
    EXPECT_EQ(run({"history", "--store", other}).status, 4);
    EXPECT_EQ(std::filesystem::file_size(other), 28u);

    const std::string store = tempPath("line.sqlite");
    RunRecord forged = StoredRun("0x01", "2026-12-09T10:00:00Z");
    forged.recipe = "k350a\n2026-12-09T10:00:01Z  0002  0xFF  bench-9 1-1  passed\x1b[2K\t\xC2\x9B";
    OpenRunStore(store)->beginRun(forged);
    const CliRun text = run({"history", "--store", store});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1);
    EXPECT_THAT(text.out, HasSubstr("recipe k350a\\n2026-12-09T10:00:01Z"));
    EXPECT_THAT(text.out, HasSubstr("passed\\x1B[2K\\t\\x9B"));
    const CliRun json = run({"history", "--store", store, "--json"});
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1);

    // A damaged schema row: a clear message and status 4 from history and from a station.
    SqliteConnection(store).run("UPDATE k350_schema SET version = 'one'");
    const CliRun damaged = run({"history", "--store", store});
    EXPECT_EQ(damaged.status, 4);
    EXPECT_THAT(damaged.err, HasSubstr("damaged or not a k350 store"));
    plugBoards(1);
    const CliRun station = run({"station", "--image", tempPath("image.rom"), "--store", store,
                                "--boards", "1", "--code", full()});
    EXPECT_EQ(station.status, 4);
    EXPECT_THAT(station.err, HasSubstr("damaged or not a k350 store"));
}

// A period that ends before it begins is a mistyped bound: refused, not an empty history.
TEST_F(CliProductionTest, HistoryRefusesAnEndBeforeTheStart) {
    const std::string store = tempPath("line.sqlite");
    OpenRunStore(store)->beginRun(StoredRun("0x01", "2026-12-09T10:00:00Z"));
    const CliRun refused =
        run({"history", "--store", store, "--since", "2026-12-10", "--until", "2026-12-09"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("--until \"2026-12-09\" is not after --since "
                                       "\"2026-12-10\": the end of the period comes after its "
                                       "start"));
    EXPECT_TRUE(refused.out.empty());
    const CliRun day =
        run({"history", "--store", store, "--since", "2026-12-09", "--until", "2026-12-09"});
    EXPECT_EQ(day.status, 0) << day.err;
    EXPECT_EQ(std::count(day.out.begin(), day.out.end(), '\n'), 1);
}

// A spreadsheet opening the history runs no formula a recipe name or an error holds; the
// figures stay numbers.
TEST_F(CliProductionTest, HistoryCsvHoldsNoFormula) {
    const std::string store = tempPath("line.sqlite");
    auto runs = OpenRunStore(store);
    RunRecord forged = StoredRun("0x01", "2026-12-09T10:00:00Z");
    forged.recipe = "=HYPERLINK(\"http://evil\",\"open\")";
    forged.station = "@bench";
    forged.id = runs->beginRun(forged);
    forged.result = RunResult::Failed;
    forged.failedStep = "flash";
    forged.error = "-1+cmd|' /C calc'!A0";
    forged.soakJitterMs = -0.5;
    runs->finishRun(forged);
    const CliRun csv = run({"history", "--store", store, "--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_THAT(csv.out, HasSubstr(",\"'=HYPERLINK(\"\"http://evil\"\",\"\"open\"\")\","));
    EXPECT_THAT(csv.out, HasSubstr(",'@bench,"));
    EXPECT_THAT(csv.out, HasSubstr(",'-1+cmd|' /C calc'!A0,"));
    EXPECT_THAT(csv.out, HasSubstr(",-0.5000,"));  // a plain number stays one
}

// A bench name from a .env file saved as cp1251 is refused at the start in one line, before the
// store is even opened: no serial is taken for a board the store would then refuse.
TEST_F(CliProductionTest, AStationRefusesABenchNameThatIsNotUtf8) {
    plugBoards(1);
    const std::string store = tempPath("line.sqlite");
    variables["K350_STATION"] = "\xF1\xF2\xE5\xED\xE4-2";  // "стенд-2" in cp1251
    const CliRun refused = run({"station", "--image", tempPath("image.rom"), "--store", store,
                                "--boards", "1", "--code", full()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              "k350ctl: the bench name \"\\xF1\\xF2\\xE5\\xED\\xE4-2\" (the host's, or "
              "K350_STATION) is not UTF-8: \\xF1 at byte 1 (a file saved in another encoding, "
              "such as cp1251?); write it in UTF-8\n");
    EXPECT_FALSE(std::filesystem::exists(store));
    variables["K350_STATION"] = "bench\x1b[2J";
    EXPECT_THAT(
        run({"station", "--image", tempPath("image.rom"), "--store", store, "--code", full()}).err,
        HasSubstr("holds a control character: \\x1B at byte 6"));
    variables["K350_STATION"] = "bench-2";
    std::ofstream(tempPath("line.toml"))
        << "name = \"line\\u0007 2\"\n[firmware]\nimage = \"" << tempPath("image.rom") << "\"\n";
    const CliRun recipe =
        run({"station", "--recipe", tempPath("line.toml"), "--store", store, "--code", full()});
    EXPECT_EQ(recipe.status, 2);
    EXPECT_THAT(recipe.err, HasSubstr("the recipe name \"line\\x07 2\" (its name, or its file's) "
                                      "holds a control character"));
    EXPECT_FALSE(std::filesystem::exists(store));
    variables["K350_STATION"] = "стенд-2";
    const CliRun taken = run({"station", "--image", tempPath("image.rom"), "--store", store,
                              "--boards", "1", "--code", full()});
    EXPECT_EQ(taken.status, 0) << taken.err;
    EXPECT_EQ(OpenRunStore(store)->history({}).at(0).station, "стенд-2");
}

// The operator and the lot are checked as the bench name is, at the start, before the store is
// opened; a run then keeps them with the k350ctl's version and the recipe file's digest.
TEST_F(CliProductionTest, AStationRecordsWhereEachBoardCameFrom) {
    plugBoards(1);
    const std::string store = tempPath("line.sqlite");
    const std::vector<std::string> station{"station", "--image", tempPath("image.rom"),
                                           "--store", store,     "--boards",
                                           "1",       "--code",  full()};
    const auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = station;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return run(arguments);
    };
    variables["K350_OPERATOR"] = "\xC8\xE2\xE0\xED\xEE\xE2\xE0";  // cp1251
    CliRun refused = with({});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("the operator \"\\xC8\\xE2\\xE0\\xED\\xEE\\xE2\\xE0\" "
                                       "(--operator, or K350_OPERATOR) is not UTF-8"));
    EXPECT_EQ(with({"--operator", "Ivanova\n"}).status, 2);
    refused = with({"--operator", "Ivanova", "--lot", "L-1\x1b[2J"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("the lot \"L-1\\x1B[2J\" (--lot, or the recipe's lot) "
                                       "holds a control character"));
    EXPECT_THAT(with({"--operator", "Ivanova", "--lot", std::string(65, 'L')}).err,
                HasSubstr("has 65 characters; at most 64 are kept"));
    EXPECT_FALSE(std::filesystem::exists(store));

    variables["K350_OPERATOR"] = "Иванова";
    std::ofstream(tempPath("line.toml"))
        << "name = \"line 2\"\nlot = \"W50\"\n[firmware]\nimage = \"" << tempPath("image.rom")
        << "\"\n";
    const CliRun taken = run({"station", "--recipe", tempPath("line.toml"), "--store", store,
                              "--boards", "1", "--code", full()});
    ASSERT_EQ(taken.status, 0) << taken.err;
    const RunRecord recorded = OpenRunStore(store)->history({}).at(0);
    EXPECT_EQ(recorded.operatorName, "Иванова");
    EXPECT_EQ(recorded.lot, "W50");
    const std::string version = run({"--version"}).out;  // "k350ctl 1.0.0\n"
    EXPECT_EQ("k350ctl " + recorded.programVersion + "\n", version);
    std::ifstream recipe(tempPath("line.toml"), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(recipe), {}};
    EXPECT_EQ(recorded.recipeSha256, Sha256Hex({bytes.begin(), bytes.end()}));
    const CliRun json = run({"history", "--json", "--store", store});
    EXPECT_THAT(json.out, HasSubstr("\"operator\":\"Иванова\",\"lot\":\"W50\""));
}

TEST_F(CliProductionTest, ReferenceBoardsAreMarkedListedAndUnmarked) {
    const std::string store = tempPath("line.sqlite");
    EXPECT_EQ(run({"reference", "mark", "0x350A01", "--store", store}).status, 2);  // no kind
    EXPECT_EQ(run({"reference", "mark", "0x350A01", "--kind", "gold", "--store", store}).status, 2);
    EXPECT_EQ(run({"reference", "wipe", "0x350A01", "--store", store}).status, 2);
    EXPECT_EQ(run({"reference", "unmark", "--store", store}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(store));
    ASSERT_EQ(run({"reference", "mark", "0x350A01", "--kind", "golden", "--note", "fixture 1",
                   "--store", store})
                  .status,
              0);
    ASSERT_EQ(
        run({"reference", "mark", "0x350A02", "--kind", "known-bad", "--store", store}).status, 0);
    // Marked again: the kind replaced.
    ASSERT_EQ(run({"reference", "mark", "0x350A02", "--kind", "golden", "--store", store}).status,
              0);
    const CliRun listed = run({"reference", "list", "--json", "--store", store});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, HasSubstr("{\"die_id\":\"0x350A01\",\"kind\":\"golden\",\"note\":"
                                      "\"fixture 1\",\"marked_at\":\""));
    EXPECT_THAT(listed.out,
                HasSubstr("{\"die_id\":\"0x350A02\",\"kind\":\"golden\",\"note\":null"));
    EXPECT_EQ(run({"reference", "unmark", "0x350A02", "--store", store}).status, 0);
    const CliRun again = run({"reference", "unmark", "0x350A02", "--store", store});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "k350ctl: the board \"0x350A02\" is not a reference board\n");
    EXPECT_THAT(run({"reference", "list", "--store", store}).out,
                ::testing::StartsWith("0x350A01  golden  "));
}
