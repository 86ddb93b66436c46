// What the progress, board and description windows show about the product: its picture and the
// form of a board ID.
#pragma once

#include <QPixmap>
#include <QString>
#include <cstdint>

class QLabel;

constexpr int kProductPictureWidth = 121, kProductPictureHeight = 57;

// A drawing of the K-350 board, 121 × 57 pixels.
QPixmap ProductPicture();
// A label named ProgramIcon showing the picture.
QLabel* MakeProgramIcon(QWidget* parent);
// "0x" followed by the eight bytes as 16 upper-case hexadecimal digits, first byte first.
QString FormatDeviceId(const std::uint8_t* eightBytes);
