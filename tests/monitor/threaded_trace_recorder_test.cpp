// "Записывать в файл…" in the trace log's menu: the lines go to the file's writer within a second
// (on the virtual clock), in the form saving gives them, until the item is chosen again or the
// window closes; the writer is a thread of its own, so a disk that stalls never stalls the
// window, and what the disk cannot take in time is bounded, counted, marked and said.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>

#include "tests/support/StalledDisk.h"
#include "tests/support/TraceFormFixture.h"

namespace {

const TraceLines kFirst = {"10:15:02 Bus+(RxD): 0x7E; 0x01; ", "10:15:02 Link(TxD): 0x00; "};
const TraceLines kSecond = {"10:15:03 Link(RxD): 0xAA; 0x55; "};

class TraceRecorderTest : public TraceFormTest {
protected:
    QString startRecording(const QString& path) {
        dialogs_.saveAnswers.push_back(path);
        form_.recordAction()->trigger();
        return path;
    }
    QString startRecording() { return startRecording(folder_.filePath("night.txt")); }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // What the recorders' timers do, once their writers have done what they were given: the
    // gate that lets a test see the writer's side without waiting on a clock.
    static void settle(const QList<TraceRecorder*>& recorders) {
        for (TraceRecorder* recorder : recorders) {
            recorder->check();
            recorder->waitForWriter();
            recorder->check();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void settle() { settle(form_.recordings()); }
    static QList<TraceRecorder*> unattended() { return qApp->findChildren<TraceRecorder*>(); }
    static QByteArray joined(const TraceLines& lines) {
        QByteArray text;
        for (const std::string& line : lines) text += QByteArray::fromStdString(line) + '\n';
        return text;
    }
    QStringList said() const {
        QStringList lines;
        for (const QList<QVariant>& line : logLines_) lines << line[0].toString();
        return lines;
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
    ASSERT_NE(form_.recorder(), nullptr);
    EXPECT_TRUE(form_.recorder()->checkTimer()->isActive());

    deliverLines(kFirst);
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs - 1);
    settle();
    EXPECT_EQ(contents(path), QByteArray());  // held back a little
    clock_.advanceUs(1);
    settle();
    EXPECT_EQ(contents(path), joined(kFirst));

    // Lines arriving a second after the last still waiting go out with them.
    deliverLines(kSecond);
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs);
    deliverLines(kFirst);
    settle();
    EXPECT_EQ(contents(path), joined(kFirst) + joined(kSecond) + joined(kFirst));
    EXPECT_EQ(contents(path), form_.log()->savedText());
    EXPECT_EQ(said().size(), 1);  // "записывается" only: the recording goes on
}

TEST_F(TraceRecorderTest, ChoosingAgainOrClosingStopsWithEveryLineWritten) {
    const QString path = startRecording();
    deliverLines(kFirst);
    form_.recordAction()->trigger();  // chosen again: no second question
    EXPECT_EQ(dialogs_.saveFilters.size(), 1);
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_EQ(form_.recorder(), nullptr);
    deliverLines(kSecond);  // after the stop: not recorded
    settle();
    EXPECT_EQ(contents(path), joined(kFirst));
    ASSERT_EQ(said().size(), 2);
    EXPECT_TRUE(said()[0].contains(path));
    EXPECT_EQ(said()[1], "Запись трассировки в файл " + path + " завершена");
    EXPECT_TRUE(form_.recordings().isEmpty());

    // A new recording starts a new file; closing the window ends it whole, and a recording
    // stopped just before is finished too.
    const QString stopped = startRecording(folder_.filePath("stopped.txt"));
    deliverLines(kFirst);
    form_.recordAction()->trigger();
    const QString again = startRecording();
    deliverLines(kSecond);
    form_.ButCloseClick();
    EXPECT_TRUE(form_.recordings().isEmpty());  // handed over: they finish on their own
    ASSERT_EQ(unattended().size(), 2);
    settle(unattended());
    EXPECT_TRUE(unattended().isEmpty());
    EXPECT_EQ(contents(stopped), joined(kFirst));
    EXPECT_EQ(contents(again), joined(kSecond));
    EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(TraceRecorderTest, ACancelledOrUnwritableChoiceRecordsNothing) {
    form_.recordAction()->trigger();  // cancelled
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_EQ(form_.recorder(), nullptr);

    startRecording(folder_.filePath("missing/night.txt"));
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_TRUE(form_.recordings().isEmpty());
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains("missing/night.txt"));

    // A name typed without an extension gets ".txt".
    startRecording(folder_.filePath("night"));
    EXPECT_TRUE(QFile::exists(folder_.filePath("night.txt")));
}

TEST_F(TraceRecorderTest, AFullDiskStopsTheRecordingAndSaysSo) {
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const QString full = folder_.filePath("full.txt");
    ASSERT_TRUE(QFile::link("/dev/full", full));
    startRecording(full);
    ASSERT_TRUE(form_.recordAction()->isChecked());
    deliverLines(kFirst);
    clock_.advanceUs(TraceRecorder::kFlushIntervalUs);
    settle();
    EXPECT_FALSE(form_.recordAction()->isChecked());
    EXPECT_EQ(form_.recorder(), nullptr);
    EXPECT_TRUE(form_.recordings().isEmpty());  // released
    ASSERT_EQ(said().size(), 2);
    EXPECT_EQ(said()[1], "Запись трассировки в файл " + full + " прервана: на диске нет места");
    deliverLines(kSecond);  // the log goes on
    EXPECT_EQ(form_.log()->line(form_.log()->lineCount() - 1).toStdString(), kSecond[0]);
}

// The window closed while its file fails: the failure still reaches the engineer.
TEST_F(TraceRecorderTest, AFailureAfterTheWindowClosedComesAsAMessage) {
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const QString full = folder_.filePath("full.txt");
    ASSERT_TRUE(QFile::link("/dev/full", full));
    startRecording(full);
    deliverLines(kFirst);
    form_.ButCloseClick();
    ASSERT_EQ(unattended().size(), 1);
    settle(unattended());
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_EQ(dialogs_.messages[0],
              "Запись трассировки в файл " + full + " прервана: на диске нет места");
    EXPECT_TRUE(unattended().isEmpty());
}

// --- a disk that stalls ---------------------------------------------------------------------

// Long numbered lines, so that a few thousand pass the bound and each is known in the file.
std::string numberedLine(int index) {
    return std::to_string(index) + ": " + std::string(4000, char('a' + index % 26));
}

// The file read back: every line in order, or in its place a mark of how many are missing.
struct ReadBack {
    int lines = 0;        // lines found and marked missing, in order
    quint64 missing = 0;  // the marks' sum
    int marks = 0;
    bool inOrder = true;
};

ReadBack readBack(const std::string& file) {
    static const QRegularExpression gap(
        QStringLiteral("^\\*\\*\\* пропущено строк: (\\d+) \\(диск не успевал\\) \\*\\*\\*$"));
    ReadBack back;
    for (const QByteArray& line : QByteArray::fromStdString(file).split('\n')) {
        if (line.isEmpty()) continue;
        const QRegularExpressionMatch mark = gap.match(QString::fromUtf8(line));
        if (mark.hasMatch()) {
            back.missing += mark.captured(1).toULongLong();
            back.lines += mark.captured(1).toInt();
            ++back.marks;
        } else {
            back.inOrder = back.inOrder && line.toStdString() == numberedLine(back.lines);
            ++back.lines;
        }
    }
    return back;
}

TEST_F(TraceRecorderTest, AStalledDiskNeverHoldsUpTheWindowAndNoLineIsLostUnsaid) {
    TemporaryFolder disk;
    StalledDisk stalled(disk, "night.txt");
    ASSERT_TRUE(stalled.ready());
    const QString path = startRecording(QString::fromStdString(stalled.path()));
    ASSERT_NE(form_.recorder(), nullptr);

    // Twice the bound arrives while nobody reads: every delivery returns, the bytes waiting for
    // the disk stay within the bound, and the window says once that lines are left out.
    constexpr int kLinesPerDelivery = 16;
    const int total = int(2 * TraceRecorder::kMaxQueuedBytes / (numberedLine(0).size() + 1));
    int delivered = 0;
    TraceLines lines;
    while (delivered < total) {
        lines.clear();
        for (int i = 0; i < kLinesPerDelivery; ++i) lines.push_back(numberedLine(delivered++));
        deliverLines(lines);
        ASSERT_LE(form_.recorder()->queuedBytes(), TraceRecorder::kMaxQueuedBytes);
    }
    const quint64 dropped = form_.recorder()->droppedLines();
    EXPECT_GT(dropped, 0u);
    EXPECT_GT(form_.recorder()->queuedBytes(), 0u);  // the writer is still stuck in its write
    ASSERT_EQ(said().size(), 2);
    EXPECT_EQ(said()[1], "Диск не успевает за трассировкой: часть строк не попадёт в файл " + path +
                             ", пропуски будут отмечены в нём");

    // Stopping does not wait for the disk either; once it moves, the file is whole but for the
    // lines counted, each gap marked where it is.
    form_.recordAction()->trigger();
    EXPECT_EQ(said().size(), 2);
    const ReadBack back = readBack(stalled.readToEnd());
    settle();
    EXPECT_TRUE(back.inOrder);
    EXPECT_EQ(back.lines, delivered);
    EXPECT_EQ(back.missing, dropped);
    EXPECT_GE(back.marks, 1);
    ASSERT_EQ(said().size(), 3);
    EXPECT_EQ(said()[2], QStringLiteral("Запись трассировки в файл %1 завершена; не записано "
                                        "строк: %2 (диск не успевал, пропуски отмечены в файле)")
                             .arg(path)
                             .arg(dropped));
}

}  // namespace
