// k350ctl list and read against simulated boards, and how it chooses a board.
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/ConfigFile.h"
#include "tests/support/CliFixture.h"
#include "tests/support/FileBytes.h"
#include "tests/support/SimTime.h"

namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class CliReadTest : public CliFixture {};

TEST_F(CliReadTest, ReadSendsExactlyTheTerminalsTransfersAndSavesWhatSaveWould) {
    auto boards = plugBoards(1);
    runAsTerminal(WorkerRequest::ReadConfig, {WindowId::FRead});
    const auto terminal = wireOf(boards[0]);

    boards = plugBoards(1);
    const std::string path = tempPath("board.kcf");
    const CliRun result = run({"read", "-o", path});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(wireOf(boards[0]), terminal);
    EXPECT_TRUE(result.out.empty());

    k350sim::Bytes expected = k350sim::plausibleConfiguration(0);
    const auto die = dieIdFor(1);
    const auto chip = k350sim::BoardOptions{}.chipId;
    expected.insert(expected.end(), die.begin(), die.end());
    expected.insert(expected.end(), chip.begin(), chip.end());
    EXPECT_EQ(ReadFileBytes(path), expected);
    ConfigSnapshot loaded;
    EXPECT_EQ(LoadConfigFile(path, TCrc(), loaded), LoadResult::Ok);
}

TEST_F(CliReadTest, ReadRefreshesAStaleCrcAsSaveDoes) {
    auto boards = plugBoards(1);
    k350sim::setEeprom(boards[0], 0, {0x00, 0x00});
    const std::string path = tempPath("stale.kcf");
    const CliRun result = run({"read", "-o", path});
    ASSERT_EQ(result.status, 0);
    EXPECT_THAT(result.err, HasSubstr("warning: the board's stored CRC word does not match"));
    ConfigSnapshot loaded;
    EXPECT_EQ(LoadConfigFile(path, TCrc(), loaded), LoadResult::Ok);
    EXPECT_THAT(run({"read", "-o", path, "--json"}).out, HasSubstr("\"stored_crc_matched\":false"));
}

TEST_F(CliReadTest, ReadWithoutOutputWritesTheDefaultNameInTheCurrentFolder) {
    plugBoards(1);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(tempPath(""));
    const CliRun result = run({"read"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFileBytes(tempPath("K350xx.kcf")).size(), 156u);
}

TEST_F(CliReadTest, ReadToStandardOutputAndAsJson) {
    plugBoards(1);
    CliRun raw = run({"read", "-o", "-"});
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.out.size(), 156u);
    CliRun json = run({"read", "--json", "-o", tempPath("{die}.kcf")});
    EXPECT_EQ(json.status, 0);
    EXPECT_THAT(json.out, HasSubstr("\"die_id\":\"0x350A012345678901\""));
    EXPECT_THAT(json.out, HasSubstr("350A012345678901.kcf\""));
    EXPECT_EQ(ReadFileBytes(tempPath("350A012345678901.kcf")).size(), 156u);
}

TEST_F(CliReadTest, AFileThatCannotBeWrittenIsStatusFourAndLeavesNothing) {
    plugBoards(1);
    const CliRun result = run({"read", "-o", tempPath("missing/dir.kcf")});
    EXPECT_EQ(result.status, 4);
    EXPECT_THAT(result.err, HasSubstr("cannot be created"));
}

TEST_F(CliReadTest, ALinkFailureIsStatusOneWithTheTerminalsCodeAndAHint) {
    plugBoards(1);
    k350sim::failTransfer(4, -110);  // the read request's reply, after size and identification
    const CliRun result = run({"read", "-o", tempPath("x.kcf")});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Error: -110 (the board did not answer in time"));
    EXPECT_FALSE(std::filesystem::exists(tempPath("x.kcf")));
}

TEST_F(CliReadTest, NoBoardIsStatusThree) {
    k350sim::reset();
    k350sim::addBus();
    EXPECT_EQ(run({"read", "-o", tempPath("x.kcf")}).status, 3);
    EXPECT_EQ(run({"list"}).status, 3);
}

TEST_F(CliReadTest, TwoBoardsWithoutAChoiceAreRefusedWithTheList) {
    plugBoards(2);
    const CliRun result = run({"read", "-o", tempPath("x.kcf")});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, HasSubstr("0x350A012345678901"));
    EXPECT_THAT(result.err, HasSubstr("0x350A012345678902"));
    EXPECT_FALSE(std::filesystem::exists(tempPath("x.kcf")));
}

TEST_F(CliReadTest, BoardIsChosenByLocationOrByDieIdPrefix) {
    const auto boards = plugBoards(2);
    const std::string path = tempPath("x.kcf");
    const CliRun list = run({"list"});
    ASSERT_EQ(list.status, 0);
    const std::string second = list.out.substr(list.out.find('\n') + 1, 7);

    k350sim::clearLog();
    ASSERT_EQ(run({"read", "--board", second, "-o", path}).status, 0);
    EXPECT_EQ(ReadFileBytes(path)[147], 0x02);
    EXPECT_TRUE(wireOf(boards[0]).empty()) << "a location is chosen without opening any board";

    ASSERT_EQ(run({"read", "--board", "0x350a012345678901", "-o", path}).status, 0);
    EXPECT_EQ(ReadFileBytes(path)[147], 0x01);
    ASSERT_EQ(run({"read", "--board", "350A0123456789", "-o", path}).status, 2);
    EXPECT_EQ(run({"read", "--board", "350B", "-o", path}).status, 3);
    EXPECT_EQ(run({"read", "--board", "009/009", "-o", path}).status, 3);
}

TEST_F(CliReadTest, ListShowsEveryBoardWithItsModeOrWhyItCannotBeUsed) {
    k350sim::reset();
    const int bus = k350sim::addBus();
    k350sim::addBoard(bus);
    k350sim::addOtherDevice(bus, 0x046D, 0xC077);
    k350sim::BoardOptions boot;
    boot.bootMode = true;
    k350sim::addBoard(bus, boot);
    k350sim::BoardOptions locked;
    locked.cannotOpen = true;
    k350sim::addBoard(k350sim::addBus(), locked);
    RunSimOnClock(clock);

    const CliRun text = run({"list"});
    ASSERT_EQ(text.status, 0);
    EXPECT_THAT(text.out, MatchesRegex("001/[0-9]{3} \\(port 1-[0-9]+\\)  normal  capacity 512  "
                                       "die 0x350A0123456789AB  chip 0x5449000550C10207\n"
                                       "001/[0-9]{3} \\(port 1-[0-9]+\\)  boot  [^\n]*\n"
                                       "002/[0-9]{3}( \\(port 2-[0-9]+\\))?  unusable  access to "
                                       "the board was refused[^\n]*\n"));

    const CliRun json = run({"list", "--json"});
    EXPECT_THAT(json.out,
                ContainsRegex("\"bus\":\"001\",\"device\":\"[0-9]{3}\","
                              "\"port\":\"1-[0-9]+\",\"mode\":\"boot\",\"capacity\":null"));
}

TEST_F(CliReadTest, UsageErrorsAreStatusTwo) {
    plugBoards(1);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"read", "--verify"},
                                               {"read", "--all", "-o", "same.kcf"},
                                               {"read", "-o"},
                                               {"read", "--all", "--board", "001/001"},
                                               {"write"},
                                               {"stats", "--period", "0"},
                                               {"diff", "a"}}) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_THAT(result.err, HasSubstr("k350ctl: "));
    }
    const CliRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("k350ctl ")) << version.out;
    EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
    EXPECT_TRUE(version.out.ends_with("\n")) << version.out;
    const CliRun help = run({"read", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: k350ctl read"));
    EXPECT_FALSE(help.out.ends_with("\n\n"));
}

}  // namespace
