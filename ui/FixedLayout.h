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

// The widest board ID ("0x" and 16 hexadecimal digits) in the widget's font.
QString WidestDeviceIdText(const QWidget* widget);
