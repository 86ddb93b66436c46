// What the progress, board and description windows show about the product: its picture, their
// common header and the form of a board ID.
#pragma once

#include <QPixmap>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QRect;

constexpr int kProductPictureWidth = 121, kProductPictureHeight = 57;

// A drawing of the K-350 board, 121 × 57 pixels.
QPixmap ProductPicture();
// A label named ProgramIcon showing the picture.
QLabel* MakeProgramIcon(QWidget* parent);
// A named label placed on parent.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry);
// The header of the board and description windows: the picture in a lowered frame at the top
// left, Label1 (product name) and Label2 (version) right of it, Label3 (the about line) at aboutY.
void AddProductHeader(QWidget* window, const QString& productName, const QString& version,
                      int aboutY);
// A thin sunken bar across those windows at y.
QFrame* MakeSeparator(QWidget* window, int y);
// "0x" followed by the eight bytes as 16 upper-case hexadecimal digits, first byte first.
QString FormatDeviceId(const std::uint8_t* eightBytes);
