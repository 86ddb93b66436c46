// The simulated bus as the terminal sees it: enumeration, opening, replies, time, log and faults.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "tests/support/sim_host.h"

using namespace simtest;
namespace sim = k350sim;

namespace {

class SimUsb : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        RunSimOnClock(clock);
        bus = sim::addBus();
    }
    void TearDown() override { sim::reset(); }

    usb_dev_handle* openOnly(const sim::BoardOptions& options = {}) {
        board = sim::addBoard(bus, options);
        return openFirstBoard();
    }

    ::VirtualClock clock;
    int bus = 0;
    sim::DeviceId board = 0;
};

TEST_F(SimUsb, ListsBusesAndDevicesInOrderAndSkipsBoardsThatDoNotOpen) {
    sim::addOtherDevice(bus, 0x046D, 0xC077);
    sim::BoardOptions locked;
    locked.cannotOpen = true;
    sim::addBoard(bus, locked);
    const int second = sim::addBus();
    sim::BoardOptions other;
    other.dieId[0] = 0x77;
    const sim::DeviceId good = sim::addBoard(second, other);

    usb_init();
    EXPECT_EQ(usb_find_busses() + usb_find_devices(), 2 + 5);  // with the two root hubs
    usb_bus* first = usb_get_busses();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->next, nullptr);
    // Each bus begins with its root hub at address 1, as on a PC.
    EXPECT_EQ(first->devices->descriptor.idVendor, sim::kRootHubVendorId);
    EXPECT_EQ(first->devices->descriptor.bDeviceClass, USB_CLASS_HUB);
    EXPECT_EQ(first->root_dev, first->devices);
    EXPECT_STREQ(first->devices->filename, "001");
    EXPECT_EQ(first->devices->next->descriptor.idVendor, 0x046D);
    EXPECT_STREQ(first->devices->next->filename, "002");
    EXPECT_EQ(first->devices->next->next->descriptor.idProduct, sim::kBoardProductId);
    EXPECT_EQ(first->next->devices->bus, first->next);

    // The board advertises both configurations, in order, each with interface 0 and its
    // endpoints: 0x06 for the boot loader, 0x01 and 0x81 in normal mode.
    const struct usb_device* board = first->devices->next->next;
    ASSERT_EQ(board->descriptor.bNumConfigurations, 2);
    ASSERT_NE(board->config, nullptr);
    EXPECT_EQ(board->config[0].bConfigurationValue, 1);
    EXPECT_EQ(board->config[1].bConfigurationValue, 2);
    ASSERT_EQ(board->config[0].interface->altsetting->bNumEndpoints, 1);
    EXPECT_EQ(board->config[0].interface->altsetting->endpoint[0].bEndpointAddress, 0x06);
    ASSERT_EQ(board->config[1].interface->altsetting->bNumEndpoints, 2);
    EXPECT_EQ(board->config[1].interface->altsetting->endpoint[0].bEndpointAddress, 0x01);
    EXPECT_EQ(board->config[1].interface->altsetting->endpoint[1].bEndpointAddress, 0x81);

    const auto boards = scanBoards();
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(usb_open(boards[0]), nullptr);
    usb_dev_handle* handle = openBoard(boards[1]);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sim::configuration(good), 2);
    EXPECT_EQ(transact(handle, packet(1, 16, 0, 0x3800))[8], 0x77);
    EXPECT_EQ(usb_find_devices(), 0);  // nothing changed
    EXPECT_EQ(usb_close(handle), 0);
}

TEST_F(SimUsb, BoardsRefuseWhatTheirOptionsSay) {
    sim::BoardOptions noConfig;
    noConfig.refusesConfiguration2 = true;
    sim::BoardOptions noInterface;
    noInterface.refusesInterface0 = true;
    sim::addBoard(bus, noConfig);
    sim::addBoard(bus, noInterface);
    const auto boards = scanBoards();

    usb_dev_handle* handle = usb_open(boards[0]);
    EXPECT_EQ(usb_set_configuration(handle, 2), -EINVAL);
    EXPECT_EQ(usb_set_configuration(handle, 1), -EINVAL);
    usb_close(handle);
    handle = usb_open(boards[1]);
    EXPECT_EQ(usb_set_configuration(handle, 2), 0);
    EXPECT_LT(usb_claim_interface(handle, 0), 0);
    usb_close(handle);
    EXPECT_TRUE(sim::violations().empty());
}

// What holds the interface is told as the kernel tells it: a kernel driver by its name, another
// program's claim (or our own) as usbfs, none as no data.
TEST_F(SimUsb, TheDriverHoldingTheInterfaceIsNamed) {
    sim::BoardOptions driver;
    driver.kernelDriver = "cdc_acm";
    sim::BoardOptions held;
    held.refusesInterface0 = true;
    sim::addBoard(bus, driver);
    sim::addBoard(bus, held);
    sim::addBoard(bus);
    const auto boards = scanBoards();
    const auto driverOf = [](usb_dev_handle* handle, std::string& name) {
        char text[64] = "unchanged";
        const int result = usb_get_driver_np(handle, 0, text, sizeof text);
        name = text;
        return result;
    };
    std::string name;
    for (const auto& [board, claims, said] :
         {std::tuple{boards[0], -EBUSY, "cdc_acm"}, std::tuple{boards[1], -EBUSY, "usbfs"}}) {
        usb_dev_handle* handle = usb_open(board);
        EXPECT_EQ(usb_set_configuration(handle, 2), 0);
        EXPECT_EQ(usb_claim_interface(handle, 0), claims);
        EXPECT_EQ(driverOf(handle, name), 0);
        EXPECT_EQ(name, said);
        usb_close(handle);
    }
    usb_dev_handle* handle = usb_open(boards[2]);
    EXPECT_EQ(usb_set_configuration(handle, 2), 0);
    EXPECT_EQ(driverOf(handle, name), -ENODATA);
    EXPECT_EQ(usb_claim_interface(handle, 0), 0);
    EXPECT_EQ(driverOf(handle, name), 0);
    EXPECT_EQ(name, "usbfs");
    usb_close(handle);
}

TEST_F(SimUsb, BootModeBoardCollectsRawBytesOnEndpoint6Only) {
    sim::BoardOptions boot;
    boot.bootMode = true;
    board = sim::addBoard(bus, boot);
    EXPECT_EQ(openFirstBoard(2), nullptr);
    usb_dev_handle* handle = openFirstBoard(1);
    ASSERT_NE(handle, nullptr);
    const char block[3] = {1, 2, 3};
    EXPECT_EQ(usb_bulk_write(handle, 0x06, block, 3, 1000), 3);
    EXPECT_EQ(usb_bulk_write(handle, 0x06, block, 2, 1000), 2);
    EXPECT_EQ(sim::bootBytes(board), (Bytes{1, 2, 3, 1, 2}));
    EXPECT_TRUE(sim::violations().empty());
    EXPECT_EQ(sendRequest(handle, packet(0, 0x4000)), -EINVAL);  // no command endpoint in boot mode
    EXPECT_EQ(sim::violations().size(), 1u);
}

TEST_F(SimUsb, AnswersCapacityAndIdentificationInPacketsAsARealBoardSendsThem) {
    sim::BoardOptions options;
    options.capacity = 1000;
    usb_dev_handle* handle = openOnly(options);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}), (Bytes{0, 0, 0xE8, 0x03}));

    const Bytes id = transact(handle, packet(1, 16, 0, 0x3800));
    Bytes expected = packet(1, 16, 0, 0x3800);
    expected.insert(expected.end(), options.dieId.begin(), options.dieId.end());
    expected.insert(expected.end(), options.chipId.begin(), options.chipId.end());
    EXPECT_EQ(id, expected);

    // A read the reply does not fit ends in a packet that overflows it: no library hands back
    // the first bytes of a longer reply.
    ASSERT_EQ(sendRequest(handle, packet(1, 16, 0, 0x3800)), 8);
    int result = 0;
    EXPECT_TRUE(readReply(handle, result, 10).empty());
    EXPECT_EQ(result, -EOVERFLOW);
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(SimUsb, ReadsOfWholePacketsTakeALongReplyInParts) {
    sim::BoardOptions options;
    options.capacity = 200;
    usb_dev_handle* handle = openOnly(options);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(sendRequest(handle, Bytes{3, 0, 140, 0, 2, 0, 0x50, 0, 0, 0}), 10);
    int result = 0;
    EXPECT_EQ(readReply(handle, result, 64).size(), 64u);
    EXPECT_EQ(readReply(handle, result, 64).size(), 64u);
    EXPECT_EQ(readReply(handle, result, 64).size(), 148u - 128u);
    EXPECT_EQ(result, 20);
}

TEST_F(SimUsb, ADelayedReplyComesWithinTheReadsTimeOrWithTheNextRead) {
    usb_dev_handle* handle = openOnly();
    sim::delayReply(board, 0, 40'000);
    ASSERT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}), 4);
    int64_t start = clock.nowUs();
    int result = 0;
    EXPECT_EQ(readReply(handle, result, 4, 100).size(), 4u);
    EXPECT_EQ(clock.nowUs() - start, 40'000 + 1000);  // waited for it, then the read's frame

    sim::delayReply(board, 0, 150'000);
    ASSERT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}), 4);
    start = clock.nowUs();
    readReply(handle, result, 4, 100);
    EXPECT_EQ(result, -ETIMEDOUT);
    EXPECT_EQ(clock.nowUs() - start, 100'000);
    EXPECT_EQ(readReply(handle, result, 4, 100).size(), 4u);  // still on its way, then here
}

TEST_F(SimUsb, EveryTransferCostsAFrameAndATimeoutItsLength) {
    usb_dev_handle* handle = openOnly();
    const int64_t start = clock.nowUs();
    transact(handle, Bytes{0, 0, 0, 0x40});
    EXPECT_EQ(clock.nowUs() - start, 2000);
    int result = 0;
    readReply(handle, result, 100, 250);
    EXPECT_EQ(result, -ETIMEDOUT);
    EXPECT_EQ(clock.nowUs() - start, 2000 + 250'000);
}

TEST_F(SimUsb, LogsEveryCallWithItsBytesAndTime) {
    usb_dev_handle* handle = openOnly();
    sim::clearLog();
    clock.advanceUs(5000 - clock.nowUs());
    transact(handle, Bytes{0, 0, 0, 0x40}, 100);
    usb_release_interface(handle, 0);
    usb_close(handle);

    const auto log = sim::transferLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].kind, sim::TransferKind::Write);
    EXPECT_EQ(log[0].endpoint, 0x01);
    EXPECT_EQ(log[0].data, (Bytes{0, 0, 0, 0x40}));
    EXPECT_EQ(log[0].timeoutMs, 100);
    EXPECT_EQ(log[0].timeUs, 5000);
    EXPECT_EQ(log[0].result, 4);
    EXPECT_EQ(log[1].kind, sim::TransferKind::Read);
    EXPECT_EQ(log[1].endpoint, 0x81);
    EXPECT_EQ(log[1].size, 4096);
    EXPECT_EQ(log[1].data, (Bytes{0, 0, 0, 2}));
    EXPECT_EQ(log[1].timeUs, 6000);
    EXPECT_EQ(log[2].kind, sim::TransferKind::ReleaseInterface);
    EXPECT_EQ(log[3].kind, sim::TransferKind::Close);
    EXPECT_EQ(log[3].device, board);
    EXPECT_EQ(sim::requests(), std::vector<Bytes>{log[0].data});
}

TEST_F(SimUsb, UnpluggedBoardFailsUntilRescannedAndReplugged) {
    usb_dev_handle* handle = openOnly();
    struct usb_device* stale = usb_get_busses()->devices->next;  // behind the root hub
    sim::unplug(board);
    EXPECT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}), -ENODEV);
    EXPECT_EQ(usb_get_busses()->devices->next, stale);  // the list is as the last scan left it
    EXPECT_EQ(usb_open(stale), nullptr);
    EXPECT_TRUE(scanBoards().empty());
    usb_close(handle);

    sim::replug(board);
    handle = openFirstBoard();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(usb_open(stale), nullptr);  // the old entry stays dead
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}).size(), 4u);

    sim::unplugAtTransfer(1);
    EXPECT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}), 4);
    int result = 0;
    readReply(handle, result);
    EXPECT_EQ(result, -ENODEV);
    EXPECT_EQ(usb_set_configuration(handle, 2), -ENODEV);
}

TEST_F(SimUsb, FailsTheNthTransferWithTheGivenErrorOrTimeout) {
    usb_dev_handle* handle = openOnly();
    sim::failTransfer(1, -EIO);
    sim::failTransfer(2, -ETIMEDOUT);
    EXPECT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}), 4);
    int result = 0;
    readReply(handle, result);
    EXPECT_EQ(result, -EIO);
    const int64_t before = clock.nowUs();
    EXPECT_EQ(sendRequest(handle, Bytes{0, 0, 0, 0x40}, 100), -ETIMEDOUT);
    EXPECT_EQ(clock.nowUs() - before, 100'000);
    readReply(handle, result);
    EXPECT_EQ(result, -ETIMEDOUT);  // neither request reached the board's reply queue
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}).size(), 4u);
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(SimUsb, CutsAndRecodesPlannedReplies) {
    usb_dev_handle* handle = openOnly();
    sim::shortReply(0, 3);
    sim::wrongReplyCode(1, 7);
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}), (Bytes{0, 0, 0}));
    EXPECT_EQ(word(transact(handle, packet(1, 16, 0, 0x3800)), 0), 7);
    EXPECT_EQ(word(transact(handle, packet(1, 16, 0, 0x3800)), 0), 1);
    sim::setCapacity(board, 0);
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}), (Bytes{0, 0, 0, 0}));
}

TEST_F(SimUsb, ReplyHookReplacesDropsOrFailsReplies) {
    usb_dev_handle* handle = openOnly();
    int mode = 0;
    sim::setReplyHook([&](sim::DeviceId device, const Bytes& request, Bytes& reply) {
        EXPECT_EQ(device, board);
        EXPECT_EQ(request.size(), 4u);
        if (mode == 0) reply = {9, 9};
        return mode == 0 ? 0 : mode == 1 ? 1 : -EPIPE;
    });
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}), (Bytes{9, 9}));
    mode = 1;
    int result = 0;
    sendRequest(handle, Bytes{0, 0, 0, 0x40});
    readReply(handle, result);
    EXPECT_EQ(result, -ETIMEDOUT);
    mode = 2;
    sendRequest(handle, Bytes{0, 0, 0, 0x40});
    readReply(handle, result);
    EXPECT_EQ(result, -EPIPE);
    sim::setReplyHook(nullptr);
}

TEST_F(SimUsb, RecordsRequestsARealBoardWouldNotTake) {
    sim::BoardOptions options;
    options.capacity = 8;
    usb_dev_handle* handle = openOnly(options);
    sendRequest(handle, packet(4, 0, 0, 0, Bytes(8, 1)));
    EXPECT_TRUE(sim::violations().empty());
    sendRequest(handle,
                packet(4, 0, 0, 0, Bytes(9, 1)));  // overruns the buffer; and the reply was unread
    EXPECT_EQ(sim::violations().size(), 2u);
    int result = 0;
    readReply(handle, result);
    EXPECT_EQ(result, -ETIMEDOUT);
    sim::clearViolations();
    transact(handle, packet(42));
    transact(handle, packet(3, 0, 0, 0x33));
    EXPECT_EQ(sim::violations().size(), 2u);
}

TEST(SimDefaultWorld, BuildsOneBoardFromTheEnvironmentAndKeepsItsState) {
    const auto state =
        std::filesystem::temp_directory_path() / ("k350sim-state-" + std::to_string(getpid()));
    std::filesystem::remove(state);
    setenv("K350_SIM_BOARD", "B", 1);
    setenv("K350_SIM_CAPACITY", "100", 1);
    setenv("K350_SIM_STATE", state.c_str(), 1);
    sim::buildDefaultWorld();
    usb_dev_handle* handle = openFirstBoard();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(transact(handle, Bytes{0, 0, 0, 0x40}), (Bytes{0, 0, 100, 0}));
    const Bytes record = payloadOf(transact(handle, packet(3, 140, 2, 0x50, {0, 0})));
    ASSERT_EQ(record.size(), 100u);  // capped at the capacity
    EXPECT_EQ(record[56], 1);
    const Bytes full = sim::plausibleConfiguration(1);
    EXPECT_EQ(record, Bytes(full.begin(), full.begin() + 100));
    EXPECT_EQ(full[0] | full[1] << 8, sim::configurationCrc(full));
    transact(handle, packet(3, 0, 3, 0x50, {0x01, 0x00, 0x5A}));
    usb_close(handle);

    sim::buildDefaultWorld();  // next run: the EEPROM comes back from the file
    handle = openFirstBoard();
    EXPECT_EQ(payloadOf(transact(handle, packet(3, 1, 2, 0x50, {0x01, 0x00}))), Bytes{0x5A});

    setenv("K350_SIM_BOARD", "none", 1);
    sim::buildDefaultWorld();
    EXPECT_TRUE(scanBoards().empty());
    unsetenv("K350_SIM_BOARD");
    unsetenv("K350_SIM_CAPACITY");
    unsetenv("K350_SIM_STATE");
    std::filesystem::remove(state);
    sim::reset();
}

TEST(SimCrc, MatchesTheBoardsCrcWord) {
    const Bytes digits{0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::configurationCrc(digits), 0xC8B4);
    EXPECT_EQ(sim::configurationCrc(Bytes(140, 0)), 0xECFD);
}

TEST(SimThreads, ControlCallsRunBesideTheWorkersTransfers) {
    sim::reset();
    const sim::DeviceId board = sim::addBoard(sim::addBus());
    std::atomic<bool> done{false};
    std::thread worker([&] {
        usb_dev_handle* handle = openFirstBoard();
        for (int i = 0; i < 500; ++i) {
            transact(handle, packet(6), 100);
            transact(handle, packet(8, 1, 68), 100);
        }
        usb_close(handle);
        done = true;
    });
    while (!done) {
        sim::pushTraceRecord(board, {0, 2, 1});
        sim::statistics(board);
        sim::transferLog();
        sim::failTransfer(3, -EIO);
    }
    worker.join();
    EXPECT_GT(sim::requests().size(), 900u);
    sim::reset();
}

}  // namespace
