#include "transfer/FlashForm.h"

#include <QFile>

#include "ui/Dialogs.h"

TFFlash::TFFlash(QWidget* parent)
    : TransferForm(WindowId::FFlash, WorkerRequest::LoadFirmware, QStringLiteral("Загрузка ПО"),
                   QStringLiteral("Загрузка завершена"), parent) {}

bool TFFlash::LoadImageAndStart() {
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
    return dynamic_cast<QWidget*>(WindowRegistry::get(WindowId::FDevice));
}

void TFFlash::fillTransferData(TransferData& transfer) {
    if (image_.bytes) transfer.hold(image_.bytes);
}

void TFFlash::formClose() {
    TransferForm::formClose();
    image_.bytes.reset();
}
