#include "editors/SettingsForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "editors/GainBar.h"
#include "link/K350Task.h"
#include "ui/Buttons.h"

SettingsForm::SettingsForm(WindowId id, WorkerRequest request, QWidget* parent)
    : TaskWindow(id, parent), request_(request) {
    buildFrame();
    // A request left over from an earlier window of this kind is not ours to serve.
    withdrawRequest(request_);
}

void SettingsForm::buildFrame() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    tabs_ = new QTabWidget(this);
    Link = makeCheckBox(this, "Link", "Тестирование");
    tabs_->setCornerWidget(Link, Qt::TopRightCorner);
    layout->addWidget(tabs_, 1);

    auto* buttonRow = new QHBoxLayout;
    const auto addButton = [&](const char* name, const QString& caption) {
        QPushButton* button = MakeButton(caption, name, this);
        buttonRow->addWidget(button);
        return button;
    };
    ButDefault = addButton("ButDefault", "Сброс");
    ButOk = addButton("ButOk", "Сохранить");
    ButCancel = addButton("ButCancel", "Закрыть");
    layout->addLayout(buttonRow);

    connect(ButDefault, &QPushButton::clicked, this, &SettingsForm::ButDefaultClick);
    connect(ButOk, &QPushButton::clicked, this, &SettingsForm::ButOkClick);
    connect(ButCancel, &QPushButton::clicked, this, &SettingsForm::ButCancelClick);
}

void SettingsForm::onWorkerNotification(const WorkerNotification& notification) {
    switch (notification.code) {
        case NotifyCode::Done:
            endLiveMode();
            break;
        case NotifyCode::FillData:
            if (notification.value != 0) {
                writePayload(reinterpret_cast<std::uint8_t*>(notification.value));
            }
            break;
        default:
            break;
    }
}

bool SettingsForm::isLive() const {
    return Link->isChecked();
}

void SettingsForm::settingChanged() {
    edited_ = true;
    if (!isLive()) return;
    signalRequest(request_);
}

void SettingsForm::endLiveMode() {
    Link->setChecked(false);
    withdrawRequest(request_);
}

void SettingsForm::formClose() {
    endLiveMode();
}

void SettingsForm::ButDefaultClick() {
    edited_ = true;
    endLiveMode();
    resetToDefaults();
}

void SettingsForm::ButOkClick() {
    saveToBlock();
    closeWindow();
}

void SettingsForm::ButCancelClick() {
    closeWindow();
}

QWidget* SettingsForm::addPage(const QString& title) {
    auto* page = new QWidget(tabs_);
    tabs_->addTab(page, title);
    return page;
}

void SettingsForm::fixSize(int width, int height) {
    QSize needed = layout()->minimumSize();
    // The tab row scrolls rather than growing the frame: make room for all tabs and the corner.
    const QMargins margins = layout()->contentsMargins();
    const int tabRow = tabs_->tabBar()->sizeHint().width() + Link->sizeHint().width() + 8;
    needed.setWidth(std::max(needed.width(), tabRow + margins.left() + margins.right()));
    setFixedSize(QSize(width, height).expandedTo(needed));
}

QSlider* SettingsForm::makeBar(QWidget* parent, const char* name, int minimum, int maximum,
                               int tickInterval) {
    auto* bar = new QSlider(Qt::Vertical, parent);
    bar->setObjectName(name);
    bar->setRange(minimum, maximum);
    MakeTopDownBar(bar);             // the highest gain at the top
    bar->setInvertedControls(true);  // the arrow keys and the wheel follow the look
    bar->setTickPosition(QSlider::TicksRight);
    bar->setTickInterval(tickInterval);
    bar->setSingleStep(1);
    bar->setPageStep(2);
    return bar;
}

QLabel* SettingsForm::makeValueLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel("0", parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

SettingsForm::LevelGroup SettingsForm::makeLevelGroup(QWidget* parent, const QString& title,
                                                      const char* valueName, const char* barName,
                                                      int maximum, int position) {
    auto* group = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(group);
    QLabel* value = makeValueLabel(group, valueName);
    QSlider* bar = makeBar(group, barName, 0, maximum, 1);
    bar->setPageStep(3);
    bar->setValue(position);
    bar->setAccessibleName(title);
    layout->addWidget(value);
    layout->addWidget(bar, 1, Qt::AlignHCenter);
    return {group, value, bar};
}

QCheckBox* SettingsForm::makeCheckBox(QWidget* parent, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setAccessibleName(caption);
    return box;
}

void SettingsForm::setQuietly(QSlider* bar, int position) {
    const QSignalBlocker quiet(bar);
    bar->setValue(position);
}

void SettingsForm::setQuietly(QCheckBox* box, bool ticked) {
    const QSignalBlocker quiet(box);
    box->setChecked(ticked);
}
