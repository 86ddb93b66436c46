// The file and task commands of the main window, driven through its menus and
// toolbar with scripted dialogs.
#include <sys/resource.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <csignal>

#include "config/ConfigImage.h"
#include "tests/support/ShellFixture.h"

namespace {
const QString kBadSuffix = " поврежден, либо не соответствует данному устройству ";

std::vector<std::uint8_t> validFileBytes(std::uint8_t model, std::uint8_t marker) {
    TCrc crc;
    ConfigSnapshot snapshot = MakeBlankSnapshot(crc, "03.04.2025");
    snapshot.bytes[ConfigOffset::Model] = model;
    snapshot.bytes[ConfigOffset::Codec] = marker;
    for (std::size_t i = ConfigOffset::DieId; i < kSnapshotSize; ++i)
        snapshot.bytes[i] = std::uint8_t(i);
    RefreshCrc(crc, snapshot);
    return {snapshot.bytes.begin(), snapshot.bytes.end()};
}

std::uint16_t crcOfFile(const std::vector<std::uint8_t>& bytes) {
    TCrc crc;
    ConfigSnapshot snapshot;
    std::copy(bytes.begin(), bytes.end(), snapshot.bytes.begin());
    return ComputeCrc(crc, snapshot);
}

QStringList logLines(TFDevice& w) {
    return w.logText().split('\n', Qt::SkipEmptyParts);
}
}  // namespace

class ShellFileTest : public ShellFixture {};

TEST_F(ShellFileTest, OpenInstallsAValidFileOfAnyBoardAndLogsWithThePrefixOfTheStart) {
    const auto bytes = validFileBytes(1, 0x5A);
    dialogs_.openAnswers.push_back(writeFile("other.kcf", bytes));
    trigger("MButtonOpen");

    ASSERT_TRUE(window().document().hasConfig());
    EXPECT_TRUE(
        std::equal(bytes.begin(), bytes.end(), window().document().snapshot().bytes.begin()));
    EXPECT_EQ(dialogs_.openTitles, QStringList{"Открыть"});
    EXPECT_EQ(dialogs_.openFilters, QStringList{"K350 конфигурация (*.kcf)|*.kcf|все файлы|*"});
    EXPECT_TRUE(dialogs_.questions.isEmpty());
    const QStringList lines = logLines(window());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("-> Конфигурация К350 загружена"));
    EXPECT_EQ(lines[0].indexOf("-> "), 8);
    for (const char* name : {"MFileClose", "MFileSave", "MFileSaveAs", "MTaskSet", "MButtonSave",
                             "MButtonSaveAs", "MButtonSet"}) {
        EXPECT_TRUE(action(name)->isEnabled()) << name;
    }
    EXPECT_NE(node("K-350B"), nullptr);
}

TEST_F(ShellFileTest, OpenRejectsWrongSizesSwappedCrcAndMissingFilesKeepingTheName) {
    auto bytes = validFileBytes(0, 1);
    auto shortFile = bytes;
    shortFile.resize(bytes.size() - 1);
    auto longFile = bytes;
    longFile.push_back(0);
    auto swapped = bytes;
    if (swapped[0] == swapped[1]) swapped[2] ^= 1;  // keep the test meaningful
    std::swap(swapped[0], swapped[1]);
    const QStringList names{writeFile("155.kcf", shortFile), writeFile("157.kcf", longFile),
                            writeFile("swapped.kcf", swapped), tempPath("missing.kcf")};
    for (const QString& name : names) {
        dialogs_.openAnswers.push_back(name);
        trigger("MFileOpen");
        EXPECT_FALSE(window().document().hasConfig()) << name.toStdString();
        EXPECT_EQ(window().document().fileName(), name);
        EXPECT_TRUE(logLines(window()).last().endsWith("-> Файл " + name + kBadSuffix));
    }
    EXPECT_EQ(logLines(window()).size(), 4);
    EXPECT_FALSE(action("MFileSave")->isEnabled());
}

TEST_F(ShellFileTest, OpenWithAConfigurationAsksAndNoKeepsEverything) {
    installConfig(0);
    dialogs_.yesNoAnswers.push_back(false);
    trigger("MFileOpen");
    EXPECT_EQ(dialogs_.questions, QStringList{"Закрыть текущее устройство ?"});
    EXPECT_TRUE(dialogs_.openTitles.isEmpty());
    EXPECT_TRUE(window().document().hasConfig());
}

TEST_F(ShellFileTest, OpenAnsweredYesThenCancelledLeavesNoConfiguration) {
    dialogs_.openAnswers.push_back(writeFile("a.kcf", validFileBytes(0, 1)));
    trigger("MFileOpen");
    ASSERT_EQ(window().document().fileName(), tempPath("a.kcf"));
    dialogs_.yesNoAnswers.push_back(true);
    trigger("MFileOpen");  // the dialog answers cancel
    EXPECT_FALSE(window().document().hasConfig());
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    EXPECT_EQ(treeText(), "Задачи (48)\n  Прочитать (45)\n");
    EXPECT_FALSE(action("MFileSaveAs")->isEnabled());
}

TEST_F(ShellFileTest, SaveRefreshesTheCrcAndTheFileLoadsAgain) {
    installConfig(0);
    window().document().snapshot().bytes[ConfigOffset::Vocoder] ^=
        0xFF;  // an edit the CRC does not know yet
    const QString path = tempPath("saved.kcf");
    dialogs_.saveAnswers.push_back(path);
    trigger("MButtonSaveAs");

    const auto written = readFile(path);
    ASSERT_EQ(written.size(), kSnapshotSize);
    const std::uint16_t crc = crcOfFile(written);
    EXPECT_EQ(written[0], crc & 0xFF);
    EXPECT_EQ(written[1], crc >> 8);
    EXPECT_EQ(StoredCrc(window().document().snapshot()), crc);
    EXPECT_TRUE(logLines(window()).last().endsWith("-> Файл сохранен " + path));
    EXPECT_EQ(dialogs_.saveFilters, QStringList{"K350 конфигурация (*.kcf)|*.kcf|все файлы|*"});

    trigger("MFileClose");
    EXPECT_FALSE(window().document().hasConfig());
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    dialogs_.openAnswers.push_back(path);
    trigger("MFileOpen");
    ASSERT_TRUE(window().document().hasConfig());
    EXPECT_TRUE(
        std::equal(written.begin(), written.end(), window().document().snapshot().bytes.begin()));
}

TEST_F(ShellFileTest, SaveAsWritesExactlyTheNameGivenWithoutExtension) {
    installConfig(0);
    const QString path = tempPath("plain");
    dialogs_.saveAnswers.push_back(path);
    trigger("MFileSaveAs");
    EXPECT_EQ(readFile(path).size(), kSnapshotSize);
    EXPECT_FALSE(QFile::exists(path + ".kcf"));
    EXPECT_EQ(window().document().fileName(), path);
}

TEST_F(ShellFileTest, SaveAsCancelledOrUncreatableWritesNoSuccessLine) {
    installConfig(0);
    trigger("MFileSaveAs");  // cancelled
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    const QString bad = tempPath("no-such-dir/x.kcf");
    dialogs_.saveAnswers.push_back(bad);
    trigger("MFileSaveAs");
    EXPECT_EQ(dialogs_.messages, QStringList{"Файл " + bad + " не удается создать"});
    EXPECT_EQ(window().document().fileName(), bad);
    EXPECT_TRUE(window().logText().isEmpty());
    EXPECT_TRUE(window().document().hasConfig());
    EXPECT_FALSE(window().SaveToFile(tempPath("")));  // a folder cannot be created as a file
}

TEST_F(ShellFileTest, SaveThatFailsOnAFullDiskKeepsTheOldFileAndSaysSo) {
    const std::vector<std::uint8_t> old = validFileBytes(0, 0x11);
    const QString path = writeFile("good.kcf", old);
    dialogs_.openAnswers.push_back(path);
    trigger("MFileOpen");
    window().document().snapshot().bytes[ConfigOffset::Codec] = 0x22;

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 100;  // the write stops after 100 of the 156 bytes
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    trigger("MButtonSave");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(dialogs_.messages, QStringList{"Файл " + path + " не удается создать"});
    EXPECT_FALSE(logLines(window()).last().contains("Файл сохранен"));
    EXPECT_EQ(readFile(path), old);
}

TEST_F(ShellFileTest, SaveUnderTheDefaultNameLogsTheFolderItWentTo) {
    const QString was = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tempPath("")));
    installConfig(0);
    trigger("MFileSave");
    const QString expected = QDir(tempPath("")).absoluteFilePath("K350xx.kcf");
    QDir::setCurrent(was);
    EXPECT_EQ(readFile(expected).size(), kSnapshotSize);
    EXPECT_TRUE(logLines(window()).last().endsWith("-> Файл сохранен " + expected))
        << logLines(window()).last().toStdString();
}

TEST_F(ShellFileTest, AfterARejectedOpenSaveWritesToTheRejectedName) {
    const QString rejected = writeFile("broken.kcf", {1, 2, 3});
    dialogs_.openAnswers.push_back(rejected);
    trigger("MFileOpen");
    installConfig(1);  // what a read delivers; a read leaves the name alone
    trigger("MButtonSave");
    EXPECT_EQ(readFile(rejected).size(), kSnapshotSize);
    EXPECT_TRUE(logLines(window()).last().endsWith("-> Файл сохранен " + rejected));
}

TEST_F(ShellFileTest, CloseAtFullServiceMakesANewBlankSnapshot) {
    window().setServiceLevel(ServiceLevel::FullService);
    ASSERT_TRUE(window().document().hasConfig());
    dialogs_.openAnswers.push_back(writeFile("a.kcf", validFileBytes(1, 7)));
    dialogs_.yesNoAnswers.push_back(true);
    trigger("MFileOpen");
    ASSERT_EQ(window().document().snapshot().bytes[ConfigOffset::Codec], 7);
    trigger("MFileClose");
    EXPECT_TRUE(window().document().hasConfig());
    EXPECT_EQ(window().document().snapshot().model(), 0);
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    EXPECT_TRUE(action("MFileSaveAs")->isEnabled());
    EXPECT_FALSE(action("MFileSave")->isEnabled());
    EXPECT_FALSE(action("MButtonSaveAs")->isEnabled());
}
