// The trace window as a person uses it, with a worker that is not started:
// the test checks what is asked of it and plays its notifications.
#include "tests/support/TraceFormFixture.h"

namespace {

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
              "10:15:02 Bus+(RxD): 0x7E; 0x01; \n10:15:02 Link(TxD): 0x00; \n10:15:03 0xAA; \n");
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
    ASSERT_EQ(WindowRegistry::Get(WindowId::FTrace), &form_);
    click(button("ButClose"));
    EXPECT_FALSE(signalled(WorkerRequest::SetTrace));
    EXPECT_FALSE(signalled(WorkerRequest::PollTrace));
    EXPECT_FALSE(form_.timer()->isActive());
    EXPECT_EQ(WindowRegistry::Get(WindowId::FTrace), nullptr);
}

}  // namespace
