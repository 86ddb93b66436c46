// Windows laid out by fixed geometry, drawn for the desktop's usual font: at
// a font whose captions need more room the whole layout grows, in proportion,
// instead of cutting them.
#pragma once

#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

class QWidget;

// Scales the positions and sizes of the window's controls (a control of
// fixed size keeps its size) and fixes the window at designSize scaled the
// same way: across by the largest shortfall of any caption's width, down by
// that of any control's height. widestTexts names controls whose text comes
// later, with the widest text they will show.
void FitFixedLayout(QWidget* window, QSize designSize,
                    const QList<QPair<QWidget*, QString>>& widestTexts = {});

// How much larger than the layouts' design font (13 pixels high, characters
// 5 pixels wide on average) the widget's font is; never below 1. Frames laid
// out around the windows (the main window, its tree panel) grow by it too.
double LayoutScale(const QWidget* widget);
QSize ScaledSize(const QWidget* widget, QSize designSize);

// The widest board ID ("0x" and 16 hexadecimal digits) in the widget's font.
QString WidestDeviceIdText(const QWidget* widget);
