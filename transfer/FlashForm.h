// TFFlash: chooses a firmware image file, hands it to the worker for the download and shows how
// the download goes.
#pragma once

#include "config/FirmwareImage.h"
#include "transfer/TransferForm.h"

class TFFlash : public TransferForm {
    Q_OBJECT
public:
    explicit TFFlash(QWidget* parent = nullptr);

    // Asks for the image file and loads it, then requests the download. False when no image was
    // loaded (dialog cancelled, file unusable): the window has closed and must not be shown.
    bool loadImageAndStart();
    // The image is with the worker and the download has not ended: closing now leaves the flash
    // half programmed.
    bool isDownloading() const { return handedOver_ && !finished_; }
    bool closesOnEscape() const override { return !isDownloading(); }
    void onWorkerNotification(const WorkerNotification& notification) override;
    void closeFromWorker() override;

    static const QString kCancelledLine;

protected:
    void fillTransferData(TransferData& transfer) override;
    void formClose() override;

private:
    bool loadImage(const QString& path);
    static QWidget* dialogOwner();

    // Shared with the worker, which keeps the bytes alive while it still downloads them.
    FirmwareImage image_;
    bool handedOver_ = false;
    bool finished_ = false;
    bool closedByWorker_ = false;  // the worker reported its own failure already
};
