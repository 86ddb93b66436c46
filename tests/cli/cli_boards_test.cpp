// cli/Boards over link/BoardProbe and link/UsbScan: which boards the scan finds, what each probe
// says, and how a command's boards are chosen.
#include <gmock/gmock.h>

#include "cli/Boards.h"
#include "link/UsbScan.h"
#include "tests/support/CliFixture.h"
#include "tests/support/SimTime.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class CliBoardsTest : public CliFixture {
protected:
    std::ostringstream out, err;
    Environment environment{out, err, false, clock, nullptr, nullptr};
    Console console{environment};
};

TEST_F(CliBoardsTest, TheScanFindsOnlyBoardsInBusAndDeviceOrder) {
    k350sim::reset();
    const int first = k350sim::addBus();
    k350sim::addOtherDevice(first, 0x046D, 0xC077);
    k350sim::addBoard(first);
    k350sim::addBoard(k350sim::addBus());
    RunSimOnClock(clock);
    const auto locations = ScanBoards();
    ASSERT_EQ(locations.size(), 2u);
    EXPECT_EQ(locations[0].bus, "001");
    EXPECT_EQ(locations[1].bus, "002");
    EXPECT_TRUE(k350sim::transferLog().empty()) << "a scan sends nothing";
}

TEST_F(CliBoardsTest, TheProbeTellsNormalBootAndUnusableBoardsApart) {
    k350sim::reset();
    const int bus = k350sim::addBus();
    k350sim::addBoard(bus);
    k350sim::BoardOptions boot, locked, noInterface, driver;
    boot.bootMode = true;
    locked.cannotOpen = true;
    noInterface.refusesInterface0 = true;
    driver.kernelDriver = "cdc_acm";
    k350sim::addBoard(bus, boot);
    k350sim::addBoard(bus, locked);
    k350sim::addBoard(bus, noInterface);
    k350sim::addBoard(bus, driver);
    RunSimOnClock(clock);
    const auto probes = ProbeBoards(ScanBoards(), clock);
    ASSERT_EQ(probes.size(), 5u);
    EXPECT_EQ(probes[0].mode, BoardProbe::Mode::Normal);
    EXPECT_EQ(probes[0].capacity, 512u);
    EXPECT_EQ(DieIdOf(probes[0].ids), "0x350A0123456789AB");
    EXPECT_EQ(ChipIdOf(probes[0].ids), "0x5449000550C10207");
    EXPECT_EQ(probes[1].mode, BoardProbe::Mode::Boot);
    EXPECT_EQ(ProblemText(probes[1]), "");
    EXPECT_EQ(probes[2].mode, BoardProbe::Mode::Unusable);
    // The simulated board that cannot be opened refuses access, as a node without the udev
    // rule's rights does.
    EXPECT_THAT(ProblemText(probes[2]), StartsWith("access to the board was refused"));
    EXPECT_THAT(ProblemText(probes[2]), HasSubstr("70-k350.rules"));
    EXPECT_EQ(probes[3].mode, BoardProbe::Mode::Unusable);
    EXPECT_THAT(ProblemText(probes[3]), HasSubstr("interface cannot be claimed (Status: 2)"));
    EXPECT_THAT(DescribeProbe(probes[3]), HasSubstr("  unusable  the board's interface"));
    EXPECT_EQ(probes[3].interfaceDriver, "");
    EXPECT_EQ(ProblemText(probes[4]),
              "the board's interface cannot be claimed (Status: 2); the kernel driver cdc_acm "
              "holds it");
    EXPECT_THAT(ProbeJson(probes[1]),
                HasSubstr(R"("mode":"boot","capacity":null,"die_id":null,"chip_id":null,)"
                          R"("problem":null})"));
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(CliBoardsTest, ABoardIsChosenByLocationDieIdPrefixOrBeingTheOnlyOne) {
    plugBoards(1);
    EXPECT_EQ(ChooseBoards("", false, console).targets.size(), 1u);
    plugBoards(3);
    const auto locations = ScanBoards();
    const BoardChoice byLocation = ChooseBoards(locations[2].text(), false, console);
    ASSERT_EQ(byLocation.targets.size(), 1u);
    EXPECT_EQ(byLocation.targets[0], locations[2]);
    const BoardChoice byDieId = ChooseBoards("0x350a012345678902", false, console);
    ASSERT_EQ(byDieId.targets.size(), 1u);
    EXPECT_EQ(byDieId.targets[0], locations[1]) << "die IDs end in 01, 02, 03";
    EXPECT_EQ(ChooseBoards("350A", false, console).status, ExitStatus::Usage);
    EXPECT_EQ(ChooseBoards("350B", false, console).status, ExitStatus::NoBoard);
    EXPECT_EQ(ChooseBoards("", false, console).status, ExitStatus::Usage);
    EXPECT_EQ(ChooseBoards("", true, console).targets.size(), 3u);
}

TEST_F(CliBoardsTest, AllSkipsABootBoardAndCountsOneThatCannotBeOpened) {
    plugBoards(2);
    k350sim::BoardOptions boot, locked;
    boot.bootMode = true;
    locked.cannotOpen = true;
    k350sim::addBoard(0, boot);
    k350sim::addBoard(0, locked);
    const BoardChoice choice = ChooseBoards("", true, console);
    EXPECT_EQ(choice.targets.size(), 2u);
    ASSERT_EQ(choice.leftOut.size(), 2u);
    EXPECT_EQ(choice.leftOut[0].reason, "skipped, the board is in boot mode");
    EXPECT_THAT(choice.leftOut[1].reason, StartsWith("access to the board was refused"));
    EXPECT_THAT(err.str(), HasSubstr("skipped, the board is in boot mode"));
}

}  // namespace
