#include "transfer/SaveForm.h"

TFSave::TFSave(QWidget* parent)
    : TransferForm(WindowId::FSave, WorkerRequest::WriteConfig,
                   QStringLiteral("Загрузка конфигурации"), QStringLiteral("Загрузка завершена"),
                   parent) {
    startTransfer();
}
