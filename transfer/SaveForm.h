// TFSave: writes the configuration record to the board and shows how the write goes.
#pragma once

#include "transfer/TransferForm.h"

class TFSave : public TransferForm {
    Q_OBJECT
public:
    explicit TFSave(QWidget* parent = nullptr);
};
