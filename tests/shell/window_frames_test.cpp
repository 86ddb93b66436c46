// The task windows as an engineer sees them in the client area: fixed frames
// that cannot be stretched or maximised, captions never cut (at the default
// font and at one two points larger), icons lined up inside the client area,
// a device tree that shows its captions whole and icons that tell their role.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <set>

#include "monitor/ReportForm.h"
#include "shell/Icons.h"
#include "tests/support/ShellFixture.h"
#include "transfer/ReadForm.h"
#include "ui/TaskWindow.h"

namespace {

const char* const kNodesOfWindows[] = {"Загрузка ПО", "Статистика",   "Кодек",      "Вокодер",
                                       "Регистратор", "Усилитель НЧ", "Информация", "Board Info",
                                       "Trace",       "UART"};

class WindowFramesTest : public ShellFixture {
protected:
    void SetUp() override {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::FullService);
    }

    void activate(const QString& caption) {
        ASSERT_TRUE(ActivateNode(window(), caption)) << caption.toStdString();
    }

    // Every task window, each in its frame: read, write, then the tree's.
    QList<QMdiSubWindow*> openEveryWindow() {
        window().showTaskWindow(new TFRead);
        trigger("MTaskSet");
        dialogs_.openAnswers.push_back(
            writeFile("image.rom", std::vector<std::uint8_t>(512, 0xFF)));
        for (const char* caption : kNodesOfWindows) activate(QString::fromUtf8(caption));
        QApplication::processEvents();
        return window().clientArea()->subWindowList();
    }

    static TaskWindow* taskOf(QMdiSubWindow* frame) {
        return qobject_cast<TaskWindow*>(frame->widget());
    }
};

std::string nameOf(QMdiSubWindow* frame) {
    return frame->windowTitle().toStdString();
}

TEST_F(WindowFramesTest, FixedFramesRefuseResizeAndMaximiseButKeepMinimise) {
    const QList<QMdiSubWindow*> frames = openEveryWindow();
    ASSERT_EQ(frames.size(), 12);
    int fixedCount = 0;
    for (QMdiSubWindow* frame : frames) {
        const bool fixed = taskOf(frame)->windowId() != WindowId::FTrace;
        fixedCount += fixed;
        const QSize before = frame->size();
        EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint) << nameOf(frame);
        EXPECT_EQ(bool(frame->windowFlags() & Qt::WindowMaximizeButtonHint), !fixed)
            << nameOf(frame);
        // The frame fits its window exactly.
        EXPECT_EQ(frame->widget()->size(), frame->contentsRect().size()) << nameOf(frame);

        // Dragging the bottom-right corner and asking for a larger size.
        window().clientArea()->setActiveSubWindow(frame);
        const QPoint corner(frame->width() - 2, frame->height() - 2);
        QTest::mousePress(frame, Qt::LeftButton, {}, corner);
        QTest::mouseMove(frame, corner + QPoint(60, 40));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, corner + QPoint(60, 40));
        if (fixed) {
            EXPECT_EQ(frame->size(), before) << nameOf(frame);
            frame->resize(before + QSize(110, 60));
            EXPECT_EQ(frame->size(), before) << nameOf(frame);
        } else {
            frame->resize(before + QSize(110, 60));
            EXPECT_EQ(frame->size(), before + QSize(110, 60)) << nameOf(frame);
        }
        frame->showMinimized();
        EXPECT_TRUE(frame->isMinimized()) << nameOf(frame);
        frame->showNormal();
        if (fixed) {
            EXPECT_EQ(frame->size(), before) << nameOf(frame);
        }
    }
    EXPECT_EQ(fixedCount, 11);
    EXPECT_EQ(window().windowTitle(), "Терминал контроллеров К-350");
}

TEST_F(WindowFramesTest, TilingMovesFixedFramesWithoutStretchingThem) {
    const QList<QMdiSubWindow*> frames = openEveryWindow();
    std::vector<QSize> sizes;
    for (QMdiSubWindow* frame : frames) sizes.push_back(frame->size());
    window().findChild<QAction*>("TileHorizontal")->trigger();
    for (int i = 0; i < frames.size(); ++i) {
        if (taskOf(frames[i])->windowId() == WindowId::FTrace) continue;
        EXPECT_EQ(frames[i]->size(), sizes[std::size_t(i)]) << nameOf(frames[i]);
    }
}

TEST_F(WindowFramesTest, StatisticsOpenedSecondFitsTheClientAreaOfTheStartUpWindow) {
    window().showTaskWindow(new TFRead);
    activate("Статистика");
    QMdiSubWindow* frame = window().clientArea()->subWindowList().last();
    ASSERT_EQ(taskOf(frame)->windowId(), WindowId::FReport);
    EXPECT_EQ(frame->pos(), QPoint(10, 10));
    EXPECT_TRUE(window().clientArea()->viewport()->rect().contains(frame->geometry()))
        << frame->geometry().bottom() << " below " << window().clientArea()->viewport()->height();
}

// --- captions ------------------------------------------------------------------

// What a person reads in the frame, checked where it can be cut.
void expectTextsFit(QWidget* root, const std::string& where) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->wordWrap() || label->text().isEmpty()) continue;
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_GE(label->contentsRect().width(), needed)
            << where << ": \"" << label->text().toStdString() << "\"";
        EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height() - 1)
            << where << ": \"" << label->text().toStdString() << "\"";
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(root) || button->text().isEmpty()) continue;
        EXPECT_GE(button->width(), button->sizeHint().width())
            << where << ": \"" << button->text().toStdString() << "\"";
    }
    for (QGroupBox* group : root->findChildren<QGroupBox*>()) {
        if (!group->isVisibleTo(root)) continue;
        EXPECT_GE(group->width(), group->fontMetrics().horizontalAdvance(group->title()) + 8)
            << where << ": \"" << group->title().toStdString() << "\"";
    }
    for (QLineEdit* field : root->findChildren<QLineEdit*>()) {
        if (!field->isVisibleTo(root) || !field->isReadOnly() || field->text().isEmpty()) continue;
        EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(field->text()) + 4)
            << where << ": \"" << field->text().toStdString() << "\"";
    }
    for (QTabBar* tabs : root->findChildren<QTabBar*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            EXPECT_TRUE(tabs->rect().contains(tabs->tabRect(i)))
                << where << ": tab \"" << tabs->tabText(i).toStdString() << "\"";
        }
    }
}

// Every page of every tab control, each shown in turn.
void expectAllPagesFit(QWidget* root, const std::string& where) {
    QList<QTabWidget*> tabWidgets = root->findChildren<QTabWidget*>();
    expectTextsFit(root, where);
    for (QTabWidget* tabs : tabWidgets) {
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QApplication::processEvents();
            expectTextsFit(root, where + " / " + tabs->tabText(page).toStdString());
        }
        tabs->setCurrentIndex(0);
    }
}

// The widest values the windows show: long IDs, the longest period, the largest counts.
void showWidestValues(QMdiSubWindow* frame) {
    auto* task = qobject_cast<TaskWindow*>(frame->widget());
    static const std::uint8_t ids[16] = {0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD,
                                         0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD};
    switch (task->windowId()) {
        case WindowId::FRead:
        case WindowId::FSave:
        case WindowId::FFlash:
            task->onWorkerNotification({NotifyCode::DieId, reinterpret_cast<std::intptr_t>(ids)});
            task->onWorkerNotification({NotifyCode::ChipId, reinterpret_cast<std::intptr_t>(ids)});
            task->onWorkerNotification({NotifyCode::Done, 140});
            break;
        case WindowId::FReport: {
            auto* report = static_cast<TFReport*>(task);
            report->findChild<QLineEdit*>("mTime")->setText("999");
            report->findChild<QPushButton*>("BRun")->click();
            static const std::vector<std::uint8_t> record(256, 0xFF);
            report->showStatistics(record.data());
            break;
        }
        default:
            break;
    }
    QApplication::processEvents();
}

class WindowCaptionsTest : public WindowFramesTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        original_ = QApplication::font();
        QFont font = original_;
        font.setPointSizeF(original_.pointSizeF() + GetParam());
        QApplication::setFont(font);
        WindowFramesTest::SetUp();
    }
    void TearDown() override { QApplication::setFont(original_); }
    QFont original_;
};

TEST_P(WindowCaptionsTest, NoCaptionLabelOrValueIsCutInAnyWindowOrVariant) {
    for (std::uint8_t model : {std::uint8_t(0), std::uint8_t(1)}) {
        window().closeAllTaskWindows();
        QApplication::processEvents();
        installConfig(model);
        window().setServiceLevel(ServiceLevel::FullService);
        for (QMdiSubWindow* frame : openEveryWindow()) {
            showWidestValues(frame);
            expectAllPagesFit(frame->widget(), nameOf(frame) + " model " + std::to_string(model) +
                                                   " +" + std::to_string(GetParam()) + "pt");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DefaultAndLarger, WindowCaptionsTest, ::testing::Values(0, 2));

// --- icons of minimised windows ----------------------------------------------------

TEST_F(WindowFramesTest, ArrangedIconsStayInsideTheClientAreaForOneToTwelveWindows) {
    for (int count = 1; count <= 12; ++count) {
        window().closeAllTaskWindows();
        QApplication::processEvents();
        QList<QMdiSubWindow*> frames = openEveryWindow().mid(0, count);
        for (QMdiSubWindow* frame : frames) frame->showMinimized();
        window().findChild<QAction*>("ArrangeAll")->trigger();
        const QRect area = window().clientArea()->viewport()->rect();
        std::set<std::pair<int, int>> places;
        for (QMdiSubWindow* frame : frames) {
            EXPECT_TRUE(area.contains(frame->geometry())) << count << " windows: " << nameOf(frame);
            places.insert({frame->x(), frame->y()});
        }
        EXPECT_EQ(places.size(), std::size_t(count)) << "icons on top of each other";
    }
}

// --- device tree -------------------------------------------------------------------

TEST_F(WindowFramesTest, TreeShowsEveryCaptionWholeAndAsTooltip) {
    QTreeWidget* tree = window().tree();
    tree->expandAll();
    QApplication::processEvents();
    EXPECT_EQ(tree->textElideMode(), Qt::ElideNone);
    EXPECT_NE(tree->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const QRect shown = tree->visualItemRect(*it);
        const int textRight = shown.left() + tree->iconSize().width() +
                              tree->fontMetrics().horizontalAdvance((*it)->text(0));
        EXPECT_LE(textRight,
                  tree->header()->sectionViewportPosition(0) + tree->header()->sectionSize(0))
            << (*it)->text(0).toStdString();
        EXPECT_EQ((*it)->toolTip(0), (*it)->text(0));
    }
    EXPECT_EQ(tree->horizontalScrollBar()->maximum(), 0);  // the panel holds the longest caption
}

// --- icons -------------------------------------------------------------------------

TEST(ImageListTest, EachIndexHasItsOwnPictureAndAVisiblyDisabledOne) {
    const QList<int> indexes = ImageListIndexes();
    const int used[] = {7,  8,  9,  16, 17, 18, 42, 43, 45, 46, 48,
                        49, 50, 51, 65, 66, 67, 68, 69, 70, 71, 72};
    for (int index : used) EXPECT_TRUE(indexes.contains(index)) << index;
    std::vector<QImage> pictures;
    for (int index : indexes) {
        const QIcon icon = ImageListIcon(index);
        for (int size : {16, 32}) {
            const QImage normal = icon.pixmap(size, QIcon::Normal).toImage();
            const QImage disabled = icon.pixmap(size, QIcon::Disabled).toImage();
            EXPECT_EQ(normal.size(), QSize(size, size)) << index;
            EXPECT_NE(normal, disabled) << index;
            long colour = 0, opacity = 0, disabledOpacity = 0;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const QColor c = disabled.pixelColor(x, y);
                    colour += std::abs(c.red() - c.green()) + std::abs(c.green() - c.blue());
                    opacity += normal.pixelColor(x, y).alpha();
                    disabledOpacity += c.alpha();
                }
            }
            EXPECT_LE(colour, size * size) << index << ": disabled icon still coloured";
            EXPECT_LT(disabledOpacity * 2, opacity + 1) << index << ": disabled icon as strong";
        }
        pictures.push_back(icon.pixmap(16).toImage().convertToFormat(QImage::Format_ARGB32));
    }
    for (std::size_t a = 0; a < pictures.size(); ++a) {
        for (std::size_t b = a + 1; b < pictures.size(); ++b) {
            EXPECT_NE(pictures[a], pictures[b]) << indexes[int(a)] << " and " << indexes[int(b)];
        }
    }
    EXPECT_TRUE(ImageListIcon(1).isNull());
}

}  // namespace
