// The task windows from the keyboard: Tab reads each window top to bottom (in the settings
// windows the tab bar, the page, "Тестирование", then the buttons), Escape closes a window as its
// close or cancel button does unless an edit would be lost, and the main window's Ctrl+F4,
// Ctrl+Tab and Ctrl+F6 close and cycle the task windows.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include "tests/support/ShellFixture.h"
#include "transfer/FlashForm.h"
#include "ui/TaskWindow.h"

namespace {

class TaskWindowTest : public ShellFixture {
protected:
    void SetUp() override {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::FullService);
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    TaskWindow* open(const char* caption) {
        QMdiSubWindow* frame = openNode(QString::fromUtf8(caption));
        return frame ? qobject_cast<TaskWindow*>(frame->widget()) : nullptr;
    }
    static QMdiSubWindow* frameOf(TaskWindow* task) {
        return qobject_cast<QMdiSubWindow*>(task->parentWidget());
    }
    QMdiSubWindow* active() { return window().clientArea()->activeSubWindow(); }

    // The controls Tab visits from `first` on, until it leaves the window or comes back.
    static QList<QWidget*> tabStops(TaskWindow* task, QWidget* first) {
        first->setFocus(Qt::TabFocusReason);
        QList<QWidget*> stops;
        for (int step = 0; step < 80; ++step) {
            QWidget* now = QApplication::focusWidget();
            if (!stops.isEmpty() && now == stops.last()) {  // a date field's next section
                QTest::keyClick(now, Qt::Key_Tab);
                continue;
            }
            if (!now || !task->isAncestorOf(now) || stops.contains(now)) break;
            stops << now;
            QTest::keyClick(now, Qt::Key_Tab);
        }
        return stops;
    }
    static std::string names(const QList<QWidget*>& stops) {
        std::string text;
        for (QWidget* stop : stops) {
            text += (stop->objectName().isEmpty() ? stop->metaObject()->className()
                                                  : stop->objectName().toStdString()) +
                    " ";
        }
        return text;
    }
};

TEST_F(TaskWindowTest, SettingsWindowsTabFromTheTabBarThroughThePageToTestingAndTheButtons) {
    for (const char* caption : {"Кодек", "Вокодер", "Регистратор", "Усилитель НЧ"}) {
        TaskWindow* task = open(caption);
        ASSERT_NE(task, nullptr) << caption;
        QTabBar* tabBar = task->findChild<QTabBar*>();
        ASSERT_NE(tabBar, nullptr) << caption;
        const QList<QWidget*> stops = tabStops(task, tabBar);
        SCOPED_TRACE(caption + std::string(": ") + names(stops));
        ASSERT_GE(stops.size(), 6);
        EXPECT_EQ(stops.first(), tabBar);
        const QStringList last = {"Link", "ButDefault", "ButOk", "ButCancel"};
        QStringList tail;
        for (QWidget* stop : stops.mid(stops.size() - 4)) tail << stop->objectName();
        EXPECT_EQ(tail, last);
        for (QWidget* stop : stops.mid(1, stops.size() - 5)) {
            EXPECT_TRUE(task->findChild<QTabWidget*>()->currentWidget()->isAncestorOf(stop))
                << stop->objectName().toStdString();
        }
        frameOf(task)->close();
    }
}

// Every window: its controls in rows from top to bottom, each row from left to right.
TEST_F(TaskWindowTest, EveryWindowIsTabbedInReadingOrder) {
    for (const char* caption : {"Статистика", "Информация", "Board Info", "Trace", "UART"}) {
        TaskWindow* task = open(caption);
        ASSERT_NE(task, nullptr) << caption;
        QList<QWidget*> all;
        for (QWidget* child : task->findChildren<QWidget*>()) {
            if (child->isVisible() && child->isEnabled() && (child->focusPolicy() & Qt::TabFocus) &&
                !child->focusProxy())
                all << child;
        }
        ASSERT_FALSE(all.isEmpty()) << caption;
        const QList<QWidget*> stops = tabStops(task, all.first());
        SCOPED_TRACE(caption + std::string(": ") + names(stops));
        // From wherever it starts, Tab comes round through every control of the window.
        EXPECT_EQ(stops.size(), all.size());
        int rowTop = -1, previousLeft = -1;
        int wraps = 0;
        for (QWidget* stop : stops) {
            const QRect at(stop->mapTo(task, QPoint(0, 0)), stop->size());
            const bool sameRow = rowTop >= 0 && at.top() < rowTop + at.height() / 2 &&
                                 at.top() > rowTop - at.height() / 2;
            if (sameRow && at.left() > previousLeft) {
                previousLeft = at.left();
                continue;
            }
            if (rowTop >= 0 && at.top() <= rowTop) ++wraps;  // back to the top, or within a group
            rowTop = at.top();
            previousLeft = at.left();
        }
        EXPECT_LE(wraps, 1);
        frameOf(task)->close();
    }
}

TEST_F(TaskWindowTest, EscapeClosesAsTheCloseButtonDoesUnlessAnEditWouldBeLost) {
    for (const char* caption :
         {"Статистика", "Информация", "Board Info", "Trace", "UART", "Кодек"}) {
        TaskWindow* task = open(caption);
        ASSERT_NE(task, nullptr) << caption;
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : task,
                        Qt::Key_Escape);
        QApplication::processEvents();
        EXPECT_TRUE(task->isClosing()) << caption;
    }
    EXPECT_EQ(openWindowCount(), 0);

    TaskWindow* codec = open("Кодек");
    ASSERT_NE(codec, nullptr);
    QSlider* bar = codec->findChild<QSlider*>();
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Up);  // an edit of the copy that "Закрыть" would drop
    QTest::keyClick(bar, Qt::Key_Escape);
    EXPECT_FALSE(codec->isClosing());

    TaskWindow* board = open("Board Info");
    ASSERT_NE(board, nullptr);
    QWidget* serial = board->findChild<QWidget*>("sSerial");
    serial->setFocus();
    QTest::keyClick(serial, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(serial, Qt::Key_1);
    QTest::keyClick(serial, Qt::Key_Escape);
    EXPECT_FALSE(board->isClosing());
}

TEST_F(TaskWindowTest, ClosingTheLastWindowByKeyboardGivesTheTreeTheFocus) {
    TaskWindow* info = open("Информация");
    ASSERT_NE(info, nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), window().tree());
}

TEST_F(TaskWindowTest, EscapeDoesNotBreakOffARunningDownload) {
    dialogs_.openAnswers.push_back(writeFile("fw.rom", k350sim::Bytes(300, 0x5A)));
    auto* flash = static_cast<TFFlash*>(open("Загрузка ПО"));
    ASSERT_NE(flash, nullptr);
    TransferData transfer;
    flash->onWorkerNotification({NotifyCode::FillData, reinterpret_cast<std::intptr_t>(&transfer)});
    QTest::keyClick(flash, Qt::Key_Escape);
    EXPECT_FALSE(flash->isClosing());
    flash->onWorkerNotification({NotifyCode::Done, 300});
    QTest::keyClick(flash, Qt::Key_Escape);
    EXPECT_TRUE(flash->isClosing());
}

TEST_F(TaskWindowTest, CtrlF4ClosesAndCtrlTabOrCtrlF6CycleTheTaskWindows) {
    TaskWindow* info = open("Информация");
    TaskWindow* uart = open("UART");
    TaskWindow* codec = open("Кодек");
    ASSERT_TRUE(info && uart && codec);
    const auto press = [](int key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
        QApplication::processEvents();
    };
    QList<QMdiSubWindow*> visited;
    for (int step = 0; step < 3; ++step) {
        press(step == 1 ? Qt::Key_F6 : Qt::Key_Tab, Qt::ControlModifier);
        visited << active();
    }
    EXPECT_EQ(QSet<QMdiSubWindow*>(visited.begin(), visited.end()).size(), 3);
    EXPECT_EQ(visited.last(), frameOf(codec));
    press(Qt::Key_F6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(active(), visited[1]);

    QMdiSubWindow* closing = active();
    press(Qt::Key_F4, Qt::ControlModifier);
    EXPECT_EQ(openWindowCount(), 2);
    EXPECT_FALSE(window().clientArea()->subWindowList().contains(closing));
}

}  // namespace
