// The statistics window as a person uses it, with a worker that is not
// started: the test checks what is asked of it and plays its answers.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <array>

#include "link/K350Task.h"
#include "monitor/ReportForm.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/StatisticsRecord.h"
#include "tests/support/TestLocales.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/WindowControls.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

const char* const kFieldNames[TFReport::kWordCount] = {
    "sTime",        "sTxd",          "sTxdBytes", "sRxd",     "sRxdBytes", "sRxdErr",
    "sRxdErrFract", "sTxv",          "sTxvBytes", "sTxvLost", "sRxv",      "sRxvBytes",
    "sRxvLost",     "sRxvLostFract", "sJitter",   "sLoad",    "sFreq"};

using Record = std::array<std::uint8_t, TFReport::kRecordSize>;

class ReportFormTest : public ::testing::Test {
protected:
    ReportFormTest() {
        SetK350Worker(&worker_);
        form_.show();
    }
    ~ReportFormTest() override { SetK350Worker(nullptr); }

    template <class T>
    T* child(const char* name) {
        return NamedControl<T>(form_, name);
    }
    QString field(const char* name) { return child<QLineEdit>(name)->text(); }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    void typePeriod(const QString& text) {
        QLineEdit* period = child<QLineEdit>("mTime");
        period->selectAll();
        QTest::keyClick(period, Qt::Key_Delete);
        QTest::keyClicks(period, text);
    }
    void deliverStatistics(const Record& record, std::uint32_t received = TFReport::kRecordSize) {
        LinkStatisticsReply reply;
        std::copy_n(record.begin(), received, reply.record.begin());
        reply.received = received;
        form_.onWorkerNotification(
            {NotifyCode::Statistics, reinterpret_cast<std::intptr_t>(&reply)});
    }
    bool signalled(WorkerRequest request) const { return worker_.isSignalled(request); }

    RecordingChannel channel_;
    VirtualClock clock_;
    TK350 worker_{channel_, clock_};
    TFReport form_;
};

TEST_F(ReportFormTest, OpensStoppedWithEmptyFieldsAndTheLabelsAsWritten) {
    EXPECT_EQ(form_.windowTitle(), "Статистика работы");
    EXPECT_EQ(child<QPushButton>("BRun")->text(), "Старт");
    EXPECT_FALSE(form_.isRunning());
    EXPECT_EQ(field("mTime"), "1");
    for (const char* name : kFieldNames) {
        QLineEdit* value = child<QLineEdit>(name);
        EXPECT_TRUE(value->text().isEmpty()) << name;
        EXPECT_TRUE(value->isReadOnly()) << name;
        EXPECT_FALSE(value->hasFrame()) << name;
    }
    EXPECT_EQ(child<QLabel>("Label16")->text(), "Количество ошибочных пакетов за 1 сек:");
    EXPECT_EQ(child<QLabel>("Label9")->text(), "Количество потерянных пакетов за 1 сек:");

    QStringList captions;
    for (const QLabel* label : form_.findChildren<QLabel*>()) captions << label->text();
    EXPECT_EQ(captions.count("Объем  отправленных пакетов (байт):"), 2);
    EXPECT_EQ(captions.count("Объем  принятых пакетов (байт):"), 2);
    EXPECT_TRUE(captions.contains("Время получения отчета (1..999 сек):"));
    QTabWidget* pages = child<QTabWidget>("PageControl");
    EXPECT_EQ(pages->tabText(0), "Соединение");
    EXPECT_EQ(pages->tabText(1), "Контроллер");
    EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));
    EXPECT_FALSE(signalled(WorkerRequest::ResetStatistics));
}

TEST_F(ReportFormTest, ShowsEachWordInItsFormWithTheLocalesSeparators) {
    std::array<std::uint32_t, TFReport::kWordCount> words{};
    for (int i = 0; i < TFReport::kWordCount; ++i) words[i] = 100 + i;
    words[0] = 0xFFFFFFFFu;
    words[1] = 0xFFFFFFFFu;
    words[6] = 1u << 30;
    words[13] = 1u << 31;
    words[14] = 46875;
    words[15] = 9375;
    words[16] = 8000;
    Record record = BigEndianRecord(words);
    deliverStatistics(record);

    const QString sep = QLocale().groupSeparator();
    EXPECT_EQ(field("sTime"), "-1");
    EXPECT_EQ(field("sTxd"), "4" + sep + "294" + sep + "967" + sep + "295");
    EXPECT_EQ(field("sRxdErr"), "105");
    EXPECT_EQ(field("sRxdErrFract"), "50,0000 %");
    EXPECT_EQ(field("sRxvLost"), "112");
    EXPECT_EQ(field("sRxvLostFract"), "100,0000 %");
    EXPECT_EQ(field("sJitter"), "1000,0000 мсек");
    EXPECT_EQ(field("sLoad"), "20,00");
    EXPECT_EQ(field("sFreq"), "8" + sep + "000");

    // Other notifications leave the values alone.
    form_.onWorkerNotification({NotifyCode::Done, 0});
    EXPECT_EQ(field("sLoad"), "20,00");
}

TEST_F(ReportFormTest, ShortReplyShowsTheWordsThatArrivedAndLeavesTheRestEmpty) {
    std::array<std::uint32_t, TFReport::kWordCount> words{};
    words.fill(7);
    deliverStatistics(BigEndianRecord(words));
    words.fill(9);
    // Two whole words and half of the third.
    deliverStatistics(BigEndianRecord(words), 10);
    EXPECT_EQ(field("sTime"), "9");
    EXPECT_EQ(field("sTxd"), "9");
    for (int i = 2; i < TFReport::kWordCount; ++i) {
        EXPECT_EQ(field(kFieldNames[i]), "") << kFieldNames[i];
    }
}

TEST_F(ReportFormTest, StartAsksAtOnceAndThenOncePerPeriodUntilStopped) {
    click("BRun");
    EXPECT_TRUE(signalled(WorkerRequest::ReadStatistics));
    EXPECT_EQ(child<QPushButton>("BRun")->text(), "Стоп");
    EXPECT_TRUE(form_.timer()->isActive());
    EXPECT_EQ(form_.timer()->interval(), 1000);
    EXPECT_FALSE(child<QLineEdit>("mTime")->isEnabled());

    worker_.reset(WorkerRequest::ReadStatistics);  // the worker took it
    form_.TimerTimer();
    EXPECT_TRUE(signalled(WorkerRequest::ReadStatistics));

    click("BRun");
    EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));
    EXPECT_EQ(child<QPushButton>("BRun")->text(), "Старт");
    EXPECT_FALSE(form_.timer()->isActive());
    EXPECT_TRUE(child<QLineEdit>("mTime")->isEnabled());
}

TEST_F(ReportFormTest, PeriodIsKeptWithinOneTo999Seconds) {
    struct Case {
        QString typed;
        int period;
        QString shown;
    };
    const Case cases[] = {{"0", 1, "1"},        {"995", 999, "999"}, {"990", 990, "990"},
                          {"991", 999, "999"},  {"-5", 1, "1"},      {"abc", 1, "abc"},
                          {"12345", 123, "123"}};
    for (const Case& c : cases) {
        typePeriod(c.typed);
        click("BRun");
        EXPECT_EQ(form_.timer()->interval(), c.period * 1000) << c.typed.toStdString();
        EXPECT_EQ(field("mTime"), c.shown) << c.typed.toStdString();
        EXPECT_EQ(child<QLabel>("Label16")->text(),
                  "Количество ошибочных пакетов за " + c.shown + " сек:");
        EXPECT_EQ(child<QLabel>("Label9")->text(),
                  "Количество потерянных пакетов за " + c.shown + " сек:");
        click("BRun");
    }
}

// Enter in the period field applies it as "Старт" would, without starting.
TEST_F(ReportFormTest, EnterInThePeriodFieldAppliesThePeriod) {
    for (const auto& [typed, shown] : {std::pair{"5", "5"}, {"0", "1"}, {"995", "999"}}) {
        typePeriod(typed);
        QTest::keyClick(child<QLineEdit>("mTime"), Qt::Key_Return);
        EXPECT_EQ(form_.timer()->interval(), QString(shown).toInt() * 1000) << typed;
        EXPECT_EQ(field("mTime"), shown) << typed;
        EXPECT_EQ(child<QLabel>("Label16")->text(),
                  QString("Количество ошибочных пакетов за ") + shown + " сек:");
        EXPECT_FALSE(form_.isRunning());
        EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));
    }
}

TEST_F(ReportFormTest, ResetWhileStoppedShowsOneReportAndStartsNothing) {
    click("BRst");
    EXPECT_TRUE(signalled(WorkerRequest::ResetStatistics));
    EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));

    Record record = BigEndianRecord({7});
    deliverStatistics(record);
    EXPECT_EQ(field("sTime"), "7");
    EXPECT_EQ(field("sTxd"), "0");
    EXPECT_FALSE(form_.isRunning());
    EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));
}

TEST_F(ReportFormTest, ClosingWithdrawsBothRequests) {
    // The worker's close request acts as the button.
    for (bool byWorker : {false, true}) {
        SCOPED_TRACE(byWorker);
        TFReport form;
        form.show();
        QTest::mouseClick(form.findChild<QPushButton*>("BRun"), Qt::LeftButton);
        QTest::mouseClick(form.findChild<QPushButton*>("BRst"), Qt::LeftButton);
        ASSERT_EQ(WindowRegistry::Get(WindowId::FReport), &form);
        if (byWorker) {
            form.closeFromWorker();
        } else {
            QTest::mouseClick(form.findChild<QPushButton*>("BClose"), Qt::LeftButton);
        }
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(signalled(WorkerRequest::ReadStatistics));
        EXPECT_FALSE(signalled(WorkerRequest::ResetStatistics));
        EXPECT_FALSE(form.timer()->isActive());
        EXPECT_EQ(WindowRegistry::Get(WindowId::FReport), nullptr);
    }
}

}  // namespace
