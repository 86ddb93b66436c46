#include "ui/ProductInfo.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>

#include "config/RecordRules.h"

namespace {
void drawBoard(QPainter& painter) {
    const QRect board(2, 6, kProductPictureWidth - 5, kProductPictureHeight - 13);
    painter.setPen(QPen(QColor(20, 60, 20), 1));
    painter.setBrush(QColor(40, 120, 60));
    painter.drawRoundedRect(board, 4, 4);
    // The controller chip and the USB socket.
    painter.setBrush(QColor(30, 30, 30));
    painter.drawRect(44, 16, 30, 24);
    painter.setBrush(QColor(190, 190, 200));
    painter.drawRect(0, 20, 12, 14);
    // Pins along both edges of the chip.
    painter.setPen(QColor(210, 210, 210));
    for (int x = 47; x < 74; x += 4) {
        painter.drawLine(x, 13, x, 15);
        painter.drawLine(x, 41, x, 43);
    }
    painter.setPen(Qt::white);
    painter.setFont(QFont(painter.font().family(), 7, QFont::Bold));
    painter.drawText(QRect(78, 38, 40, 10), Qt::AlignCenter, QStringLiteral("K-350"));
}
}  // namespace

QPixmap ProductPicture() {
    QPixmap picture(kProductPictureWidth, kProductPictureHeight);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBoard(painter);
    return picture;
}

QLabel* MakeProgramIcon(QWidget* parent) {
    auto* icon = new QLabel(parent);
    icon->setObjectName("ProgramIcon");
    icon->setPixmap(ProductPicture());
    icon->setFixedSize(kProductPictureWidth, kProductPictureHeight);
    return icon;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

void AddProductHeader(QWidget* window, const QString& productName, const QString& version,
                      int aboutY) {
    auto* frame = new QFrame(window);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setFixedSize(kProductPictureWidth + 4, kProductPictureHeight + 4);
    frame->move(8, 8);
    MakeProgramIcon(frame)->move(2, 2);
    MakeLabel(window, "Label1", productName, QRect(144, 12, 205, 18));
    MakeLabel(window, "Label2", version, QRect(144, 34, 205, 18));
    MakeLabel(window, "Label3", QStringLiteral("Сервисный терминал контроллеров K-350"),
              QRect(8, aboutY, 341, 18));
}

QFrame* MakeSeparator(QWidget* window, int y) {
    auto* separator = new QFrame(window);
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator->setGeometry(8, y, 341, 4);
    return separator;
}

QString FormatDeviceId(const std::uint8_t* eightBytes) {
    return QString::fromStdString(RecordRules::DeviceIdText(eightBytes));
}
