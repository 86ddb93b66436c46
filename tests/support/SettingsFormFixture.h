// The settings windows' test fixture: a worker on a recording channel and a
// record whose settings bytes differ from everything the windows write.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabWidget>
#include <QTest>
#include <array>
#include <vector>

#include "config/ConfigImage.h"
#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/RadioGroup.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "config/Clock.h"
#include "link/K350Task.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/TestLocales.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/WindowControls.h"
#include "ui/WindowRegistry.h"

using Bytes = std::vector<std::uint8_t>;

// A record whose settings bytes are all distinct from what the windows write.
inline ConfigSnapshot SampleRecord() {
    ConfigSnapshot record;
    for (std::size_t i = 0; i < record.bytes.size(); ++i) record.bytes[i] = std::uint8_t(i * 7 + 3);
    return record;
}

inline Bytes Slice(const ConfigSnapshot& record, std::size_t offset, std::size_t length) {
    return Bytes(record.bytes.begin() + std::ptrdiff_t(offset),
                 record.bytes.begin() + std::ptrdiff_t(offset + length));
}

class SettingsFormsTest : public ::testing::Test {
protected:
    void SetUp() override { SetK350Worker(&worker); }
    void TearDown() override { SetK350Worker(nullptr); }

    // Answers the worker's notification 11 as the worker would ask it, and
    // checks that the window writes exactly its payload length.
    static Bytes AskPayload(SettingsForm& window) {
        std::array<std::uint8_t, 32> area;
        area.fill(0xEE);
        window.onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(area.data())});
        const std::size_t length = window.payloadLength();
        for (std::size_t i = length; i < area.size(); ++i) EXPECT_EQ(area[i], 0xEE) << i;
        return Bytes(area.begin(), area.begin() + std::ptrdiff_t(length));
    }
    static void NotifyDone(SettingsForm& window) {
        window.onWorkerNotification({NotifyCode::Done, 0});
    }
    template <class T>
    static T* Child(QWidget& window, const char* name) {
        return NamedControl<T>(window, name);
    }
    static QCheckBox* Link(QWidget& window) { return Child<QCheckBox>(window, "Link"); }
    static void Click(QWidget& window, const char* name) {
        Child<QAbstractButton>(window, name)->click();
    }
    static void Choose(QWidget& window, const char* group, int item) {
        Child<RadioGroup>(window, group)->button(item)->click();
    }
    static QString Text(QWidget& window, const char* label) {
        return Child<QLabel>(window, label)->text();
    }
    bool signalled(WorkerRequest request) const { return worker.isSignalled(request); }

    VirtualClock clock;
    RecordingChannel channel;
    TK350 worker{channel, clock};
    ConfigSnapshot record = SampleRecord();
};

// --- fresh windows, before anything is loaded ---------------------------------------------

struct BarExpected {
    const char* name;
    int minimum, maximum, position, tickInterval, pageStep;
};

inline void ExpectBars(QWidget& window, std::initializer_list<BarExpected> bars) {
    for (const BarExpected& e : bars) {
        auto* bar = window.findChild<QSlider*>(e.name);
        ASSERT_NE(bar, nullptr) << e.name;
        EXPECT_EQ(bar->orientation(), Qt::Vertical) << e.name;
        EXPECT_TRUE(bar->invertedAppearance()) << e.name << ": minimum at the top";
        EXPECT_EQ(bar->minimum(), e.minimum) << e.name;
        EXPECT_EQ(bar->maximum(), e.maximum) << e.name;
        EXPECT_EQ(bar->value(), e.position) << e.name;
        if (e.tickInterval) {
            EXPECT_EQ(bar->tickInterval(), e.tickInterval) << e.name;
        }
        if (e.pageStep) {
            EXPECT_EQ(bar->pageStep(), e.pageStep) << e.name;
        }
        EXPECT_FALSE(bar->accessibleName().isEmpty()) << e.name;
    }
}

inline void ExpectTexts(QWidget& window,
                        std::initializer_list<std::pair<const char*, const char*>> texts) {
    for (const auto& [name, text] : texts) {
        QWidget* control = window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_EQ(label->text(), text) << name;
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            EXPECT_EQ(button->text(), text) << name;
            EXPECT_EQ(button->accessibleName(), text) << name;
        } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
            EXPECT_EQ(group->title(), text) << name;
        }
    }
}

inline void ExpectItems(RadioGroup* group, const QStringList& items, int selected) {
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count(), items.size()) << group->objectName().toStdString();
    for (int i = 0; i < group->count(); ++i) EXPECT_EQ(group->button(i)->text(), items[i]);
    EXPECT_EQ(group->itemIndex(), selected) << group->objectName().toStdString();
}

inline QStringList TabTitles(QWidget& window) {
    auto* tabs = window.findChild<QTabWidget*>();
    QStringList titles;
    for (int i = 0; tabs && i < tabs->count(); ++i) titles << tabs->tabText(i);
    return titles;
}
