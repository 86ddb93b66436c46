// F6 and Shift+F6 take the keyboard round the main window's panes: the device tree, the active
// task window (where the keyboard last was in it) and the log.
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include "tests/support/ShellFixture.h"

namespace {

class PaneCycleTest : public ShellFixture {
protected:
    void SetUp() override {
        installConfig(0);
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        window().tree()->setFocus();
    }

    void open(const char* caption) { openNode(QString::fromUtf8(caption)); }
    static void press(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, modifiers);
        QApplication::processEvents();
    }
    QWidget* log() { return window().findChild<QPlainTextEdit*>("Log"); }
    QMdiSubWindow* active() { return window().clientArea()->activeSubWindow(); }
    static bool focusIn(const QWidget* pane) {
        const QWidget* focused = QApplication::focusWidget();
        return focused && (focused == pane || pane->isAncestorOf(focused));
    }
};

TEST_F(PaneCycleTest, F6GoesTreeWindowLogAndShiftF6Back) {
    open("Кодек");
    open("Информация");
    QMdiSubWindow* information = active();
    ASSERT_NE(information, nullptr);
    window().tree()->setFocus();

    press();
    EXPECT_TRUE(focusIn(information->widget()));
    EXPECT_EQ(active(), information);
    press();
    EXPECT_EQ(QApplication::focusWidget(), log());
    press();
    EXPECT_EQ(QApplication::focusWidget(), window().tree());

    press(Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), log());
    press(Qt::ShiftModifier);
    EXPECT_TRUE(focusIn(information->widget()));
    press(Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), window().tree());
}

TEST_F(PaneCycleTest, TheWindowGetsTheKeyboardBackWhereItLeftIt) {
    open("Кодек");
    QWidget* codec = active()->widget();
    QList<QWidget*> controls;
    for (QWidget* control : codec->findChildren<QWidget*>()) {
        if (control->isVisible() && control->isEnabled() && (control->focusPolicy() & Qt::TabFocus))
            controls << control;
    }
    ASSERT_GE(controls.size(), 2);
    controls[1]->setFocus();
    press();  // to the log
    EXPECT_EQ(QApplication::focusWidget(), log());
    press();  // the tree
    press();  // the codec again
    EXPECT_EQ(QApplication::focusWidget(), controls[1]);
}

TEST_F(PaneCycleTest, WithNoTaskWindowF6GoesBetweenTreeAndLog) {
    press();
    EXPECT_EQ(QApplication::focusWidget(), log());
    press();
    EXPECT_EQ(QApplication::focusWidget(), window().tree());
    press(Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), log());
}

}  // namespace
