#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "config/ConfigImage.h"
#include "config/Cp1251.h"

namespace {

std::vector<std::uint8_t> Slice(const ConfigSnapshot& s, std::size_t offset, std::size_t length) {
    return {s.bytes.begin() + offset, s.bytes.begin() + offset + length};
}

}  // namespace

TEST(ConfigImageTest, CrcIsComputedOverBytes2To139AndStoredLsbFirst) {
    const TCrc crc;
    ConfigSnapshot snapshot;
    EXPECT_EQ(ComputeCrc(crc, snapshot), 0xECFD);  // 138 zero bytes

    snapshot.bytes[0] = 0x55;  // the CRC word and the IDs are not covered
    snapshot.bytes[150] = 0x66;
    RefreshCrc(crc, snapshot);
    EXPECT_EQ(snapshot.bytes[0], 0xFD);
    EXPECT_EQ(snapshot.bytes[1], 0xEC);
    EXPECT_EQ(StoredCrc(snapshot), 0xECFD);

    snapshot.bytes[139] = 1;  // the last covered byte counts
    EXPECT_NE(ComputeCrc(crc, snapshot), StoredCrc(snapshot));
}

TEST(ConfigImageTest, WriteExtentKeepsBoardInformationBelowFullService) {
    EXPECT_EQ(WriteExtent(ServiceLevel::User), 56u);
    EXPECT_EQ(WriteExtent(ServiceLevel::Service), 56u);
    EXPECT_EQ(WriteExtent(ServiceLevel::FullService), 140u);
}

TEST(ConfigImageTest, BlankSnapshotHoldsResetValuesOfEveryBlock) {
    const TCrc crc;
    const ConfigSnapshot blank = MakeBlankSnapshot(crc, "09.12.2026");

    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(Slice(blank, ConfigOffset::Codec, ConfigLength::Codec),
              (Bytes{0x1E, 0x00, 0x0C, 0x22, 0x08, 0x12, 0x0A, 0x00, 0x10, 0x0E, 0x00,
                     0x17, 0x02, 0x17, 0x04, 0x79, 0x06, 0x79, 0x0E, 0x43, 0x12, 0x01}));
    EXPECT_EQ(Slice(blank, ConfigOffset::Vocoder, ConfigLength::Vocoder),
              (Bytes{0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(blank, ConfigOffset::Recorder, ConfigLength::Recorder),
              (Bytes{0x00, 0x07, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90}));
    EXPECT_EQ(Slice(blank, ConfigOffset::Amplifier, ConfigLength::Amplifier),
              (Bytes{46, 0x00, 0xD6, 0x00}));
    EXPECT_EQ(Slice(blank, ConfigOffset::Uart, ConfigLength::Uart),
              (Bytes{0, 0xFF, 0, 0, 0, 0x78, 0, 0x00, 0, 0, 0, 0, 0, 0x03}));

    EXPECT_EQ(blank.model(), 0);
    EXPECT_EQ(blank.bytes[ConfigOffset::PcbRevision], 1);
    EXPECT_EQ(Slice(blank, ConfigOffset::SoftwareVersion, 8), (Bytes(8, '0')));
    EXPECT_EQ(ReadTextField(blank.data() + ConfigOffset::Date, ConfigLength::Date), "09.12.2026");
    EXPECT_EQ(ReadTextField(blank.data() + ConfigOffset::Description, ConfigLength::Description),
              "");
    EXPECT_TRUE(std::all_of(blank.bytes.begin() + ConfigOffset::DieId, blank.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(StoredCrc(blank), ComputeCrc(crc, blank));
}
