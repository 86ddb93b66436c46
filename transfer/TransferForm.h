// The layout and behaviour shared by the three progress windows: creating one asks the worker for
// its transfer, the worker's notifications move the gauge and show the board IDs, and after
// completion the window closes itself in 10 seconds.
#pragma once

#include <cstdint>

#include "ui/TaskWindow.h"

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
struct TransferData;

class TransferForm : public TaskWindow {
    Q_OBJECT
public:
    static constexpr int kCloseDelayMs = 10000;

    void onWorkerNotification(const WorkerNotification& notification) override;

protected:
    TransferForm(WindowId id, WorkerRequest request, const QString& caption,
                 const QString& doneText, QWidget* parent);
    // Stops the close timer and asks the worker for this window's transfer.
    void startTransfer();
    void formClose() override;
    // Notification 11: only the firmware window hands the worker data.
    virtual void fillTransferData(TransferData&) {}

private:
    void buildPanel();
    void setTotal(std::uint32_t total);
    void setDone(std::uint32_t done);
    void updateGauge();
    void showCompletion();
    void ButClick();
    void TimerTimer();

    WorkerRequest request_;
    QString doneText_;
    std::uint32_t total_ = 0, done_ = 0;

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* LProduct = nullptr;
    QLabel* LChipID = nullptr;
    QLabel* SChip = nullptr;
    QLabel* LDieID = nullptr;
    QLabel* SDie = nullptr;
    QLabel* SComment = nullptr;
    QProgressBar* CGauge1 = nullptr;
    QPushButton* But = nullptr;
    QTimer* Timer = nullptr;
};
