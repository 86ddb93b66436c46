// The push buttons of the windows: known by their control name, read out by
// their caption.
#pragma once

#include <QString>

class QEvent;
class QKeyEvent;
class QPushButton;
class QRect;
class QWidget;

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent = nullptr);
// The button Enter presses, at its fixed place in the window.
QPushButton* MakeDefaultButton(const QString& caption, const char* name, QWidget* parent,
                               const QRect& geometry);
// Return on the main keys and Enter on the keypad: both are Enter to the user.
bool IsEnterKey(const QKeyEvent* event);
// A key press of Enter, as an event filter sees it.
bool IsEnterPress(const QEvent* event);
