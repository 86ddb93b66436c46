// "Записывать в файл…" in the trace log's menu: the lines go to the file as they arrive, within a
// second (on the virtual clock), in the form saving gives them, until the item is chosen again or
// the window closes; a file that cannot take them stops the recording and says so.
#include <QSignalSpy>

#include "tests/support/TraceFormFixture.h"

namespace {

const TraceLines kFirst = {"10:15:02 Bus+(RxD): 0x7E; 0x01; ", "10:15:02 Link(TxD): 0x00; "};
const TraceLines kSecond = {"10:15:03 Link(RxD): 0xAA; 0x55; "};

class TraceRecorderTest : public TraceFormTest {
protected:
    QString startRecording() {
        const QString path = folder_.filePath("night.txt");
        dialogs_.saveAnswers.push_back(path);
        form_.recordAction()->trigger();
        return path;
    }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // What the recorder's timer does between lines.
    void tick() {
        ASSERT_NE(form_.recorder(), nullptr);
        EXPECT_TRUE(form_.recorder()->checkTimer()->isActive());
        form_.recorder()->flushIfDue();
    }
    static QByteArray joined(const TraceLines& lines) {
        QByteArray text;
        for (const std::string& line : lines) text += QByteArray::fromStdString(line) + '\n';
        return text;
    }

    FakeDialogs dialogs_;
    QTemporaryDir folder_;
    QSignalSpy logLines_{&form_, &TaskWindow::logLine};
};

TEST_F(TraceRecorderTest, LinesReachTheFileWithinASecondAsSavingWritesThem) {
    const QString path = startRecording();
    EXPECT_TRUE(form_.recordAction()->isChecked());
    ASSERT_EQ(dialogs_.saveFilters.size(), 1);
    EXPECT_TRUE(dialogs_.saveFilters[0].contains("*.txt"));
    EXPECT_EQ(contents(path), QByteArray());

    deliverLines(kFirst);
    EXPECT_EQ(contents(path), QByteArray());  // held back a little
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs - 1);
    tick();
    EXPECT_EQ(contents(path), QByteArray());
    clock_.advanceUs(1);
    tick();
    EXPECT_EQ(contents(path), joined(kFirst));
    EXPECT_FALSE(form_.recorder()->checkTimer()->isActive());  // nothing waits

    // Lines arriving a second after the last still waiting go out with them.
    deliverLines(kSecond);
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs);
    deliverLines(kFirst);
    EXPECT_EQ(contents(path), joined(kFirst) + joined(kSecond) + joined(kFirst));
    EXPECT_EQ(contents(path), form_.log()->savedText());
}

TEST_F(TraceRecorderTest, ChoosingAgainOrClosingStopsWithEveryLineWritten) {
    const QString path = startRecording();
    deliverLines(kFirst);
    form_.recordAction()->trigger();  // chosen again: no second question, the file is complete
    EXPECT_EQ(dialogs_.saveFilters.size(), 1);
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_EQ(form_.recorder(), nullptr);
    EXPECT_EQ(contents(path), joined(kFirst));
    deliverLines(kSecond);
    EXPECT_EQ(contents(path), joined(kFirst));
    ASSERT_EQ(logLines_.size(), 2);
    EXPECT_TRUE(logLines_[0][0].toString().contains(path));
    EXPECT_TRUE(logLines_[1][0].toString().contains("завершена"));

    // A new recording starts a new file; closing the window ends it whole.
    const QString again = startRecording();
    deliverLines(kSecond);
    form_.ButCloseClick();
    EXPECT_EQ(contents(again), joined(kSecond));
}

TEST_F(TraceRecorderTest, ACancelledOrUnwritableChoiceRecordsNothing) {
    form_.recordAction()->trigger();  // cancelled
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_EQ(form_.recorder(), nullptr);

    dialogs_.saveAnswers.push_back(folder_.filePath("missing/night.txt"));
    form_.recordAction()->trigger();
    EXPECT_FALSE(form_.recordAction()->isChecked());
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains("missing/night.txt"));

    // A name typed without an extension gets ".txt".
    dialogs_.saveAnswers.push_back(folder_.filePath("night"));
    form_.recordAction()->trigger();
    EXPECT_TRUE(QFile::exists(folder_.filePath("night.txt")));
}

TEST_F(TraceRecorderTest, AFullDiskStopsTheRecordingAndSaysSo) {
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const QString full = folder_.filePath("full.txt");
    ASSERT_TRUE(QFile::link("/dev/full", full));
    dialogs_.saveAnswers.push_back(full);
    form_.recordAction()->trigger();
    ASSERT_TRUE(form_.recordAction()->isChecked());
    deliverLines(kFirst);
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs);
    tick();
    EXPECT_FALSE(form_.recordAction()->isChecked());
    ASSERT_EQ(logLines_.size(), 2);
    EXPECT_TRUE(logLines_[1][0].toString().contains("прервана"))
        << logLines_[1][0].toString().toStdString();
    QApplication::processEvents();  // the failed recorder is released
    EXPECT_EQ(form_.recorder(), nullptr);
    deliverLines(kSecond);  // the log goes on
    EXPECT_EQ(form_.log()->line(form_.log()->lineCount() - 1).toStdString(), kSecond[0]);
}

}  // namespace
