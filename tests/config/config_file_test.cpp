#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "config/ConfigFile.h"
#include "config/FirmwareImage.h"

namespace fs = std::filesystem;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("k350-config-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    std::string WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    ConfigSnapshot Sample() const {
        ConfigSnapshot snapshot;
        for (std::size_t i = 0; i < kSnapshotSize; ++i) {
            snapshot.bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        RefreshCrc(crc_, snapshot);
        return snapshot;
    }

    static std::vector<std::uint8_t> BytesOf(const ConfigSnapshot& s) {
        return {s.bytes.begin(), s.bytes.end()};
    }

    static std::vector<std::uint8_t> ReadBack(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::vector<std::string> NamesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TCrc crc_;
    fs::path dir_;
};

ConfigSnapshot Marker() {
    ConfigSnapshot marker;
    marker.bytes.fill(0xAB);
    return marker;
}

}  // namespace

TEST_F(ConfigFileTest, SavedFileIsTheSnapshotAndLoadsBack) {
    const ConfigSnapshot saved = Sample();
    const std::string path = PathOf("board");  // no extension is added
    ASSERT_EQ(SaveConfigFile(path, saved), SaveResult::Ok);
    ASSERT_EQ(fs::file_size(path), kSnapshotSize);

    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> onDisk(kSnapshotSize);
    in.read(reinterpret_cast<char*>(onDisk.data()), kSnapshotSize);
    EXPECT_EQ(onDisk, BytesOf(saved));

    ConfigSnapshot loaded;
    ASSERT_EQ(LoadConfigFile(path, crc_, loaded), LoadResult::Ok);
    EXPECT_EQ(loaded.bytes, saved.bytes);
}

TEST_F(ConfigFileTest, SaveReplacesLongerFile) {
    const std::string path = WriteBytes("old.kcf", std::vector<std::uint8_t>(1000, 0x11));
    ASSERT_EQ(SaveConfigFile(path, Sample()), SaveResult::Ok);
    EXPECT_EQ(fs::file_size(path), kSnapshotSize);
}

TEST_F(ConfigFileTest, WrongSizesAndBadCrcAreRejectedAndLeaveOutputUntouched) {
    std::vector<std::uint8_t> bytes = BytesOf(Sample());
    std::vector<std::uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    std::vector<std::uint8_t> swapped = bytes;
    ASSERT_NE(swapped[0], swapped[1]);
    std::swap(swapped[0], swapped[1]);

    ConfigSnapshot out = Marker();
    EXPECT_EQ(LoadConfigFile(WriteBytes("155", shorter), crc_, out), LoadResult::WrongSize);
    EXPECT_EQ(LoadConfigFile(WriteBytes("157", longer), crc_, out), LoadResult::WrongSize);
    EXPECT_EQ(LoadConfigFile(WriteBytes("empty", {}), crc_, out), LoadResult::WrongSize);
    EXPECT_EQ(LoadConfigFile(WriteBytes("swapped", swapped), crc_, out), LoadResult::BadCrc);
    EXPECT_EQ(out.bytes, Marker().bytes);
}

TEST_F(ConfigFileTest, FileOfAnotherBoardLoadsWithItsOwnIds) {
    std::vector<std::uint8_t> bytes = BytesOf(Sample());
    std::fill(bytes.begin() + ConfigOffset::DieId, bytes.end(), 0x5A);  // IDs are not covered
    bytes[ConfigOffset::Model] = 1;
    ConfigSnapshot withModel;
    std::copy(bytes.begin(), bytes.end(), withModel.bytes.begin());
    RefreshCrc(crc_, withModel);

    ConfigSnapshot out;
    ASSERT_EQ(LoadConfigFile(WriteBytes("other.kcf", BytesOf(withModel)), crc_, out),
              LoadResult::Ok);
    EXPECT_EQ(out.bytes[ConfigOffset::ChipId + 7], 0x5A);
    EXPECT_EQ(out.model(), 1);
}

TEST_F(ConfigFileTest, UnopenablePathsAreCannotOpen) {
    ConfigSnapshot out = Marker();
    EXPECT_EQ(LoadConfigFile(PathOf("missing.kcf"), crc_, out), LoadResult::CannotOpen);
    EXPECT_EQ(LoadConfigFile(dir_.string(), crc_, out), LoadResult::CannotOpen);
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);  // must not block
    EXPECT_EQ(LoadConfigFile(PathOf("fifo"), crc_, out), LoadResult::CannotOpen);
    EXPECT_EQ(out.bytes, Marker().bytes);
}

TEST_F(ConfigFileTest, UncreatableTargetIsCannotCreate) {
    EXPECT_EQ(SaveConfigFile(dir_.string(), Sample()), SaveResult::CannotCreate);
    EXPECT_EQ(SaveConfigFile(PathOf("no-such-dir/x.kcf"), Sample()), SaveResult::CannotCreate);
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);  // no reader: must not block
    EXPECT_EQ(SaveConfigFile(PathOf("fifo"), Sample()), SaveResult::CannotCreate);
    // A folder path that runs through a plain file: stops root as well as anyone.
    WriteBytes("plain", {1});
    EXPECT_EQ(SaveConfigFile(PathOf("plain/x.kcf"), Sample()), SaveResult::CannotCreate);
}

TEST_F(ConfigFileTest, ReadOnlyFolderIsCannotCreate) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(SaveConfigFile(PathOf("readonly.kcf"), Sample()), SaveResult::CannotCreate);
}

TEST_F(ConfigFileTest, FailedWriteAfterCreationIsReportedAndDeviceIsKept) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(SaveConfigFile("/dev/full", Sample()), SaveResult::WriteFailed);
    EXPECT_TRUE(fs::exists("/dev/full"));
}

namespace {

// The write stops after 100 of the 156 bytes, as on a full disk.
SaveResult SaveWithFileSizeLimit(const std::string& path, const ConfigSnapshot& snapshot) {
    rlimit saved{};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 100;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const SaveResult result = SaveConfigFile(path, snapshot);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

}  // namespace

TEST_F(ConfigFileTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    const std::vector<std::uint8_t> old = BytesOf(Marker());
    const std::string path = WriteBytes("good.kcf", old);
    EXPECT_EQ(SaveWithFileSizeLimit(path, Sample()), SaveResult::WriteFailed);
    EXPECT_EQ(ReadBack(path), old);

    EXPECT_EQ(SaveWithFileSizeLimit(PathOf("new.kcf"), Sample()), SaveResult::WriteFailed);
    EXPECT_FALSE(fs::exists(PathOf("new.kcf")));
    EXPECT_EQ(NamesInFolder(), std::vector<std::string>{"good.kcf"});
}

TEST_F(ConfigFileTest, ReadOnlyFolderOrFileKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    const std::vector<std::uint8_t> old = BytesOf(Marker());
    const std::string inFolder = WriteBytes("kept.kcf", old);
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(SaveConfigFile(inFolder, Sample()), SaveResult::CannotCreate);
    EXPECT_EQ(ReadBack(inFolder), old);
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);

    const std::string readOnly = WriteBytes("readonly.kcf", old);
    fs::permissions(readOnly, fs::perms::owner_read);
    EXPECT_EQ(SaveConfigFile(readOnly, Sample()), SaveResult::CannotCreate);
    EXPECT_EQ(ReadBack(readOnly), old);
    EXPECT_EQ(NamesInFolder(), (std::vector<std::string>{"kept.kcf", "readonly.kcf"}));
}

TEST_F(ConfigFileTest, SaveThroughSymbolicLinkReplacesTheFileItPointsTo) {
    fs::create_directories(dir_ / "real");
    const std::string real = WriteBytes("real/board.kcf", BytesOf(Marker()));
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real/board.kcf", dir_ / "link.kcf");  // relative to the link's folder
    fs::create_symlink(dir_ / "link.kcf", dir_ / "chain.kcf");
    fs::create_symlink("real/later.kcf", dir_ / "dangling.kcf");

    ASSERT_EQ(SaveConfigFile(PathOf("chain.kcf"), Sample()), SaveResult::Ok);
    EXPECT_TRUE(fs::is_symlink(PathOf("link.kcf")));
    EXPECT_TRUE(fs::is_symlink(PathOf("chain.kcf")));
    EXPECT_EQ(ReadBack(real), BytesOf(Sample()));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    ASSERT_EQ(SaveConfigFile(PathOf("dangling.kcf"), Sample()), SaveResult::Ok);
    EXPECT_TRUE(fs::is_symlink(PathOf("dangling.kcf")));
    EXPECT_EQ(ReadBack(PathOf("real/later.kcf")), BytesOf(Sample()));

    fs::create_symlink("loop.kcf", dir_ / "loop.kcf");
    EXPECT_EQ(SaveConfigFile(PathOf("loop.kcf"), Sample()), SaveResult::CannotCreate);
}

TEST_F(ConfigFileTest, FirmwareImageIsTheWholeFile) {
    FirmwareImage image;
    ASSERT_EQ(LoadFirmwareImage(WriteBytes("empty.rom", {}), image), ImageLoadResult::Ok);
    ASSERT_TRUE(image.bytes);
    EXPECT_EQ(image.size(), 0u);

    std::vector<std::uint8_t> content(200000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(LoadFirmwareImage(WriteBytes("big.txt", content), image), ImageLoadResult::Ok);
    EXPECT_EQ(image.size(), content.size());
    EXPECT_EQ(*image.bytes, content);
}

TEST_F(ConfigFileTest, UnusableFirmwarePathsAreCannotOpenAndKeepTheImage) {
    FirmwareImage image;
    image.bytes = std::make_shared<const std::vector<std::uint8_t>>(3, 0x42);
    const auto kept = image.bytes;
    EXPECT_EQ(LoadFirmwareImage(PathOf("missing.rom"), image), ImageLoadResult::CannotOpen);
    EXPECT_EQ(LoadFirmwareImage(dir_.string(), image), ImageLoadResult::CannotOpen);
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);  // must not block
    EXPECT_EQ(LoadFirmwareImage(PathOf("fifo"), image), ImageLoadResult::CannotOpen);
    EXPECT_EQ(image.bytes, kept);
}

TEST_F(ConfigFileTest, FirmwareOf4GiBIsCannotOpen) {
    const std::string path = PathOf("huge.rom");
    std::ofstream(path).close();
    std::error_code error;
    fs::resize_file(path, std::uintmax_t{1} << 32, error);  // sparse on the usual file systems
    if (error) GTEST_SKIP() << "cannot make a sparse file here";
    FirmwareImage image;
    EXPECT_EQ(LoadFirmwareImage(path, image), ImageLoadResult::CannotOpen);
    EXPECT_FALSE(image.bytes);
}

TEST(BadFileMessageTest, NamesPathAndEndsInBlank) {
    EXPECT_EQ(BadFileMessage("/tmp/a b.rom"),
              "Файл /tmp/a b.rom поврежден, либо не соответствует данному устройству ");
}
