// The chart page of the statistics window, opened from the device tree with
// the simulated board answering: history, series, choice and export.
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QValueAxis>

#include "monitor/ReportChart.h"
#include "monitor/ReportForm.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/WindowControls.h"

namespace {

using namespace StatisticsSeries;

class ReportChartTest : public ShellFixture {
protected:
    template <class Control>
    Control* control(const char* name) {
        return NamedControl<Control>(*report_, name);
    }
    void click(const char* name) {
        QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton);
    }
    QString field(const char* name) { return control<QLineEdit>(name)->text(); }
    void openReport() {
        installConfig(0);
        doubleClickNode("Статистика");
        report_ = WindowRegistry::Find<TFReport>(WindowId::FReport);
        ASSERT_NE(report_, nullptr);
        report_->history().setTimeSource([this] { return start_.addMSecs(clock_.nowUs() / 1000); });
    }
    // Starts the window and lets `count` report periods of one second pass.
    void runReports(int count) {
        click("BRun");
        runWorker();
        for (int i = 1; i < count; ++i) {
            clock_.advanceUs(1'000'000);
            report_->TimerTimer();
            runWorker();
        }
        QApplication::processEvents();  // the chart follows once the notifications are handled
    }
    void showChartPage() {
        control<QTabWidget>("PageControl")->setCurrentWidget(report_->chart());
        QApplication::processEvents();
    }
    // The last point of a series, as the window would show it.
    QString lastShown(Id id, int decimals) {
        const QList<QPointF> points = report_->chart()->series(id)->points();
        if (points.isEmpty()) return {};
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(points.last().y(), 'f', decimals);
    }

    const QDateTime start_{QDate(2026, 12, 9), QTime(9, 0), Qt::OffsetFromUTC, 3600};
    TFReport* report_ = nullptr;
};

TEST_F(ReportChartTest, IsTheThirdPageAndHoldsEveryReportInOrder) {
    openReport();
    auto* pages = control<QTabWidget>("PageControl");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(2), "График");
    EXPECT_TRUE(report_->history().empty());

    clock_.advanceUs(2'000'000);
    runReports(25);
    const ReportHistory& history = report_->history();
    ASSERT_EQ(history.size(), 25u);
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history[i].words[0], 2 + i) << i;  // the board's collection time
        EXPECT_EQ(history[i].arrival().offsetFromUtc(), 3600);
        if (i > 0) {
            EXPECT_GE(history[i].arrivalMs - history[i - 1].arrivalMs, 1000) << i;
        }
    }
    EXPECT_EQ(field("sTime"), QString::number(history.back().words[0]));
    EXPECT_FALSE(history.back().afterReset);
}

TEST_F(ReportChartTest, SeriesCarryTheValuesTheFieldsShow) {
    openReport();
    showChartPage();
    runReports(7);
    ReportChart* chart = report_->chart();
    for (int id = 0; id < kCount; ++id) EXPECT_EQ(chart->series(Id(id))->count(), 7) << id;
    EXPECT_EQ(lastShown(RxdErrFract, 4) + " %", field("sRxdErrFract"));
    EXPECT_EQ(lastShown(RxvLostFract, 4) + " %", field("sRxvLostFract"));
    EXPECT_EQ(lastShown(Jitter, 4) + " мсек", field("sJitter"));
    EXPECT_EQ(lastShown(Load, 2), field("sLoad"));
    EXPECT_EQ(chart->view()->chart()->locale(), QLocale());
    EXPECT_TRUE(chart->view()->chart()->localizeNumbers());
}

TEST_F(ReportChartTest, AHiddenPageCatchesUpWhenShown) {
    openReport();
    runReports(3);
    EXPECT_EQ(report_->chart()->series(Load)->count(), 0);  // nothing drawn while hidden
    showChartPage();
    EXPECT_EQ(report_->chart()->series(Load)->count(), 3);
}

TEST_F(ReportChartTest, TheUserChoosesWhichSeriesAreShown) {
    openReport();
    showChartPage();
    runReports(3);
    ReportChart* chart = report_->chart();
    for (int id = 0; id < kCount; ++id) {
        EXPECT_TRUE(chart->choice(Id(id))->isChecked());
        EXPECT_TRUE(chart->series(Id(id))->isVisible());
        EXPECT_EQ(chart->choice(Id(id))->accessibleName(), chart->choice(Id(id))->text());
    }
    click("ShowLoad");
    click("ShowJitter");
    EXPECT_FALSE(chart->series(Load)->isVisible());
    EXPECT_FALSE(chart->series(Jitter)->isVisible());
    EXPECT_TRUE(chart->series(RxdErrFract)->isVisible());
    auto* percent = qobject_cast<QValueAxis*>(chart->series(RxdErrFract)->attachedAxes().last());
    ASSERT_NE(percent, nullptr);
    EXPECT_LT(percent->max(), 5.0);
    EXPECT_FALSE(chart->series(Load)->attachedAxes().last()->isVisible());
    click("ShowLoad");
    EXPECT_TRUE(chart->series(Load)->isVisible());
    EXPECT_TRUE(chart->series(Load)->attachedAxes().last()->isVisible());
    EXPECT_LT(percent->max(), 5.0);
}

// Which axis a line is read on: the unit is in every axis' title, the two packet fractions share
// the left axis, and the jitter and the load each have a right axis in their own colour, so the
// fractions are not flattened by the load.
TEST_F(ReportChartTest, EachAxisNamesItsUnitAndEachSeriesItsAxisByColourOrSide) {
    openReport();
    showChartPage();
    runReports(3);
    ReportChart* chart = report_->chart();
    const auto valueAxis = [&](Id id) {
        QValueAxis* found = nullptr;
        for (QAbstractAxis* axis : chart->series(id)->attachedAxes()) {
            if (axis->orientation() == Qt::Vertical) found = qobject_cast<QValueAxis*>(axis);
        }
        return found;
    };
    const std::pair<Id, const char*> units[] = {
        {RxdErrFract, "%"}, {RxvLostFract, "%"}, {Jitter, "мсек"}, {Load, "%"}};
    for (const auto& [id, unit] : units) {
        QValueAxis* axis = valueAxis(id);
        ASSERT_NE(axis, nullptr) << id;
        EXPECT_TRUE(axis->titleText().endsWith(QString::fromUtf8(unit))) << id;
        EXPECT_TRUE(axis->isTitleVisible()) << id;
    }
    EXPECT_EQ(valueAxis(RxdErrFract), valueAxis(RxvLostFract));
    EXPECT_EQ(valueAxis(RxdErrFract)->alignment(), Qt::AlignLeft);
    for (Id id : {Jitter, Load}) {
        QValueAxis* axis = valueAxis(id);
        EXPECT_EQ(axis->alignment(), Qt::AlignRight) << id;
        EXPECT_EQ(axis->titleBrush().color(), chart->series(id)->pen().color()) << id;
        EXPECT_EQ(axis->labelsColor(), chart->series(id)->pen().color()) << id;
        EXPECT_EQ(chart->series(id)->attachedAxes().size(), 2);
    }
    EXPECT_NE(valueAxis(Jitter), valueAxis(Load));
    EXPECT_NE(valueAxis(Load), valueAxis(RxdErrFract));
    // The load's tens of percent leave the fractions' axis as fine as they need.
    EXPECT_LT(valueAxis(RxdErrFract)->max(), 5.0);
    EXPECT_GT(valueAxis(Load)->max(), 15.0);
}

TEST_F(ReportChartTest, ResetIsMarkedAndClosingDiscardsTheHistory) {
    openReport();
    runReports(4);
    click("BRst");
    runWorker();
    const ReportHistory& history = report_->history();
    ASSERT_EQ(history.size(), 5u);
    EXPECT_TRUE(history.back().afterReset);
    EXPECT_EQ(history.back().words[0], 0u);
    for (std::size_t i = 0; i + 1 < history.size(); ++i) EXPECT_FALSE(history[i].afterReset);

    click("BClose");
    EXPECT_EQ(WindowRegistry::Get(WindowId::FReport), nullptr);
    doubleClickNode("Статистика");
    auto* reopened = WindowRegistry::Find<TFReport>(WindowId::FReport);
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(reopened->history().empty());
}

TEST_F(ReportChartTest, SaveWritesTheHistoryAsCsvThroughTheDialog) {
    openReport();
    showChartPage();
    runReports(3);
    const QString path = tempPath("run.csv");
    writeFile("run.csv", {'o', 'l', 'd'});
    dialogs_.saveAnswers.push_back(path);
    click("BSave");
    ASSERT_EQ(dialogs_.saveFilters.size(), 1);
    EXPECT_EQ(dialogs_.saveFilters[0], "CSV (*.csv)|*.csv|все файлы|*");
    EXPECT_TRUE(dialogs_.messages.isEmpty());

    const std::vector<std::uint8_t> bytes = readFile(path);
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
            .split('\n');
    ASSERT_EQ(lines.size(), 5);  // header, three rows, nothing after the last line end
    EXPECT_TRUE(lines[0].startsWith("time,reset,sTime,"));
    const ReportHistory& history = report_->history();
    for (int row = 0; row < 3; ++row) {
        const QList<QByteArray> cells = lines[row + 1].trimmed().split(',');
        ASSERT_EQ(cells.size(), 2 + 17 + 4);
        EXPECT_EQ(cells[0], history[row].arrival().toString(Qt::ISODateWithMs).toLatin1());
        EXPECT_EQ(cells[2], QByteArray::number(history[row].words[0]));
        EXPECT_EQ(cells[22], QByteArray::number(history[row].shown[Load], 'f', 2));
    }
    EXPECT_TRUE(lines[1].startsWith("2026-12-09T09:00:"));
    EXPECT_TRUE(lines[1].contains("+01:00,0,"));

    // A name typed without an extension gets ".csv".
    dialogs_.saveAnswers.push_back(tempPath("run2"));
    click("BSave");
    EXPECT_EQ(readFile(tempPath("run2.csv")), bytes);
    EXPECT_FALSE(QFileInfo::exists(tempPath("run2")));
}

TEST_F(ReportChartTest, AFailedSaveSaysSoAndLeavesNothingBehind) {
    openReport();
    showChartPage();
    runReports(2);
    const QString folder = tempPath("taken.csv");
    QDir().mkpath(folder);  // a folder where the file should go
    dialogs_.saveAnswers.push_back(folder);
    click("BSave");
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].startsWith("Файл " + folder + " не удается создать"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(QDir(tempPath("")).entryList(QDir::Files), QStringList());

    click("BSave");  // cancelled: nothing written, nothing said
    EXPECT_EQ(dialogs_.messages.size(), 1);
}

}  // namespace
