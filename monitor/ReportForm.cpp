#include "monitor/ReportForm.h"

#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "monitor/ReportChart.h"
#include "monitor/StatisticsFormat.h"
#include "ui/Buttons.h"

namespace {

using Formatter = QString (*)(std::uint32_t);

// The display form of each word, as the core says how it is shown.
Formatter formatterOf(int word) {
    switch (StatisticsRules::FormOf(word)) {
        case StatisticsRules::Form::Signed:
            return StatisticsFormat::PlainInteger;
        case StatisticsRules::Form::Count:
            return StatisticsFormat::Count;
        case StatisticsRules::Form::Percentage:
            return StatisticsFormat::Percentage;
        case StatisticsRules::Form::Milliseconds:
            return StatisticsFormat::Milliseconds;
        case StatisticsRules::Form::Load:
            return StatisticsFormat::Load;
    }
    return StatisticsFormat::Count;
}

QString errorsCaption(const QString& period) {
    return QStringLiteral("Количество ошибочных пакетов за ") + period + QStringLiteral(" сек:");
}
QString lossCaption(const QString& period) {
    return QStringLiteral("Количество потерянных пакетов за ") + period + QStringLiteral(" сек:");
}

QFrame* separatorLine() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QGridLayout* compactGrid(QWidget* page) {
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(0);
    grid->setHorizontalSpacing(4);
    grid->setColumnStretch(0, 1);
    return grid;
}

// Read-only, borderless, in the window's background colour.
void makeValueField(QLineEdit* field) {
    field->setReadOnly(true);
    field->setFrame(false);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A borderless field needs no more height than its text: the rows stay
    // as close as the captions' lines, and the window fits the client area.
    field->setFixedHeight(field->fontMetrics().height() + 2);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
}

}  // namespace

TFReport::TFReport(QWidget* parent) : TaskWindow(WindowId::FReport, parent) {
    setWindowTitle(QStringLiteral("Статистика работы"));

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(0);
    connect(Timer, &QTimer::timeout, this, &TFReport::TimerTimer);

    PageControl = new QTabWidget;
    PageControl->setObjectName("PageControl");
    PageControl->addTab(buildLinkPage(), QStringLiteral("Соединение"));
    PageControl->addTab(buildControllerPage(), QStringLiteral("Контроллер"));
    chart_ = new ReportChart(history_);
    PageControl->addTab(chart_, QStringLiteral("График"));
    // Wide enough for the largest value each can show.
    for (int index = 0; index < kWordCount; ++index) {
        QLineEdit* field = fields_[std::size_t(index)];
        const int widest =
            std::max(field->fontMetrics().horizontalAdvance(StatisticsFormat::Count(0xFFFFFFFFu)),
                     field->fontMetrics().horizontalAdvance(formatterOf(index)(0xFFFFFFFFu)));
        field->setMinimumWidth(widest + 8);
    }

    BRst = MakeButton(QStringLiteral("Сброс"), "BRst");
    BRun = MakeButton(QStringLiteral("Старт"), "BRun");
    BClose = MakeButton(QStringLiteral("Закрыть"), "BClose");
    connect(BRst, &QPushButton::clicked, this, &TFReport::BRstClick);
    connect(BRun, &QPushButton::clicked, this, &TFReport::BRunClick);
    connect(BClose, &QPushButton::clicked, this, &TFReport::BCloseClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BRst);
    buttons->addWidget(BRun);
    buttons->addWidget(BClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl, 1);
    layout->addLayout(buttons);

    buildPeriodLabels();
    reservePeriodLabelWidth();
    // The stated client size, or more where the captions need room.
    setFixedSize(QSize(357, 331).expandedTo(layout->minimumSize()));
}

// The period captions change with the period: room for the longest from the start.
void TFReport::reservePeriodLabelWidth() {
    const QString widest = QString::number(kMaxPeriod).fill(QLatin1Char('8'));
    Label16->setMinimumWidth(Label16->fontMetrics().horizontalAdvance(errorsCaption(widest)) + 2);
    Label9->setMinimumWidth(Label9->fontMetrics().horizontalAdvance(lossCaption(widest)) + 2);
}

QLineEdit* TFReport::addValueRow(QGridLayout* grid, const QString& caption, const char* name,
                                 QLabel** label) {
    const int row = grid->rowCount();
    auto* captionLabel = new QLabel(caption);
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setAccessibleName(caption);
    makeValueField(field);
    captionLabel->setBuddy(field);
    grid->addWidget(captionLabel, row, 0);
    grid->addWidget(field, row, 1);
    if (label) *label = captionLabel;
    const auto next = std::find(fields_.begin(), fields_.end(), nullptr);
    if (next != fields_.end()) *next = field;
    return field;
}

QWidget* TFReport::buildLinkPage() {
    auto* page = new QWidget;
    auto* grid = compactGrid(page);
    addValueRow(grid, QStringLiteral("Время сбора данных (сек):"), "sTime");
    addValueRow(grid, QStringLiteral("Количество отправленных пакетов:"), "sTxd");
    addValueRow(grid, QStringLiteral("Объем  отправленных пакетов (байт):"), "sTxdBytes");
    grid->addWidget(separatorLine(), grid->rowCount(), 0, 1, 2);
    addValueRow(grid, QStringLiteral("Количество принятых пакетов:"), "sRxd");
    addValueRow(grid, QStringLiteral("Объем  принятых пакетов (байт):"), "sRxdBytes");
    addValueRow(grid, QStringLiteral("Количество ошибочных пакетов:"), "sRxdErr");
    addValueRow(grid, QString(), "sRxdErrFract", &Label16);
    Label16->setObjectName("Label16");

    grid->addWidget(separatorLine(), grid->rowCount(), 0, 1, 2);
    auto* heading = new QLabel(QStringLiteral("Аудио канал"));
    heading->setAlignment(Qt::AlignCenter);
    QFont bold;  // only the weight: the size comes from the page
    bold.setBold(true);
    heading->setFont(bold);
    grid->addWidget(heading, grid->rowCount(), 0, 1, 2);

    addValueRow(grid, QStringLiteral("Количество отправленных пакетов:"), "sTxv");
    addValueRow(grid, QStringLiteral("Объем  отправленных пакетов (байт):"), "sTxvBytes");
    addValueRow(grid, QStringLiteral("Количество блокированных пакетов:"), "sTxvLost");
    grid->addWidget(separatorLine(), grid->rowCount(), 0, 1, 2);
    addValueRow(grid, QStringLiteral("Количество принятых пакетов:"), "sRxv");
    addValueRow(grid, QStringLiteral("Объем  принятых пакетов (байт):"), "sRxvBytes");
    addValueRow(grid, QStringLiteral("Количество потерянных пакетов:"), "sRxvLost");
    addValueRow(grid, QString(), "sRxvLostFract", &Label9);
    Label9->setObjectName("Label9");
    addValueRow(grid, QStringLiteral("Колебание межпакетного интервала:"), "sJitter");
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

QWidget* TFReport::buildControllerPage() {
    auto* page = new QWidget;
    auto* grid = compactGrid(page);
    grid->setVerticalSpacing(4);
    addValueRow(grid, QStringLiteral("Загрузка процессора (%):"), "sLoad");
    grid->addWidget(separatorLine(), grid->rowCount(), 0, 1, 2);
    addValueRow(grid, QStringLiteral("Частота синхронизации (Гц):"), "sFreq");
    grid->addWidget(separatorLine(), grid->rowCount(), 0, 1, 2);

    const QString periodCaption = QStringLiteral("Время получения отчета (1..999 сек):");
    auto* periodLabel = new QLabel(periodCaption);
    mTime = new QLineEdit(QStringLiteral("1"));
    mTime->setObjectName("mTime");
    mTime->setAccessibleName(periodCaption);
    mTime->setMaxLength(3);
    mTime->setFixedWidth(50);
    periodLabel->setBuddy(mTime);
    connect(mTime, &QLineEdit::returnPressed, this, &TFReport::applyPeriod);
    const int row = grid->rowCount();
    grid->addWidget(periodLabel, row, 0);
    grid->addWidget(mTime, row, 1, Qt::AlignRight);
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

bool TFReport::isRunning() const {
    return Timer->isActive();
}

void TFReport::buildPeriodLabels() {
    const QString period = mTime->text();
    Label16->setText(errorsCaption(period));
    Label9->setText(lossCaption(period));
    fields_[6]->setAccessibleName(Label16->text());
    fields_[13]->setAccessibleName(Label9->text());
}

void TFReport::BRunClick() {
    if (isRunning()) {
        stop();
    } else {
        start();
    }
}

void TFReport::start() {
    BRun->setText(QStringLiteral("Стоп"));
    BRun->setAccessibleName(BRun->text());
    signalRequest(WorkerRequest::ReadStatistics);
    applyPeriod();
    Timer->start();
    mTime->setEnabled(false);
}

// The period field's value within 1..999 seconds (991 to 998 round up to the maximum too), for
// the timer and the captions that name it.
void TFReport::applyPeriod() {
    bool isNumber = false;
    int period = mTime->text().toInt(&isNumber);
    if (!isNumber) period = kMinPeriod;
    if (period < kMinPeriod) {
        period = kMinPeriod;
        mTime->setText(QString::number(kMinPeriod));
    }
    if (period > 990) {
        period = kMaxPeriod;
        mTime->setText(QString::number(kMaxPeriod));
    }
    period_ = period;
    Timer->setInterval(period * 1000);
    buildPeriodLabels();
}

void TFReport::stop() {
    BRun->setText(QStringLiteral("Старт"));
    BRun->setAccessibleName(BRun->text());
    withdrawRequest(WorkerRequest::ReadStatistics);
    Timer->stop();
    mTime->setEnabled(true);
}

void TFReport::TimerTimer() {
    signalRequest(WorkerRequest::ReadStatistics);
}

void TFReport::BRstClick() {
    history_.noteResetAsked();
    signalRequest(WorkerRequest::ResetStatistics);
}

void TFReport::BCloseClick() {
    closeWindow();
}

void TFReport::formClose() {
    Timer->stop();
    withdrawRequest(WorkerRequest::ReadStatistics);
    withdrawRequest(WorkerRequest::ResetStatistics);
    history_.clear();  // the history lives as long as the shown values
}

void TFReport::onWorkerNotification(const WorkerNotification& notification) {
    if (notification.code != NotifyCode::Statistics || notification.value == 0) return;
    const auto* reply = reinterpret_cast<const LinkStatisticsReply*>(notification.value);
    showStatistics(reply->record.data(), int(reply->received));
}

// The record stays the worker's: it is read in place, not converted. A word
// the reply did not carry in full is left empty.
void TFReport::showStatistics(const std::uint8_t* record, int receivedBytes) {
    for (int index = 0; index < kWordCount; ++index) {
        const bool arrived = 4 * (index + 1) <= receivedBytes;
        fields_[index]->setText(arrived ? formatterOf(index)(StatisticsFormat::WordAt(record, index))
                                        : QString());
        fields_[index]->setCursorPosition(0);
    }
    history_.append(record);
    chart_->refresh();
}
