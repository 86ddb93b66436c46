#include "monitor/FormInfo.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "config/ConfigImage.h"
#include "config/Cp1251.h"
#include "config/RecordRules.h"
#include "ui/Buttons.h"
#include "ui/FixedLayout.h"
#include "ui/ProductInfo.h"

using namespace RecordRules;

namespace {
using namespace BoardInfoFields;

std::string readText(BoardInfoView block, BoardInfoField field) {
    const auto bytes = field.of(block);
    return ReadTextField(bytes.data(), bytes.size());
}

QString readField(BoardInfoView block, BoardInfoField field) {
    return QString::fromStdString(readText(block, field));
}

}  // namespace

TFInfo::TFInfo(QWidget* parent) : TaskWindow(WindowId::FInfo, parent) {
    setWindowTitle(QStringLiteral("Описание контроллера"));
    buildHeader();
    buildValues();

    sDescr = new QPlainTextEdit(this);
    sDescr->setObjectName("sDescr");
    sDescr->setAccessibleName(QStringLiteral("Описание"));
    sDescr->setReadOnly(true);
    sDescr->setGeometry(8, 222, 341, 68);

    OKButton = MakeDefaultButton(QStringLiteral("Закрыть"), "OKButton", this, {141, 298, 75, 25});
    connect(OKButton, &QPushButton::clicked, this, &TFInfo::closeWindow);
    FitFixedLayout(this, {357, 331},
                   {{sDie, WidestDeviceIdText(sDie)},
                    {sChip, WidestDeviceIdText(sChip)},
                    {sSize, QStringLiteral("156 bytes")},
                    {sCrc, QStringLiteral("0xDDDD")}});
}

void TFInfo::buildHeader() {
    AddProductHeader(this, QStringLiteral("Product Name: ПО для K-350"),
                     QStringLiteral("Version 1.1"), 72);
    auto* comments =
        MakeLabel(this, "Label4", QStringLiteral("Comments: Терминал контроллеров  К-350xx"),
                  QRect(8, 90, 341, 18));
    comments->setWordWrap(true);
    MakeSeparator(this, 110);
}

namespace {
constexpr int kRightColumnX = 152;
}

// A value field: read-only and borderless in the window's colour, so its text can be copied.
QLineEdit* TFInfo::addValue(const char* labelName, const QString& caption, const char* name,
                            QPoint at, bool wholeRow) {
    // The right column is narrower in its captions so a whole ID fits its field.
    const bool leftColumn = at.x() < kRightColumnX;
    const int captionWidth = leftColumn ? 70 : 52;
    auto* label = MakeLabel(this, labelName, caption, QRect(at, QSize(captionWidth, 18)));
    auto* value = new QLineEdit(this);
    value->setObjectName(name);
    value->setAccessibleName(caption);
    value->setReadOnly(true);
    value->setFrame(false);
    QPalette colours = value->palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    value->setPalette(colours);
    const int valueX = at.x() + captionWidth + 2;
    value->setGeometry(valueX, at.y(),
                       leftColumn && !wholeRow ? kRightColumnX - 4 - valueX : 353 - valueX, 18);
    label->setBuddy(value);
    return value;
}

void TFInfo::buildValues() {
    sModel = addValue("Label11", QStringLiteral("Модель:"), "sModel", {8, 118});
    sBoard = addValue("Label9", QStringLiteral("Версия ПП:"), "sBoard", {8, 138});
    sSoft = addValue("Label7", QStringLiteral("Версия ПО:"), "sSoft", {8, 158});
    sSerial = addValue("Label12", QStringLiteral("Сер. номер:"), "sSerial", {8, 178});
    sData = addValue("Label13", QStringLiteral("Дата:"), "sData", {8, 198}, true);
    sDie = addValue("Label5", QStringLiteral("Die ID:"), "sDie", {kRightColumnX, 118});
    sChip = addValue("Label6", QStringLiteral("Chip ID:"), "sChip", {kRightColumnX, 138});
    sSize = addValue("Label8", QStringLiteral("Size:"), "sSize", {kRightColumnX, 158});
    sCrc = addValue("Label10", QStringLiteral("Crc:"), "sCrc", {kRightColumnX, 178});
    MakeSeparator(this, 216);
}

void TFInfo::LoadSettings(BoardInfoView boardInfo, DeviceIdsView deviceIds, std::uint16_t crc,
                          std::uint32_t size) {
    showBoardInfo(boardInfo);
    sDie->setText(FormatDeviceId(deviceIds.first<ConfigLength::DieId>().data()));
    sChip->setText(FormatDeviceId(deviceIds.last<ConfigLength::ChipId>().data()));
    sSize->setText(QString::number(size) + QStringLiteral(" bytes"));
    sCrc->setText(QString::fromStdString(CrcText(crc)));
}

void TFInfo::showBoardInfo(BoardInfoView boardInfo) {
    sModel->setText(QString::fromLatin1(VariantName(boardInfo[Model])));
    sBoard->setText(QString::fromStdString(RevisionText(boardInfo[PcbRevision])));
    sSoft->setText(readField(boardInfo, SoftwareVersion));
    sSerial->setText(readField(boardInfo, Serial));
    sData->setText(readField(boardInfo, Date));
    const std::string description = ShownLineBreaks(readText(boardInfo, Description));
    sDescr->clear();
    sDescr->setPlainText(QString::fromStdString(description));
}

// Enter acts on the default button "Закрыть", wherever the focus is.
void TFInfo::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event)) return OKButton->click();
    TaskWindow::keyPressEvent(event);
}
