#include "monitor/BoardForm.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <optional>
#include <span>

#include "config/ConfigImage.h"
#include "config/Cp1251.h"
#include "config/RecordDate.h"
#include "config/RecordRules.h"
#include "ui/Buttons.h"
#include "ui/FixedLayout.h"
#include "ui/ProductInfo.h"

namespace {
using namespace BoardInfoFields;

QString readField(BoardInfoView block, BoardInfoField field) {
    const auto bytes = field.of(block);
    return QString::fromStdString(ReadTextField(bytes.data(), bytes.size()));
}

void writeField(BoardInfoBlock block, BoardInfoField field, const QString& text) {
    const auto bytes = field.of(block);
    WriteTextField(bytes.data(), bytes.size(), text.toStdString());
}

QStringList listItems(std::span<const char* const> names) {
    QStringList items;
    for (const char* name : names) items << QString::fromLatin1(name);
    return items;
}

// What the edit holds, with its line and paragraph separators as new lines and its no-break spaces
// kept (the plain text of a document turns them into spaces).
QString editText(const QPlainTextEdit* edit) {
    QString text = edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

// The picker shows the user's short date format, with the whole year so that an edit cannot move
// it to another century.
QString pickerFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), "yyyy");
    return format;
}

std::optional<QDate> recordDate(const QString& text) {
    const auto date = ParseRecordDate(text.toStdString());
    if (!date) return std::nullopt;
    return QDate(date->year, date->month, date->day);
}

QString recordDateText(QDate date) {
    return QString::fromStdString(FormatRecordDate({date.day(), date.month(), date.year()}));
}

void selectByte(QComboBox* list, std::uint8_t byte) {
    const int index = static_cast<std::int8_t>(byte);
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// A list showing no item (its byte was outside it) leaves the byte as it was.
void storeSelected(const QComboBox* list, std::uint8_t& byte) {
    if (list->currentIndex() >= 0) byte = std::uint8_t(list->currentIndex());
}
}  // namespace

TFBoard::TFBoard(QWidget* parent) : TaskWindow(WindowId::FBoard, parent) {
    setWindowTitle(QStringLiteral("Контроллер ID"));
    buildHeader();
    buildFields();
    buildDescription();

    OKButton = MakeDefaultButton(QStringLiteral("OK"), "OKButton", this, {141, 298, 75, 25});
    connect(OKButton, &QPushButton::clicked, this, &TFBoard::OKButtonClick);
    FitFixedLayout(this, {357, 331});
}

void TFBoard::buildHeader() {
    AddProductHeader(this, QStringLiteral("Product Name: CPS for K-350"),
                     QStringLiteral("Version 1.0"), 74);
    MakeSeparator(this, 96);
}

QComboBox* TFBoard::addList(const char* name, const QStringList& items, QRect geometry) {
    auto* list = new QComboBox(this);
    list->setObjectName(name);
    // Only the items: a typed name the list does not hold would destroy the byte.
    list->setEditable(false);
    list->addItems(items);
    list->setGeometry(geometry);
    return list;
}

QLineEdit* TFBoard::addShortText(const char* name, QRect geometry) {
    auto* edit = new QLineEdit(QStringLiteral("0000"), this);
    edit->setObjectName(name);
    edit->setMaxLength(4);
    edit->setGeometry(geometry);
    return edit;
}

void TFBoard::buildFields() {
    auto* model = MakeLabel(this, "Label11", QStringLiteral("Модель:"), QRect(8, 108, 80, 21));
    sModel = addList("sModel", listItems(RecordRules::kModelNames), QRect(90, 108, 85, 21));
    sModel->setCurrentIndex(0);
    auto* date = MakeLabel(this, "Label6", QStringLiteral("Дата:"), QRect(184, 108, 60, 21));
    sData = new QDateEdit(QDate::currentDate(), this);
    sData->setObjectName("sData");
    sData->setCalendarPopup(true);
    sData->setDisplayFormat(pickerFormat());
    sData->setGeometry(250, 108, 99, 21);
    connect(sData, &QDateEdit::dateChanged, this, [this] { dateEdited_ = true; });
    auto* type = MakeLabel(this, "Label9", QStringLiteral("Версия ПП:"), QRect(8, 136, 80, 21));
    sType = addList("sType", listItems(RecordRules::kRevisionNames), QRect(90, 136, 85, 21));
    sType->setCurrentIndex(1);
    auto* serial =
        MakeLabel(this, "Label5", QStringLiteral("Сер. номер:"), QRect(184, 136, 64, 21));
    sSerial = addShortText("sSerial", QRect(250, 136, 99, 21));
    auto* soft = MakeLabel(this, "Label4", QStringLiteral("Версия ПО:"), QRect(8, 164, 80, 21));
    sSoft = addShortText("sSoft", QRect(90, 164, 85, 21));

    const std::pair<QLabel*, QWidget*> pairs[] = {
        {model, sModel}, {date, sData}, {type, sType}, {serial, sSerial}, {soft, sSoft}};
    for (auto [label, field] : pairs) {
        label->setBuddy(field);
        field->setAccessibleName(label->text());
    }
}

void TFBoard::buildDescription() {
    auto* separator = new QFrame(this);
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator->setGeometry(8, 192, 341, 4);
    sDescr = new QPlainTextEdit(this);
    sDescr->setObjectName("sDescr");
    sDescr->setAccessibleName(QStringLiteral("Описание"));
    sDescr->setGeometry(8, 200, 341, 90);
    sDescr->setTabChangesFocus(true);  // a TAB character would be stored
    QPalette colours = sDescr->palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    sDescr->setPalette(colours);
    connect(sDescr, &QPlainTextEdit::textChanged, this, &TFBoard::keepDescriptionWithinLimit);
}

// An edit that would make the description longer than its field is refused, as a length-limited
// edit refuses a key press, so the user sees exactly what will be stored.
void TFBoard::keepDescriptionWithinLimit() {
    const QString text = editText(sDescr);
    const StoredLines edited = description_.edited(text);
    if (edited.storedLength() <= kDescriptionLimit) {
        description_ = edited;
        return;
    }
    const QString& accepted = description_.shown();
    const int cursor = sDescr->textCursor().position() - int(text.size()) + int(accepted.size());
    QSignalBlocker blocker(sDescr);
    sDescr->setPlainText(accepted);
    QTextCursor restored = sDescr->textCursor();
    restored.setPosition(qBound(0, cursor, int(accepted.size())));
    sDescr->setTextCursor(restored);
}

void TFBoard::LoadSettings(BoardInfoBlock block) {
    block_ = block;
    selectByte(sModel, block[Model]);
    selectByte(sType, block[PcbRevision]);
    sSoft->setText(readField(block, SoftwareVersion));
    sSerial->setText(readField(block, Serial));
    const auto stored = recordDate(readField(block, Date));
    {
        QSignalBlocker quiet(sData);
        sData->setDate(stored.value_or(QDate::currentDate()));
    }
    dateEdited_ = false;
    description_ = StoredLines::fromStored(readField(block, Description));
    QSignalBlocker blocker(sDescr);
    sDescr->clear();
    sDescr->setPlainText(description_.shown());
    loaded_ = {sSoft->text(),        sSerial->text(),        stored.has_value(),
               description_.shown(), sModel->currentIndex(), sType->currentIndex()};
}

void TFBoard::OKButtonClick() {
    storeFields();
    closeWindow();
}

// A field the user left as it was loaded keeps its stored bytes, whatever form they have.
void TFBoard::storeFields() {
    if (!block_) return;
    const BoardInfoBlock block = *block_;
    storeSelected(sModel, block[Model]);
    storeSelected(sType, block[PcbRevision]);
    if (sSoft->text() != loaded_.soft) writeField(block, SoftwareVersion, sSoft->text());
    if (sSerial->text() != loaded_.serial) writeField(block, Serial, sSerial->text());
    if (dateEdited_ || !loaded_.dateValid) {
        writeField(block, Date, recordDateText(sData->date()));
    }
    if (description_.shown() != loaded_.description) {
        writeField(block, Description, description_.stored());
    }
}

bool TFBoard::isEdited() const {
    return block_ &&
           (sSoft->text() != loaded_.soft || sSerial->text() != loaded_.serial || dateEdited_ ||
            description_.shown() != loaded_.description ||
            sModel->currentIndex() != loaded_.model || sType->currentIndex() != loaded_.revision);
}

// Enter in a one-line field acts on the default button, as in a dialog.
void TFBoard::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event) && focusWidget() != sDescr) return OKButton->click();
    TaskWindow::keyPressEvent(event);
}
