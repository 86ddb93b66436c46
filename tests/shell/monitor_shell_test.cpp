// The statistics and trace windows opened from the device tree, with the
// simulated board answering and the worker run on the test's thread.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "monitor/ReportForm.h"
#include "monitor/TraceForm.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/WindowControls.h"

namespace {

class MonitorShellTest : public ShellFixture {
protected:
    template <class Control>
    static Control* control(QObject* window, const char* name) {
        return NamedControl<Control>(*window, name);
    }
    static void click(QObject* window, const char* name) {
        QTest::mouseClick(control<QAbstractButton>(window, name), Qt::LeftButton);
    }
    static QString field(TFReport* report, const char* name) {
        return control<QLineEdit>(report, name)->text();
    }
    TFReport* openReport() {
        installConfig(0);
        doubleClickNode("Статистика");
        return WindowRegistry::Find<TFReport>(WindowId::FReport);
    }
    TFTrace* openTrace() {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::FullService);
        doubleClickNode("Trace");
        return WindowRegistry::Find<TFTrace>(WindowId::FTrace);
    }
};

TEST_F(MonitorShellTest, StatisticsRefreshEachPeriodAndResetToZero) {
    clock_.advanceUs(3'000'000);
    TFReport* report = openReport();
    ASSERT_NE(report, nullptr);
    click(report, "BRun");
    runWorker();
    EXPECT_EQ(field(report, "sTime"), "3");
    EXPECT_EQ(field(report, "sFreq"), "8" + QLocale().groupSeparator() + "000");

    clock_.advanceUs(10'000'000);
    report->TimerTimer();
    runWorker();
    EXPECT_EQ(field(report, "sTime"), "13");
    EXPECT_NE(field(report, "sTxd"), "0");

    click(report, "BRst");
    runWorker();
    EXPECT_EQ(field(report, "sTime"), "0");
    EXPECT_EQ(field(report, "sTxd"), "0");
    EXPECT_EQ(field(report, "sRxvBytes"), "0");
    EXPECT_TRUE(report->isRunning());
}

TEST_F(MonitorShellTest, StatisticsWindowClosesWhenNoBoardAnswers) {
    TFReport* report = openReport();
    ASSERT_NE(report, nullptr);
    k350sim::unplug(board_);
    click(report, "BRun");
    runWorker();
    EXPECT_EQ(WindowRegistry::Get(WindowId::FReport), nullptr);
}

TEST_F(MonitorShellTest, TraceShowsLinesOfTheSelectedChannels) {
    TFTrace* trace = openTrace();
    ASSERT_NE(trace, nullptr);
    click(trace, "BusRx");
    click(trace, "LinkTx");
    runWorker();
    EXPECT_EQ(k350sim::traceMask(board_), 0x09);

    click(trace, "ButRun");
    clock_.advanceUs(1'000'000);
    runWorker();
    trace->TimerTimer();
    clock_.advanceUs(1'000'000);
    runWorker();

    const QRegularExpression format(
        R"(^\d\d:\d\d:\d\d (Bus\+\(RxD\): |Link\(TxD\): )(0x[0-9A-F]{2}; )+$)");
    int busLines = 0;
    int linkLines = 0;
    for (std::size_t i = 1; i < trace->log()->lineCount(); ++i) {  // after the empty first
        const QString line = trace->log()->line(i);
        EXPECT_TRUE(format.match(line).hasMatch()) << line.toStdString();
        busLines += line.contains("Bus+(RxD)");
        linkLines += line.contains("Link(TxD)");
    }
    EXPECT_GT(busLines, 0);
    EXPECT_GT(linkLines, 0);
}

TEST_F(MonitorShellTest, TraceWindowOpensAtTheTopLeftCornerWhateverIsOpen) {
    installConfig(0);
    window().setServiceLevel(ServiceLevel::FullService);
    doubleClickNode("Статистика");
    doubleClickNode("Trace");
    auto* report = WindowRegistry::Find<TFReport>(WindowId::FReport);
    auto* trace = WindowRegistry::Find<TFTrace>(WindowId::FTrace);
    ASSERT_NE(report, nullptr);
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(report->parentWidget()->pos(), QPoint(0, 0));
    EXPECT_EQ(trace->parentWidget()->pos(), QPoint(0, 0));  // not 10 x 1
}

TEST_F(MonitorShellTest, TraceWithoutBoardUnchecksTheChannelsAndKeepsRunning) {
    TFTrace* trace = openTrace();
    ASSERT_NE(trace, nullptr);
    k350sim::unplug(board_);
    click(trace, "ButRun");
    click(trace, "LinkRx");
    runWorker();
    EXPECT_FALSE(control<QCheckBox>(trace, "LinkRx")->isChecked());
    EXPECT_EQ(trace->channelMask(), 0);
    EXPECT_EQ(control<QPushButton>(trace, "ButRun")->text(), "Стоп");
    EXPECT_NE(window().logText().indexOf("-> "), -1);
}

}  // namespace
