// The trace window as a person uses it, with a worker that is not started:
// the test checks what is asked of it and plays its notifications.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>

#include "link/K350Task.h"
#include "monitor/TraceForm.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/VirtualClock.h"

namespace {

class TraceFormTest : public ::testing::Test {
protected:
    TraceFormTest() {
        SetK350Worker(&worker_);
        form_.show();
    }
    ~TraceFormTest() override { SetK350Worker(nullptr); }

    QCheckBox* box(const char* name) {
        auto* found = form_.findChild<QCheckBox*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) {
        auto* found = form_.findChild<QPushButton*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void click(QAbstractButton* control) { QTest::mouseClick(control, Qt::LeftButton); }
    std::array<std::uint8_t, 2> maskWrittenIntoRequest() {
        std::array<std::uint8_t, 2> word = {0xFF, 0xFF};
        form_.onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(word.data())});
        return word;
    }
    void deliverLines(const TraceLines& lines) {
        form_.onWorkerNotification(
            {NotifyCode::TraceLines, reinterpret_cast<std::intptr_t>(&lines)});
    }
    bool signalled(WorkerRequest request) const { return worker_.isSignalled(request); }
    // The worker takes what is signalled.
    void takeRequests() {
        worker_.reset(WorkerRequest::SetTrace);
        worker_.reset(WorkerRequest::PollTrace);
    }

    RecordingChannel channel_;
    VirtualClock clock_;
    TK350 worker_{channel_, clock_};
    TFTrace form_;
};

TEST_F(TraceFormTest, OpensStoppedWithNoChannelAndAnEmptyLog) {
    EXPECT_EQ(form_.windowTitle(), "Трассировщик");
    const char* const names[] = {"BusRx", "BusTx", "LinkRx", "LinkTx"};
    const char* const captions[] = {"Bus+ (RxD)", "Bus+ (TxD)", "Link (RxD)", "Link (TxD)"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(box(names[i])->text(), captions[i]);
        EXPECT_FALSE(box(names[i])->isChecked());
    }
    EXPECT_EQ(button("ButRun")->text(), "Старт");
    EXPECT_EQ(button("ButClose")->text(), "Закрыть");
    EXPECT_EQ(form_.timer()->interval(), 100);
    EXPECT_FALSE(form_.isRunning());
    ASSERT_EQ(form_.log()->lineCount(), 1u);  // one empty line, as the log opens
    EXPECT_EQ(form_.log()->line(0), "");
    EXPECT_EQ(form_.channelMask(), 0);
}

TEST_F(TraceFormTest, ChannelPanelStartsAt98PixelsAndTheSplitterResizesIt) {
    auto* splitter = form_.findChild<QSplitter*>("Splitter1");
    auto* panel = form_.findChild<QWidget*>("Panel3");
    ASSERT_NE(splitter, nullptr);
    ASSERT_NE(panel, nullptr);
    // 98 pixels unless the captions need more in the font at hand.
    const int initial = std::max(TFTrace::kChannelPanelWidth, panel->minimumSizeHint().width());
    EXPECT_EQ(panel->width(), initial);
    const QList<int> sizes = splitter->sizes();
    splitter->setSizes({sizes[0] - 40, sizes[1] + 40});
    EXPECT_EQ(panel->width(), initial + 40);
}

TEST_F(TraceFormTest, StartWithNoChannelPollsOnceAndTheTimerWaitsForAChannel) {
    click(button("ButRun"));
    EXPECT_TRUE(signalled(WorkerRequest::PollTrace));
    EXPECT_EQ(button("ButRun")->text(), "Стоп");
    EXPECT_TRUE(form_.timer()->isActive());

    takeRequests();
    form_.TimerTimer();
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));

    click(box("BusTx"));
    form_.TimerTimer();
    EXPECT_TRUE(signalled(WorkerRequest::PollTrace));
}

TEST_F(TraceFormTest, StopWithdrawsAPendingPollButLinesUnderWayStillArrive) {
    click(box("LinkRx"));
    click(button("ButRun"));
    click(button("ButRun"));
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
    EXPECT_EQ(button("ButRun")->text(), "Старт");
    EXPECT_FALSE(form_.timer()->isActive());

    deliverLines({"10:15:02 Link(RxD): 0x7E; "});
    EXPECT_EQ(form_.log()->lineCount(), 2u);
}

TEST_F(TraceFormTest, ChannelBoxesSendTheMaskLittleEndianEvenWhileStopped) {
    click(box("BusRx"));
    EXPECT_TRUE(signalled(WorkerRequest::SetTrace));
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
    click(box("LinkTx"));
    EXPECT_EQ(maskWrittenIntoRequest(), (std::array<std::uint8_t, 2>{0x09, 0x00}));

    takeRequests();
    click(box("BusRx"));
    EXPECT_TRUE(signalled(WorkerRequest::SetTrace));
    EXPECT_EQ(maskWrittenIntoRequest(), (std::array<std::uint8_t, 2>{0x08, 0x00}));
}

TEST_F(TraceFormTest, FailureClearsTheChannelsAndKeepsRunning) {
    click(button("ButRun"));
    click(box("BusRx"));
    click(box("LinkTx"));

    form_.onWorkerNotification({NotifyCode::Done, 0});
    for (QCheckBox* each : form_.findChildren<QCheckBox*>()) EXPECT_FALSE(each->isChecked());
    EXPECT_EQ(form_.channelMask(), 0);
    EXPECT_FALSE(signalled(WorkerRequest::SetTrace));
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
    EXPECT_EQ(button("ButRun")->text(), "Стоп");
    EXPECT_TRUE(form_.isRunning());
    EXPECT_EQ(maskWrittenIntoRequest(), (std::array<std::uint8_t, 2>{0x00, 0x00}));
    form_.TimerTimer();
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
}

TEST_F(TraceFormTest, LinesAreAppendedUnchangedInOrder) {
    deliverLines({"10:15:02 Bus+(RxD): 0x7E; 0x01; ", "10:15:02 Link(TxD): 0x00; "});
    deliverLines({"10:15:03 0xAA; "});
    deliverLines({});
    TraceLog* log = form_.log();
    ASSERT_EQ(log->lineCount(), 4u);  // after the log's first, empty line
    EXPECT_EQ(log->line(1), "10:15:02 Bus+(RxD): 0x7E; 0x01; ");
    EXPECT_EQ(log->line(2), "10:15:02 Link(TxD): 0x00; ");
    EXPECT_EQ(log->line(3), "10:15:03 0xAA; ");

    log->setFocus();
    QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "\n10:15:02 Bus+(RxD): 0x7E; 0x01; \n10:15:02 Link(TxD): 0x00; \n10:15:03 0xAA; \n");
}

TEST_F(TraceFormTest, LogFollowsNewLinesOnlyWhileShowingTheEnd) {
    TraceLines batch;
    for (int i = 0; i < 500; ++i) batch.push_back("10:00:00 Bus+(RxD): 0x" + std::to_string(i));
    deliverLines(batch);
    QScrollBar* scroll = form_.log()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());

    scroll->setValue(10);
    deliverLines(batch);
    EXPECT_EQ(form_.log()->lineCount(), 1001u);
    EXPECT_EQ(scroll->value(), 10);
}

TEST_F(TraceFormTest, ClosingWithdrawsTheRequestsAndStopsPolling) {
    click(box("LinkRx"));
    click(button("ButRun"));
    ASSERT_EQ(WindowRegistry::get(WindowId::FTrace), &form_);
    click(button("ButClose"));
    EXPECT_FALSE(signalled(WorkerRequest::SetTrace));
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
    EXPECT_FALSE(form_.timer()->isActive());
    EXPECT_EQ(WindowRegistry::get(WindowId::FTrace), nullptr);
}

// --- the log as text -------------------------------------------------------------

const TraceLines kThreeLines = {"10:15:02 Bus+(RxD): 0x7E; 0x01; ", "10:15:02 Link(TxD): 0x00; ",
                                "10:15:03 Канал 0xAA; "};

TEST_F(TraceFormTest, MouseSelectsAcrossLinesAndCtrlCCopiesExactlyThat) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QWidget* view = log->viewport();
    const QPoint inLine = QPoint(1, log->fontMetrics().height() / 2);
    QTest::mousePress(view, Qt::LeftButton, {}, log->pointOf({1, 9}) + inLine);
    QTest::mouseMove(view, log->pointOf({2, 4}) + inLine);
    QTest::mouseMove(view, log->pointOf({3, 5}) + inLine);
    QTest::mouseRelease(view, Qt::LeftButton, {}, log->pointOf({3, 5}) + inLine);
    const QString expected = "Bus+(RxD): 0x7E; 0x01; \n10:15:02 Link(TxD): 0x00; \n10:15";
    EXPECT_EQ(log->selectedText(), expected);
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), expected);

    // Shift extends the selection from where it started.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, log->pointOf({1, 18}) + inLine);
    EXPECT_EQ(log->selectedText(), "Bus+(RxD)");
    EXPECT_EQ(log->lineCount(), 4u);  // selecting changes no line
}

TEST_F(TraceFormTest, ContextMenuCopiesSelectsAllAndSaves) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        QMenu* menu = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* shownMenu = qobject_cast<QMenu*>(top); shownMenu && shownMenu->isVisible())
                menu = shownMenu;
        }
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            shown << (action->isSeparator() ? "—" : action->text());
        }
        menu->close();
    });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              log->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(log->viewport(), &request);
    EXPECT_EQ(shown, QStringList({"Копировать", "Выделить все", "—", "Сохранить в файл…"}));
    EXPECT_FALSE(log->copyAction()->isEnabled());  // nothing selected yet

    log->selectAllAction()->trigger();
    log->copyAction()->trigger();
    const QString all = "\n" + QString::fromUtf8(kThreeLines[0]) + "\n" +
                        QString::fromUtf8(kThreeLines[1]) + "\n" +
                        QString::fromUtf8(kThreeLines[2]) + "\n";
    EXPECT_EQ(QApplication::clipboard()->text(), all);
}

TEST_F(TraceFormTest, SavingWritesEveryLineAsUtf8OneLinePerTraceLine) {
    deliverLines(kThreeLines);
    FakeDialogs dialogs;
    QTemporaryDir folder;
    const QString path = folder.filePath("trace.txt");
    dialogs.saveAnswers.push_back(path);
    form_.log()->saveAction()->trigger();
    ASSERT_EQ(dialogs.saveFilters.size(), 1);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const std::string expected =
        "\n" + kThreeLines[0] + "\n" + kThreeLines[1] + "\n" + kThreeLines[2] + "\n";
    EXPECT_EQ(saved.readAll().toStdString(), expected);
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // A file that cannot be written is said so; cancelling writes nothing.
    dialogs.saveAnswers.push_back(folder.filePath("missing/trace.txt"));
    form_.log()->saveAction()->trigger();
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_FALSE(QFile::exists(folder.filePath("missing/trace.txt")));
    form_.log()->saveAction()->trigger();
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"trace.txt"});
}

TEST_F(TraceFormTest, ScreenReadersGetTheTextAndTheSelection) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(log);
    ASSERT_NE(accessible, nullptr);
    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(accessible->state().readOnly);
    EXPECT_TRUE(accessible->state().multiLine);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Трассировка");
    const QString all = "\n" + QString::fromUtf8(kThreeLines[0]) + "\n" +
                        QString::fromUtf8(kThreeLines[1]) + "\n" +
                        QString::fromUtf8(kThreeLines[2]) + "\n";
    EXPECT_EQ(text->characterCount(), all.size());
    EXPECT_EQ(text->text(0, text->characterCount()), all);
    EXPECT_EQ(accessible->text(QAccessible::Value), all);
    EXPECT_EQ(text->text(1, 9), "10:15:02");

    text->setSelection(0, 10, 19);
    EXPECT_EQ(log->selectedText(), "Bus+(RxD)");
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 19);
    EXPECT_EQ(text->selectionCount(), 1);
}

}  // namespace
