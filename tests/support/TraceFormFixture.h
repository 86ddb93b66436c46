// The trace window open, with a worker that is not started: the tests check
// what is asked of it and play its notifications.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>

#include "link/K350Task.h"
#include "monitor/TraceForm.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/WindowControls.h"

class TraceFormTest : public ::testing::Test {
protected:
    TraceFormTest() {
        SetK350Worker(&worker_);
        form_.show();
    }
    ~TraceFormTest() override { SetK350Worker(nullptr); }

    QCheckBox* box(const char* name) { return NamedControl<QCheckBox>(form_, name); }
    QPushButton* button(const char* name) { return NamedControl<QPushButton>(form_, name); }
    void click(QAbstractButton* control) { QTest::mouseClick(control, Qt::LeftButton); }
    std::array<std::uint8_t, 2> maskWrittenIntoRequest() {
        std::array<std::uint8_t, 2> word = {0xFF, 0xFF};
        form_.onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(word.data())});
        return word;
    }
    void deliverLines(const TraceLines& lines) {
        form_.onWorkerNotification(
            {NotifyCode::TraceLines, reinterpret_cast<std::intptr_t>(&lines)});
    }
    bool signalled(WorkerRequest request) const { return worker_.isSignalled(request); }
    // The worker takes what is signalled.
    void takeRequests() {
        worker_.reset(WorkerRequest::SetTrace);
        worker_.reset(WorkerRequest::PollTrace);
    }

    RecordingChannel channel_;
    VirtualClock clock_;
    TK350 worker_{channel_, clock_};
    TFTrace form_;
};
