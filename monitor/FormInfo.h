// TFInfo: the read-only description of the loaded configuration: board information, the IDs
// stored with the record, its size and CRC, as they were when the window was opened.
#pragma once

#include <cstdint>

#include "config/ConfigImage.h"
#include "ui/TaskWindow.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TFInfo : public TaskWindow {
    Q_OBJECT
public:
    explicit TFInfo(QWidget* parent = nullptr);

    // boardInfo: the record's board information; deviceIds: the 16 ID bytes stored after the
    // record. Read only here: the window keeps none of them.
    void LoadSettings(BoardInfoView boardInfo, DeviceIdsView deviceIds, std::uint16_t crc,
                      std::uint32_t size);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildHeader();
    void buildValues();
    QLineEdit* addValue(const char* labelName, const QString& caption, const char* name, QPoint at,
                        bool wholeRow = false);
    void showBoardInfo(BoardInfoView boardInfo);

    QLineEdit* sModel = nullptr;
    QLineEdit* sBoard = nullptr;
    QLineEdit* sSoft = nullptr;
    QLineEdit* sSerial = nullptr;
    QLineEdit* sData = nullptr;
    QLineEdit* sDie = nullptr;
    QLineEdit* sChip = nullptr;
    QLineEdit* sSize = nullptr;
    QLineEdit* sCrc = nullptr;
    QPlainTextEdit* sDescr = nullptr;
    QPushButton* OKButton = nullptr;
};
