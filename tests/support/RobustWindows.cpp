#include "tests/support/RobustWindows.h"

#include <QCheckBox>
#include <QMdiSubWindow>
#include <QPushButton>

#include "shell/DeviceForm.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/ShellFixture.h"
#include "transfer/FlashForm.h"
#include "transfer/ReadForm.h"
#include "transfer/SaveForm.h"

namespace robust {

namespace {

void activateNode(TFDevice& device, const char* caption) {
    ActivateNode(device, QString::fromUtf8(caption));
}

template <class Control>
Control* control(WindowId id, const char* name) {
    auto* window = dynamic_cast<QWidget*>(WindowRegistry::Get(id));
    return window ? window->findChild<Control*>(name) : nullptr;
}

void click(WindowId id, const char* name) {
    if (auto* button = control<QAbstractButton>(id, name)) button->click();
}

// Settings windows send only in live mode.
void openLive(TFDevice& device, const char* caption, WindowId id) {
    activateNode(device, caption);
    if (auto* live = control<QCheckBox>(id, "Link"); live && !live->isChecked()) live->click();
}

void openWindow(TFDevice& device, FakeDialogs& dialogs, const WindowOperation& operation,
                const QString& firmwarePath) {
    switch (operation.request) {
        case WorkerRequest::ReadConfig:
            return device.showTaskWindow(new TFRead);
        case WorkerRequest::WriteConfig:
            return device.showTaskWindow(new TFSave);
        case WorkerRequest::LoadFirmware:
            dialogs.openAnswers.push_back(firmwarePath);
            return activateNode(device, "Загрузка ПО");
        case WorkerRequest::ReadStatistics:
            activateNode(device, "Статистика");
            return click(WindowId::FReport, "BRun");
        case WorkerRequest::ResetStatistics:
            activateNode(device, "Статистика");
            return click(WindowId::FReport, "BRst");
        case WorkerRequest::SendCodec:
            return openLive(device, "Кодек", WindowId::FCodec);
        case WorkerRequest::SendAmplifier:
            return openLive(device, "Усилитель НЧ", WindowId::FAudio);
        case WorkerRequest::SendVocoder:
            return openLive(device, "Вокодер", WindowId::FVocoder);
        case WorkerRequest::SendRecorder:
            return openLive(device, "Регистратор", WindowId::FRecoder);
        case WorkerRequest::SetTrace:
            activateNode(device, "Trace");
            return click(WindowId::FTrace, "BusRx");
        case WorkerRequest::PollTrace:
            activateNode(device, "Trace");
            return click(WindowId::FTrace, "ButRun");
    }
}

}  // namespace

void openOperation(TFDevice& device, FakeDialogs& dialogs, const WindowOperation& operation,
                   const QString& firmwarePath) {
    openWindow(device, dialogs, operation, firmwarePath);
    for (int request = 0; request < kWorkerRequestCount; ++request) {
        if (WorkerRequest(request) != operation.request)
            device.session().worker().reset(WorkerRequest(request));
    }
    // A settings window in live mode sends on each change; this stands for one.
    device.session().worker().signal(operation.request);
}

WindowTap::WindowTap(WindowId id, int closeAfter)
    : id_(id),
      closeAfter_(closeAfter),
      target_(dynamic_cast<TaskWindow*>(WindowRegistry::Get(id))) {
    WindowRegistry::Set(id_, this);
}

WindowTap::~WindowTap() {
    WindowRegistry::Clear(id_, this);
    if (target_ && !target_->isClosing()) WindowRegistry::Set(id_, target_);
}

void WindowTap::onWorkerNotification(const WorkerNotification& notification) {
    codes_.push_back(notification.code);
    if (target_) target_->onWorkerNotification(notification);
    if (int(codes_.size()) >= closeAfter_) return destroyWindow();
    // The window may have closed itself while handling it.
    if (!target_ || target_->isClosing()) WindowRegistry::Clear(id_, this);
}

void WindowTap::closeFromWorker() {
    closeRequested_ = true;
    WindowRegistry::Clear(id_, this);
    if (target_) target_->closeFromWorker();
}

void WindowTap::destroyWindow() {
    WindowRegistry::Clear(id_, this);
    if (!target_) return;
    QWidget* frame = target_;
    while (frame && !qobject_cast<QMdiSubWindow*>(frame)) frame = frame->parentWidget();
    target_->closeWindow();
    delete (frame ? frame : target_.data());
}

}  // namespace robust
