// Randomised robustness runs on fixed seeds: a board whose replies have random
// lengths (up to beyond the buffer), random codes, random bytes and random errors,
// across all eleven operations; and configuration files cut short, grown and
// bit-flipped, which the loader must accept exactly when they are valid.
#include <gtest/gtest.h>

#include <fstream>

#include <cerrno>
#include <cstring>
#include <random>

#include "config/ConfigFile.h"
#include "config/ConfigImage.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/WorkerFixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// --- a board that answers at random -------------------------------------------

struct Operation {
    WorkerRequest request;
    WindowId window;
    bool closedWhenFailing;  // a progress or statistics window is closed, others told to stop
    std::uint32_t successCode;
};

const Operation kOperations[] = {
    {WorkerRequest::ReadConfig, WindowId::FRead, true, NotifyCode::Done},
    {WorkerRequest::WriteConfig, WindowId::FSave, true, NotifyCode::Done},
    {WorkerRequest::LoadFirmware, WindowId::FFlash, true, NotifyCode::Done},
    {WorkerRequest::ReadStatistics, WindowId::FReport, true, NotifyCode::Statistics},
    {WorkerRequest::ResetStatistics, WindowId::FReport, true, NotifyCode::Statistics},
    {WorkerRequest::SendCodec, WindowId::FCodec, false, NotifyCode::FillData},
    {WorkerRequest::SendAmplifier, WindowId::FAudio, false, NotifyCode::FillData},
    {WorkerRequest::SendVocoder, WindowId::FVocoder, false, NotifyCode::FillData},
    {WorkerRequest::SendRecorder, WindowId::FRecoder, false, NotifyCode::FillData},
    {WorkerRequest::SetTrace, WindowId::FTrace, false, NotifyCode::FillData},
    {WorkerRequest::PollTrace, WindowId::FTrace, false, NotifyCode::Done},
};

// Shapes every reply the board makes; counts them.
class RandomBoard {
public:
    explicit RandomBoard(std::uint32_t seed) : random_(seed) {}

    int shape(Bytes& reply) {
        ++replies;
        // Half the replies pass untouched, so that runs get past the link's own queries.
        if (pick(2) == 0) return 0;
        switch (pick(10)) {
            case 0:
            case 1:
                return 0;  // as the board made it
            case 2:
            case 3:
                reply.resize(pick(600));
                break;  // any length, up to beyond the buffer
            case 4:
                if (reply.size() < 2) reply.resize(2);
                reply[0] = std::uint8_t(pick(12));
                reply[1] = std::uint8_t(pick(4) == 0 ? pick(256) : 0);
                break;
            case 5:
                scramble(reply);
                break;
            case 6:
                reply.resize(pick(600));
                scramble(reply);
                break;
            case 7:
                return 1;  // no reply: the read times out
            case 8: {
                static const int errors[] = {-EIO, -EPIPE, -ENODEV, -EOVERFLOW, -ETIMEDOUT};
                return errors[pick(5)];
            }
            default:
                flipOneBit(reply);
                break;
        }
        return 0;
    }

    std::uint32_t pick(std::uint32_t bound) { return random_() % bound; }
    long replies = 0;

private:
    void scramble(Bytes& reply) {
        for (auto& byte : reply) byte = std::uint8_t(random_());
    }
    void flipOneBit(Bytes& reply) {
        if (!reply.empty()) reply[pick(std::uint32_t(reply.size()))] ^= std::uint8_t(1u << pick(8));
    }

    std::mt19937 random_;
};

class RandomBoardTest : public WorkerFixture {
protected:
    void openWindows() {
        channel.clear();
        channel.open(WindowId::FDevice, [this](WorkerNotification n) {
            if (n.code == NotifyCode::FillData) fillWith(record)(n);
            if (n.code == NotifyCode::ConfigData) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(n.value);
                installed.assign(bytes, bytes + kSnapshotSize);  // all of it must be readable
            }
        });
        channel.open(WindowId::FRead);
        channel.open(WindowId::FSave);
        channel.open(WindowId::FFlash, fillWith(image));
        channel.open(WindowId::FReport, [](WorkerNotification n) {
            if (n.code != NotifyCode::Statistics) return;
            Bytes copy(68);
            std::memcpy(copy.data(), reinterpret_cast<const void*>(n.value), copy.size());
        });
        for (auto [id, length] : {std::pair{WindowId::FCodec, 2},
                                  {WindowId::FAudio, 1},
                                  {WindowId::FVocoder, 6},
                                  {WindowId::FRecoder, 8},
                                  {WindowId::FTrace, 2}}) {
            channel.open(id, [length = length](WorkerNotification n) {
                if (n.code == NotifyCode::FillData) {
                    std::memset(reinterpret_cast<void*>(n.value), 0x5A, std::size_t(length));
                }
                if (n.code == NotifyCode::TraceLines) {
                    const auto* lines = reinterpret_cast<const TraceLines*>(n.value);
                    for (const auto& line : *lines) EXPECT_FALSE(line.empty());
                }
            });
        }
    }

    // Every run ends in one of the defined ways: success with the link open, or a
    // failure logged (or no board found) with the link closed and the window told.
    void expectDefinedOutcome(const Operation& op) {
        const auto errors = valuesOf(WindowId::FDevice, NotifyCode::Error);
        const auto statuses = valuesOf(WindowId::FDevice, NotifyCode::Status);
        const bool noBoard = std::any_of(statuses.begin(), statuses.end(), [](std::intptr_t s) {
            return s == LinkStatus::NoConfiguration || s == LinkStatus::NoInterface ||
                   s == LinkStatus::NoBoard;
        });
        const auto codes = channel.codes(op.window);
        const bool heard = std::find(codes.begin(), codes.end(), op.successCode) != codes.end();
        EXPECT_LE(errors.size(), 1u);
        if (worker.isLinkOpen()) {
            EXPECT_TRUE(errors.empty());
            if (op.request != WorkerRequest::PollTrace) {
                EXPECT_TRUE(heard);
            } else {
                EXPECT_FALSE(heard) << "a poll that worked never tells the window to stop";
            }
            EXPECT_FALSE(channel.closeRequested(op.window));
            return;
        }
        EXPECT_TRUE(!errors.empty() || noBoard);
        EXPECT_EQ(worker.deviceIds(), DeviceIds{});
        if (op.closedWhenFailing) {
            // A statistics window stays open when an exchange fails.
            const bool report = op.window == WindowId::FReport;
            EXPECT_TRUE(channel.closeRequested(op.window) || report);
            if (op.successCode == NotifyCode::Done) {
                EXPECT_FALSE(heard);
            }
            if (op.request == WorkerRequest::ReadConfig) {
                EXPECT_TRUE(installed.empty());
            }
        } else {
            EXPECT_EQ(valuesOf(op.window, NotifyCode::Done), std::vector<std::intptr_t>{0});
        }
    }

    std::shared_ptr<const Bytes> record =
        std::make_shared<const Bytes>(k350sim::plausibleConfiguration(0));
    std::shared_ptr<const Bytes> image = std::make_shared<const Bytes>(Bytes(700, 0x3C));
    Bytes installed;
};

}  // namespace

TEST_F(RandomBoardTest, RandomRepliesNeverBreakTheTerminalAndEveryRunEndsDefined) {
    constexpr long kLeastReplies = 10'000;
    long replies = 0;
    int runs = 0;
    for (std::uint32_t seed = 1; replies < kLeastReplies; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomBoard randomBoard(seed);
        for (const Operation& op : kOperations) {
            SCOPED_TRACE(int(op.request));
            useBoard({.capacity = std::uint16_t(randomBoard.pick(4) == 0 ? 64 : 512)});
            k350sim::pushTraceRecord(board, {0x00, 0x02, 0x10, 0x20});
            openWindows();
            installed.clear();
            k350sim::setReplyHook([&randomBoard](int, const Bytes&, Bytes& reply) {
                return randomBoard.shape(reply);
            });
            runOnce(op.request);
            k350sim::setReplyHook({});
            expectDefinedOutcome(op);
            ++runs;
            if (HasFailure()) return;
        }
        replies += randomBoard.replies;
    }
    std::printf("[ random   ] %ld random replies in %d runs\n", replies, runs);
    EXPECT_GE(replies, kLeastReplies);
}

// --- configuration files -------------------------------------------------------

namespace {

// CRC-16/USB, bit by bit: reflected polynomial 0xA001, start 0xFFFF, complemented.
std::uint16_t crc16Usb(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return std::uint16_t(crc ^ 0xFFFF);
}

// A file is valid when it is 156 bytes long and starts with the CRC of bytes 2 to 139,
// stored so that the bytes read high byte first.
bool isValidFile(const Bytes& file) {
    if (file.size() != kSnapshotSize) return false;
    const std::uint16_t crc = crc16Usb(file.data() + 2, kImageSize - 2);
    return file[0] == (crc >> 8) && file[1] == (crc & 0xFF);
}

Bytes validFile(std::mt19937& random) {
    Bytes file(kSnapshotSize);
    for (auto& byte : file) byte = std::uint8_t(random());
    const std::uint16_t crc = crc16Usb(file.data() + 2, kImageSize - 2);
    file[0] = std::uint8_t(crc >> 8);
    file[1] = std::uint8_t(crc);
    return file;
}

// A valid file, then cut short, grown, bit-flipped, or left alone.
Bytes mutatedFile(std::mt19937& random) {
    Bytes file = validFile(random);
    switch (random() % 5) {
        case 0:
            file.resize(random() % kSnapshotSize);
            break;
        case 1:
            file.resize(kSnapshotSize + 1 + random() % 300, std::uint8_t(random()));
            break;
        case 2:
        case 3:
            for (int flips = 1 + int(random() % 3); flips > 0; --flips) {
                file[random() % file.size()] ^= std::uint8_t(1u << (random() % 8));
            }
            break;
        default:
            break;
    }
    return file;
}

}  // namespace

TEST(RandomConfigFileTest, LoaderAcceptsExactlyTheValidFiles) {
    EXPECT_EQ(crc16Usb(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xB4C8);
    const TemporaryFolder folder("k350-random");
    ASSERT_FALSE(folder.path().empty());
    const std::string path = folder.file("case.kcf");
    const TCrc crc;
    std::mt19937 random(350);
    int valid = 0;
    constexpr int kCases = 3000;
    for (int i = 0; i < kCases; ++i) {
        const Bytes file = mutatedFile(random);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out.is_open());
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        out.close();

        ConfigSnapshot loaded;
        loaded.bytes.fill(0xEE);
        const bool expected = isValidFile(file);
        const LoadResult result = LoadConfigFile(path, crc, loaded);
        ASSERT_EQ(result == LoadResult::Ok, expected) << "case " << i << ", " << file.size();
        if (expected) {
            EXPECT_TRUE(std::equal(file.begin(), file.end(), loaded.bytes.begin()));
            ++valid;
        } else {
            ConfigSnapshot untouched;
            untouched.bytes.fill(0xEE);
            EXPECT_EQ(loaded.bytes, untouched.bytes) << "a rejected file changes nothing";
        }
    }
    std::printf("[ random   ] %d configuration files, %d of them valid\n", kCases, valid);
    EXPECT_GT(valid, kCases / 10);
}
