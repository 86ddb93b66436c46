// What the window tests ask of every window: its controls by their names, and the fixed size.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QSize>
#include <QWidget>

// The window's control of this type and name; a missing one fails the test.
template <class T>
T* NamedControl(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The stated client size, grown where the captions need room, and fixed.
inline void ExpectFixedSize(const QWidget& window, QSize stated) {
    EXPECT_EQ(window.size().expandedTo(stated), window.size()) << window.objectName().toStdString();
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << window.objectName().toStdString();
}
