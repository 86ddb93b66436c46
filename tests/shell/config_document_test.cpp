#include <gtest/gtest.h>

#include "shell/ConfigDocument.h"
#include "tests/support/TemporaryFolder.h"

namespace {

ConfigSnapshot Numbered() {
    ConfigSnapshot snapshot;
    for (std::size_t i = 0; i < kSnapshotSize; ++i) snapshot.bytes[i] = std::uint8_t(i);
    return snapshot;
}

TEST(ConfigDocumentTest, InstallCopiesIntoTheSameStorageAndDiscardRestoresTheDefaultName) {
    ConfigDocument document;
    const std::uint8_t* storage = document.snapshot().data();
    document.setFileName("a.kcf");
    document.install(Numbered().data());
    EXPECT_TRUE(document.hasConfig());
    EXPECT_EQ(document.snapshot().data(), storage);
    EXPECT_EQ(document.snapshot().bytes[100], 100);
    document.discard();
    EXPECT_FALSE(document.hasConfig());
    EXPECT_EQ(document.fileName(), "K350xx.kcf");
}

TEST(ConfigDocumentTest, WriteCopyHoldsTheLevelsExtentAndOutlivesLaterEdits) {
    ConfigDocument document;
    document.install(Numbered().data());
    const auto user = document.writeCopy();
    document.setLevel(ServiceLevel::FullService);
    const auto full = document.writeCopy();
    document.snapshot().bytes[3] = 0xEE;
    EXPECT_EQ(user->size(), WriteExtent(ServiceLevel::User));
    EXPECT_EQ(full->size(), WriteExtent(ServiceLevel::FullService));
    EXPECT_EQ((*full)[3], 3);
}

// A window keeps its block while other configurations are installed: each block is the record's
// bytes at their place, and stays so.
TEST(ConfigDocumentTest, EachBlockIsItsPartOfTheRecordAndFollowsALaterInstall) {
    ConfigDocument document;
    document.install(Numbered().data());
    const CodecBlock codec = document.codecBlock();
    const UartBlock uart = document.uartBlock();
    const auto firstByte = [](auto block) { return std::size_t(block.front()); };
    EXPECT_EQ(firstByte(codec), ConfigOffset::Codec);
    EXPECT_EQ(firstByte(document.vocoderBlock()), ConfigOffset::Vocoder);
    EXPECT_EQ(firstByte(document.recorderBlock()), ConfigOffset::Recorder);
    EXPECT_EQ(firstByte(document.amplifierBlock()), ConfigOffset::Amplifier);
    EXPECT_EQ(firstByte(uart), ConfigOffset::Uart);
    EXPECT_EQ(firstByte(document.boardInfoBlock()), ConfigOffset::BoardInfo);
    EXPECT_EQ(firstByte(document.deviceIds()), ConfigOffset::DeviceIds);
    EXPECT_EQ(std::size_t(uart.back()), ConfigOffset::BoardInfo - 1);  // the blocks abut

    ConfigSnapshot next = Numbered();
    next.bytes[ConfigOffset::Codec] = 0xC0;
    document.install(next.data());
    EXPECT_EQ(codec.front(), 0xC0);
    codec[1] = 0x5A;  // a window's save lands in the document
    EXPECT_EQ(document.snapshot().bytes[ConfigOffset::Codec + 1], 0x5A);
}

TEST(ConfigDocumentTest, SavingTakesTheRefreshedCrcOnlyOnceTheFileExists) {
    TemporaryFolder folder("k350-document");
    ConfigDocument document;
    document.install(Numbered().data());
    const std::uint16_t stale = StoredCrc(document.snapshot());
    EXPECT_EQ(document.saveTo(folder.file("missing/x.kcf")), SaveResult::CannotCreate);
    EXPECT_EQ(StoredCrc(document.snapshot()), stale);
    EXPECT_EQ(document.saveTo(folder.file("x.kcf")), SaveResult::Ok);
    EXPECT_EQ(StoredCrc(document.snapshot()), ComputeCrc(document.crc(), document.snapshot()));
}

}  // namespace
