// TFRead: reads the configuration record from the board and shows how the read goes.
#pragma once

#include "transfer/TransferForm.h"

class TFRead : public TransferForm {
    Q_OBJECT
public:
    explicit TFRead(QWidget* parent = nullptr);
};
