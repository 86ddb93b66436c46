// The Tab order of a window as a person reads it: rows from top to bottom, each from left to
// right, a group's or a panel's controls where the group stands, and a tab widget's tab bar,
// then its pages, then its corner controls.
#pragma once

class QWidget;

void SetReadingTabOrder(QWidget* window);
