// The push buttons of the windows: known by their control name, read out by
// their caption.
#pragma once

#include <QString>

class QPushButton;
class QRect;
class QWidget;

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent = nullptr);
// The button Enter presses, at its fixed place in the window.
QPushButton* MakeDefaultButton(const QString& caption, const char* name, QWidget* parent,
                               const QRect& geometry);
