#include "transfer/ReadForm.h"

TFRead::TFRead(QWidget* parent)
    : TransferForm(WindowId::FRead, WorkerRequest::ReadConfig,
                   QStringLiteral("Чтение конфигурации"), QStringLiteral("Чтение завершено"),
                   parent) {
    startTransfer();
}
