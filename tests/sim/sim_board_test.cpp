// The devices behind the simulated board's commands: EEPROM, flash, codec, amplifier,
// settings, statistics and trace, driven with command packets on a virtual clock.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/sim_host.h"

using namespace simtest;
namespace sim = k350sim;

namespace {

constexpr uint16_t kEeprom = 0x50;

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        RunSimOnClock(clock);
        board = sim::addBoard(sim::addBus());
        handle = openFirstBoard();
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override { sim::reset(); }

    Bytes i2cWrite(uint16_t slave, const Bytes& bytes) {
        return transact(handle, packet(3, 0, uint16_t(bytes.size()), slave, bytes));
    }
    Bytes eepromRead(uint16_t address, uint16_t count) {
        return payloadOf(transact(
            handle, packet(3, count, 2, kEeprom, {uint8_t(address >> 8), uint8_t(address)})));
    }
    Bytes spi(uint16_t readCount, const Bytes& out) {
        return payloadOf(transact(handle, packet(2, readCount, uint16_t(out.size()), 4, out)));
    }
    uint8_t flashStatus() { return spi(1, {0x05}).at(0); }
    void waitReady() {
        for (int polls = 0; flashStatus() & 1; ++polls) ASSERT_LT(polls, 1000);
    }
    void settle(int64_t us) { clock.advanceUs(us); }

    ::VirtualClock clock;
    sim::DeviceId board = 0;
    usb_dev_handle* handle = nullptr;
};

TEST_F(SimBoard, EepromWritesWrapInsideTheirPageAndReadsRunOn) {
    Bytes data(10);
    for (int i = 0; i < 10; ++i) data[i] = uint8_t(0xA0 + i);
    Bytes request{0x01, 0x3C};  // 4 bytes before the end of the page at 0x100
    request.insert(request.end(), data.begin(), data.end());
    EXPECT_EQ(i2cWrite(kEeprom, request), packet(3, 0, 12, kEeprom));
    settle(5000);
    const Bytes memory = sim::eeprom(board);
    EXPECT_EQ(Bytes(memory.begin() + 0x13C, memory.begin() + 0x140),
              Bytes(data.begin(), data.begin() + 4));
    EXPECT_EQ(Bytes(memory.begin() + 0x100, memory.begin() + 0x106),
              Bytes(data.begin() + 4, data.end()));
    EXPECT_EQ(memory[0x140], 0xFF);
    EXPECT_EQ(eepromRead(0x013E, 4), (Bytes{0xA2, 0xA3, 0xFF, 0xFF}));  // reads cross pages
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(SimBoard, EepromDoesNotAnswerDuringItsWriteCycle) {
    sim::setEeprom(board, 0, {1, 2, 3});
    i2cWrite(kEeprom, {0x00, 0x10, 0x55});
    EXPECT_TRUE(eepromRead(0, 3).empty());
    ASSERT_EQ(sim::violations().size(), 1u);
    settle(5000);
    EXPECT_EQ(eepromRead(0, 3), (Bytes{1, 2, 3}));
}

TEST_F(SimBoard, FlashEraseAndProgramNeedWriteEnableAndWaitWhileBusy) {
    EXPECT_EQ(flashStatus(), 0x00);
    spi(0, {0x02, 0x00, 0x00, 0x00, 0x12});  // no write enable: ignored
    EXPECT_EQ(sim::flash(board)[0], 0xFF);
    EXPECT_EQ(sim::violations().size(), 1u);
    sim::clearViolations();

    spi(0, {0x06});
    EXPECT_EQ(flashStatus(), 0x02);
    sim::setFlash(board, 0x9000, {0x00});
    spi(0, {0xD8, 0x00, 0x9F, 0x00});
    EXPECT_EQ(flashStatus(), 0x01);  // busy, latch cleared
    spi(0, {0x06});                  // ignored while busy
    EXPECT_EQ(sim::violations().size(), 1u);
    settle(240'000);
    EXPECT_EQ(flashStatus() & 1, 1);
    settle(10'000);
    EXPECT_EQ(flashStatus(), 0x00);
    EXPECT_EQ(sim::flash(board)[0x9000], 0xFF);
    EXPECT_EQ(sim::eraseLog(board), std::vector<uint32_t>{0x8000});
}

TEST_F(SimBoard, FlashProgramOnlyClearsBitsAndWrapsInItsPage) {
    sim::setFlash(board, 0x1FE, {0xF0});
    spi(0, {0x06});
    spi(0, {0x02, 0x00, 0x01, 0xFE, 0x3C, 0x11, 0x22, 0x33});
    waitReady();  // the clock does not move but the transfers do
    spi(0, {0x06});
    spi(0, {0x02, 0x00, 0x01, 0xFF, 0x0F});
    waitReady();
    const Bytes memory = sim::flash(board);
    EXPECT_EQ(memory[0x1FE], 0x30);
    EXPECT_EQ(memory[0x1FF], 0x11 & 0x0F);
    EXPECT_EQ(memory[0x100], 0x22);
    EXPECT_EQ(memory[0x101], 0x33);
    EXPECT_EQ(memory[0x200], 0xFF);
    EXPECT_EQ(spi(3, {0x03, 0x00, 0x01, 0xFF}), (Bytes{0x01, 0xFF, 0xFF}));
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(SimBoard, FlashThatNeverBecomesReady) {
    sim::setFlashNeverReady(board, true);
    settle(10'000'000);
    EXPECT_EQ(flashStatus() & 1, 1);
}

TEST_F(SimBoard, CodecAmplifierRecorderAndVocoderKeepWhatTheyGet) {
    i2cWrite(0x1A, {0x0C, 0x12});
    i2cWrite(0x1A, {0x11, 0x01});  // register 8, data bit 8 set
    i2cWrite(0x4B, {0xD6});
    i2cWrite(0x4B, {0x28});
    transact(handle, packet(4, 0, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(word(transact(handle, packet(7, 0, 0, 0, {9, 8, 7, 6, 5, 4})), 0), 7);

    EXPECT_EQ(sim::codecRegisters(board)[6], 0x12);
    EXPECT_EQ(sim::codecRegisters(board)[8], 0x101);
    ASSERT_EQ(sim::codecWrites(board).size(), 2u);
    EXPECT_EQ(sim::codecWrites(board)[1].reg, 8);
    EXPECT_EQ(sim::amplifierBytes(board), (Bytes{0xD6, 0x28}));
    EXPECT_EQ(sim::recorderSettings(board), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(sim::vocoderSettings(board), (Bytes{9, 8, 7, 6, 5, 4}));
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(SimBoard, StatisticsAdvanceWithTimeAndResetOnRequest) {
    settle(10'000'000);
    const Bytes reply = transact(handle, packet(8, 1, 68), 100);
    ASSERT_EQ(reply.size(), 8u + 68u);
    EXPECT_EQ(word(reply, 0), 8);
    auto wordAt = [&](int k) {
        return uint32_t(reply[8 + 4 * k]) << 24 | reply[9 + 4 * k] << 16 | reply[10 + 4 * k] << 8 |
               reply[11 + 4 * k];
    };
    EXPECT_EQ(wordAt(0), 10u);
    for (int k : {1, 2, 3, 4, 7, 8, 10, 11}) EXPECT_GT(wordAt(k), 0u) << k;
    EXPECT_GT(wordAt(2), wordAt(1));
    EXPECT_NEAR(wordAt(15), 9375, 400);  // about 20 % load
    EXPECT_EQ(wordAt(16), 8000u);
    EXPECT_LT(wordAt(6), 1u << 31);

    const Bytes cleared = transact(handle, packet(8, 0, 68), 100);
    EXPECT_EQ(cleared[8 + 3], 0);
    EXPECT_EQ(cleared[8 + 7], 0);  // no link packets since the reset
    settle(3'000'000);
    EXPECT_EQ(sim::statistics(board)[0], 3u);
}

TEST_F(SimBoard, TraceDeliversRecordsOfTheSelectedStreamsOnly) {
    transact(handle, packet(5, 0b0011));
    EXPECT_EQ(sim::traceMask(board), 0b0011);
    settle(2'000'000);
    std::set<int> types;
    int records = 0;
    for (Bytes payload; !(payload = payloadOf(transact(handle, packet(6), 100))).empty();
         ++records) {
        ASSERT_LT(records, 1000);
        const int type = payload[0] << 8 | payload[1];
        types.insert(type);
        EXPECT_GE(payload.size(), type == 1 ? 4u : 3u);
    }
    EXPECT_EQ(types, (std::set<int>{0, 1}));
    EXPECT_GE(records, 2 * 2000 / 200);
    EXPECT_LE(records, 2 * 2000 / 50);
    EXPECT_EQ(transact(handle, packet(6), 100), packet(6));  // drained: empty payload

    transact(handle, packet(5, 0));
    settle(2'000'000);
    sim::pushTraceRecord(board, {0x00, 0x09, 0x7E});
    EXPECT_EQ(payloadOf(transact(handle, packet(6), 100)), (Bytes{0x00, 0x09, 0x7E}));
    EXPECT_TRUE(payloadOf(transact(handle, packet(6), 100)).empty());
    EXPECT_TRUE(sim::violations().empty());
}

}  // namespace
