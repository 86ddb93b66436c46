#include "transfer/TransferForm.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "link/K350Task.h"
#include "ui/Buttons.h"
#include "ui/FixedLayout.h"
#include "ui/ProductInfo.h"

TransferForm::TransferForm(WindowId id, WorkerRequest request, const QString& caption,
                           const QString& doneText, QWidget* parent)
    : TaskWindow(id, parent), request_(request), doneText_(doneText) {
    setWindowTitle(caption);
    buildPanel();

    But = MakeDefaultButton(QStringLiteral("Отмена"), "But", this, {111, 186, 75, 25});
    connect(But, &QPushButton::clicked, this, &TransferForm::ButClick);

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    connect(Timer, &QTimer::timeout, this, &TransferForm::TimerTimer);
    FitFixedLayout(this, {297, 220},
                   {{SChip, WidestDeviceIdText(SChip)},
                    {SDie, WidestDeviceIdText(SDie)},
                    {SComment, doneText_}});
}

void TransferForm::buildPanel() {
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 170);

    ProgramIcon = MakeProgramIcon(Panel1);
    ProgramIcon->move(8, 8);
    LProduct =
        MakeLabel(Panel1, "LProduct", QStringLiteral("Контроллер К-350"), QRect(140, 8, 133, 20));
    LChipID = MakeLabel(Panel1, "LChipID", QStringLiteral("Chip ID:"), QRect(8, 72, 50, 18));
    SChip = MakeLabel(Panel1, "SChip", QString(), QRect(62, 72, 211, 18));
    LDieID = MakeLabel(Panel1, "LDieID", QStringLiteral("Die ID:"), QRect(8, 92, 50, 18));
    SDie = MakeLabel(Panel1, "SDie", QString(), QRect(62, 92, 211, 18));
    SComment = MakeLabel(Panel1, "SComment", QString(), QRect(8, 114, 265, 18));
    for (QLabel* value : {SChip, SDie, SComment})
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);

    CGauge1 = new QProgressBar(Panel1);
    CGauge1->setObjectName("CGauge1");
    CGauge1->setGeometry(8, 140, 265, 20);
    CGauge1->setRange(0, 100);
    CGauge1->setValue(0);
    CGauge1->setTextVisible(true);
}

void TransferForm::startTransfer() {
    Timer->setInterval(kCloseDelayMs);
    Timer->stop();
    signalRequest(request_);
}

void TransferForm::onWorkerNotification(const WorkerNotification& notification) {
    const auto number = static_cast<std::uint32_t>(notification.value);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(notification.value);
    switch (notification.code) {
        case NotifyCode::Total:
            setTotal(number);
            break;
        case NotifyCode::Progress:
            setDone(number);
            break;
        case NotifyCode::DieId:
            if (bytes) SDie->setText(FormatDeviceId(bytes));
            break;
        case NotifyCode::ChipId:
            if (bytes) SChip->setText(FormatDeviceId(bytes));
            break;
        case NotifyCode::Done:
            showCompletion();
            break;
        case NotifyCode::FillData:
            if (notification.value)
                fillTransferData(*reinterpret_cast<TransferData*>(notification.value));
            break;
        default:
            break;
    }
}

void TransferForm::setTotal(std::uint32_t total) {
    total_ = total;
    updateGauge();
}

void TransferForm::setDone(std::uint32_t done) {
    done_ = done;
    updateGauge();
}

// The bar counts percent, so byte counts up to 4 GiB fit its int range; an empty transfer shows
// 0 %, and a count past the total shows 100 %.
void TransferForm::updateGauge() {
    const std::uint64_t percent =
        total_ == 0 ? 0 : std::min<std::uint64_t>(100, std::uint64_t(done_) * 100 / total_);
    CGauge1->setValue(int(percent));
}

void TransferForm::showCompletion() {
    Timer->start(kCloseDelayMs);
    But->setText(QStringLiteral("Закрыть"));
    But->setAccessibleName(But->text());
    SComment->setText(doneText_);
}

void TransferForm::ButClick() {
    closeWindow();
}

void TransferForm::TimerTimer() {
    closeWindow();
}

void TransferForm::formClose() {
    Timer->stop();
    withdrawRequest(request_);
}
