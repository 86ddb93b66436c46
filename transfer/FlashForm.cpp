#include "transfer/FlashForm.h"

#include <QFile>

#include "ui/Dialogs.h"

const QString TFFlash::kCancelledLine = QStringLiteral(
    "Загрузка программного обеспечения отменена: флэш-память контроллера записана не полностью");

TFFlash::TFFlash(QWidget* parent)
    : TransferForm(WindowId::FFlash, WorkerRequest::LoadFirmware, QStringLiteral("Загрузка ПО"),
                   QStringLiteral("Загрузка завершена"), parent) {}

bool TFFlash::loadImageAndStart() {
    const QString path = AppDialogs().openFile(
        dialogOwner(), QString(),
        QStringLiteral("К350 программное обеспечение (*.rom)|*.rom|все файлы|*"));
    // Closed while its file dialog was open: it is never shown and asks for nothing.
    if (isClosing()) return false;
    if (path.isEmpty() || !loadImage(path) || isClosing()) {
        closeWindow();
        return false;
    }
    startTransfer();
    return true;
}

bool TFFlash::loadImage(const QString& path) {
    if (LoadFirmwareImage(QFile::encodeName(path).toStdString(), image_) == ImageLoadResult::Ok)
        return true;
    AppDialogs().message(dialogOwner(), QString::fromStdString(BadFileMessage(path.toStdString())));
    return false;
}

// The window is not shown while it loads its file, so its dialogs open over the main window.
QWidget* TFFlash::dialogOwner() {
    return dynamic_cast<QWidget*>(WindowRegistry::Get(WindowId::FDevice));
}

void TFFlash::fillTransferData(TransferData& transfer) {
    if (!image_.bytes) return;
    handedOver_ = true;
    transfer.hold(image_.bytes);
}

void TFFlash::onWorkerNotification(const WorkerNotification& notification) {
    if (notification.code == NotifyCode::Done) finished_ = true;
    TransferForm::onWorkerNotification(notification);
}

void TFFlash::closeFromWorker() {
    closedByWorker_ = true;
    TransferForm::closeFromWorker();
}

void TFFlash::formClose() {
    if (isDownloading() && !closedByWorker_) emit logLine(kCancelledLine);
    TransferForm::formClose();
    image_.bytes.reset();
}
