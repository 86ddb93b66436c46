// TFBoard: the service editor of the board's identity data (model, PCB revision, software
// version, serial number, date, description) in the board information block of the record.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "monitor/StoredLines.h"
#include "ui/TaskWindow.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TFBoard : public TaskWindow {
    Q_OBJECT
public:
    static constexpr int kDescriptionLimit = 64;  // bytes, a line break taking two

    explicit TFBoard(QWidget* parent = nullptr);

    // block: the board information block (record byte 56) of the main window's configuration;
    // "OK" writes the fields back into it.
    void LoadSettings(BoardInfoBlock block);
    // The close box stores nothing: Escape closes only a window left as it was loaded.
    bool closesOnEscape() const override { return !isEdited(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The fields as loaded; those still so at "OK" keep their stored bytes.
    struct LoadedFields {
        QString soft, serial;
        bool dateValid = false;  // a stored date that did not parse is replaced by the shown one
        QString description;
        int model = -1, revision = -1;
    };

    void buildHeader();
    void buildFields();
    void buildDescription();
    QComboBox* addList(const char* name, const QStringList& items, QRect geometry);
    QLineEdit* addShortText(const char* name, QRect geometry);
    void keepDescriptionWithinLimit();
    void OKButtonClick();
    void storeFields();
    bool isEdited() const;

    std::optional<BoardInfoBlock> block_;
    StoredLines description_;
    LoadedFields loaded_;
    bool dateEdited_ = false;

    QComboBox* sModel = nullptr;
    QDateEdit* sData = nullptr;
    QComboBox* sType = nullptr;
    QLineEdit* sSerial = nullptr;
    QLineEdit* sSoft = nullptr;
    QPlainTextEdit* sDescr = nullptr;
    QPushButton* OKButton = nullptr;
};
