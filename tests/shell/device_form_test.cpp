// The main window as a person sees it: start-up state, the log of the worker's
// reports, the device tree by level and configuration, activation and the
// service access dialog.
#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindow>
#include <memory>

#include "config/ConfigImage.h"
#include "config/Cp1251.h"
#include "shell/AccessForm.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/TestLocales.h"

namespace {
const char* const kConfigCommands[] = {"MFileClose",  "MFileSave",     "MFileSaveAs", "MTaskSet",
                                       "MButtonSave", "MButtonSaveAs", "MButtonSet"};

const QString kNoDevice = "Задачи (48)\n  Прочитать (45)\n";

QString deviceLayout(const QString& root, bool firmware, bool amplifier, bool service) {
    QString text = root + " (65)\n  Задачи (48)\n    Прочитать (45)\n    Записать (46)\n";
    if (firmware) text += "    Загрузка ПО (51)\n";
    text +=
        "    Статистика (42)\n  Устройства (70)\n    Кодек (66)\n    Вокодер (71)\n"
        "    Регистратор (72)\n";
    if (amplifier) text += "    Усилитель НЧ (68)\n";
    if (service) text += "  Cервис (50)\n    Board Info (43)\n    Trace (49)\n    UART (69)\n";
    return text + "Информация (67)\n";
}

// Types into the access dialog once it is up, then closes it the given way.
// TabEnter: the code, Tab to the button "Ввод", Enter on it.
enum class CloseBy { Enter, Button, CloseBox, TabEnter };
void answerAccessDialog(const QString& code, CloseBy how) {
    QTimer::singleShot(0, [code, how] {
        auto* dialog = qobject_cast<TFAccess*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* field = dialog->findChild<QLineEdit*>("EAccess");
        QTest::keyClicks(field, code);
        if (how == CloseBy::Enter) QTest::keyClick(field, Qt::Key_Return);
        if (how == CloseBy::Button) dialog->findChild<QPushButton*>("BClose")->click();
        if (how == CloseBy::CloseBox) dialog->close();
        if (how == CloseBy::TabEnter) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Tab);
            EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QPushButton*>("BClose"));
            if (dialog->focusWidget()) QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        }
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the access dialog stayed open";
            dialog->close();
        }
    });
}

QStringList logLines(TFDevice& w) {
    return w.logText().split('\n', Qt::SkipEmptyParts);
}
}  // namespace

class ShellWindowTest : public ShellFixture {
protected:
    void enterCode(const QString& code, CloseBy how = CloseBy::Enter) {
        answerAccessDialog(code, how);
        trigger("MServExt");
    }
    TransferData askForWriteData() {
        TransferData transfer;
        window().onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(&transfer)});
        return transfer;
    }
};

TEST_F(ShellWindowTest, StartsWithEmptyLogNoDeviceTreeAndConfigCommandsOff) {
    EXPECT_TRUE(window().logText().isEmpty());
    EXPECT_EQ(treeText(), kNoDevice);
    for (const char* name : kConfigCommands) EXPECT_FALSE(action(name)->isEnabled()) << name;
    EXPECT_TRUE(action("MServUser")->isChecked());
    EXPECT_FALSE(action("MServExt")->isChecked());
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    for (QTreeWidgetItemIterator it(window().tree()); *it; ++it) {
        EXPECT_FALSE((*it)->isExpanded());
        EXPECT_FALSE((*it)->isSelected());
    }
}

// Each menu as "title: item [hint] | ..." with "—" for a separator; toolbars by their hints.
QString describeMenus(TFDevice& w) {
    QStringList menus;
    for (QAction* menu : w.menuBar()->actions()) {
        QStringList items;
        for (QAction* item : menu->menu()->actions()) {
            if (item->isSeparator()) {
                items << "—";
                continue;
            }
            const bool hinted = !item->statusTip().isEmpty();
            items << item->text() + (hinted ? " [" + item->statusTip() + "]" : QString());
        }
        menus << menu->text() + ": " + items.join(" | ");
    }
    for (QToolBar* bar : w.findChildren<QToolBar*>()) {
        QStringList buttons;
        for (QAction* button : bar->actions()) buttons << button->toolTip();
        menus << bar->objectName() + ": " + buttons.join(" | ");
    }
    return menus.join('\n');
}

TEST_F(ShellWindowTest, MenusAndToolbarsCarryTheirCaptionsHintsAndOrder) {
    EXPECT_EQ(describeMenus(window()),
              "Файл: Открыть [Открыть файл] | Закрыть [Закрыть файл] | — | Сохранить | "
              "Сохранить как | — | Выход [Выйти из программы]\n"
              "Задачи: Прочитать [Прочитать  конйигурацию контроллера] | "
              "Записать [Загрузить конфигурацию контроллера ]\n"
              "Сервис: Пользовательский | Дополнительный\n"
              "Окно: Каскадом | Сверху вниз | Слева на право | Упорядочить значки\n"
              "ToolBarFile: Открыть | Сохранить | Сохранить как\n"
              "ToolBarTask: Прочитать | Записать");
    EXPECT_EQ(window().windowTitle(), "Терминал контроллеров К-350");
}

TEST_F(ShellWindowTest, WorkerReportsBecomeLogLines) {
    window().onWorkerNotification({NotifyCode::Status, 0});
    window().onWorkerNotification({NotifyCode::Status, 13});
    window().onWorkerNotification({NotifyCode::Status, -1});
    window().onWorkerNotification({NotifyCode::Status, 13});
    window().onWorkerNotification({7, 5});
    EXPECT_TRUE(window().logText().isEmpty());

    window().onWorkerNotification({NotifyCode::Error, -2});
    window().onWorkerNotification({NotifyCode::BytesReceived, 140});
    window().onWorkerNotification({NotifyCode::BytesSent, 56});
    window().onWorkerNotification({NotifyCode::Status, 3});
    window().onWorkerNotification({NotifyCode::Status, 11});
    const QStringList lines = logLines(window());
    ASSERT_EQ(lines.size(), 5);
    const QStringList texts{"Error: -2", "Получено 140байт.", "Передано 56байт.",
                            "Контроллер K-350 не обнаружен на шине USB",
                            "Процесс загрузки ПО (boot_mode) завершен"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d-> " +
                                       QRegularExpression::escape(texts[i]) + "$")
                        .match(lines[i])
                        .hasMatch())
            << lines[i].toStdString();
    }
}

TEST_F(ShellWindowTest, WriteDataIs56Or140BytesOfACopyTakenWhenAsked) {
    installConfig(0);
    window().document().snapshot().bytes[10] = 0x11;
    TransferData user = askForWriteData();
    EXPECT_EQ(user.count, 56u);
    window().setServiceLevel(ServiceLevel::Service);
    EXPECT_EQ(askForWriteData().count, 56u);
    window().setServiceLevel(ServiceLevel::FullService);
    TransferData full = askForWriteData();
    ASSERT_EQ(full.count, 140u);
    EXPECT_TRUE(
        std::equal(full.data, full.data + 140, window().document().snapshot().bytes.begin()));
    window().document().snapshot().bytes[10] = 0x22;
    window().CloseDevice();
    EXPECT_EQ(user.data[10], 0x11);
    EXPECT_EQ(full.data[10], 0x11);
}

TEST_F(ShellWindowTest, LayoutsFollowLevelConfigurationAndModel) {
    struct Case {
        ServiceLevel level;
        int model;  // -1: no configuration
        QString tree;
    };
    const Case cases[] = {
        {ServiceLevel::User, -1, kNoDevice},
        {ServiceLevel::Service, -1, kNoDevice},
        {ServiceLevel::User, 0, deviceLayout("K-350A", false, true, false)},
        {ServiceLevel::User, 1, deviceLayout("K-350B", false, false, false)},
        {ServiceLevel::User, 2, deviceLayout("", false, false, false)},
        {ServiceLevel::Service, 0, deviceLayout("K-350A", true, true, false)},
        {ServiceLevel::Service, 2, deviceLayout("", true, false, false)},
        {ServiceLevel::FullService, 1, deviceLayout("K-350B", true, true, true)},
        {ServiceLevel::FullService, 2, deviceLayout("", true, true, true)},
    };
    for (const Case& c : cases) {
        window().CloseDevice();
        window().setServiceLevel(ServiceLevel::User);
        window().CloseDevice();  // a blank snapshot from an earlier case goes
        if (c.model >= 0) installConfig(std::uint8_t(c.model));
        window().setServiceLevel(c.level);
        EXPECT_EQ(treeText(), c.tree) << int(c.level) << " model " << c.model;
        EXPECT_EQ(action("MServExt")->isChecked(), c.model >= 0 && c.level != ServiceLevel::User);
    }
    EXPECT_EQ(window().FindNode("Информация"), 15);
    EXPECT_EQ(window().FindNode("cервис"), -1);
    ASSERT_NE(node(QString::fromUtf8("C\u0435\u0440\u0432\u0438\u0441")), nullptr);  // Latin C
    window().SetNodeImage("Trace", 7);
    EXPECT_EQ(TFDevice::nodeImage(node("Trace")), 7);
    window().SetNodeImage("nothing", 7);
}

TEST_F(ShellWindowTest, NoDeviceLayoutLeavesTheLevelMarksAsTheyWere) {
    installConfig(0);
    window().setServiceLevel(ServiceLevel::Service);
    window().CloseDevice();
    trigger("MServUser");
    EXPECT_EQ(treeText(), kNoDevice);
    EXPECT_TRUE(action("MServExt")->isChecked());
    EXPECT_FALSE(action("MServUser")->isChecked());
}

TEST_F(ShellWindowTest, FullServiceWithoutConfigurationShowsTheBlankSnapshot) {
    answerAccessDialog("R482_Deep_Lantern", CloseBy::Enter);
    trigger("MServExt");
    EXPECT_EQ(window().document().level(), ServiceLevel::FullService);
    ASSERT_TRUE(window().document().hasConfig());
    EXPECT_EQ(treeText(), deviceLayout("K-350A", true, true, true));
    for (const char* name : kConfigCommands) {
        EXPECT_EQ(action(name)->isEnabled(), QString(name) == "MFileSaveAs") << name;
    }
    const ConfigSnapshot& blank = window().document().snapshot();
    EXPECT_EQ(StoredCrc(blank), ComputeCrc(window().document().crc(), blank));
    const std::string date(reinterpret_cast<const char*>(blank.data() + ConfigOffset::Date), 10);
    EXPECT_EQ(date, QDate::currentDate().toString("dd.MM.yyyy").toStdString());
    EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(ShellWindowTest, BlankSnapshotDatesTodayAsDayMonthYearWhateverTheLocale) {
    for (const char* name : kTestLocales) {
        ScopedDefaultLocale locale(name);
        enterCode("R482_Deep_Lantern");
        window().CloseDevice();  // a new blank snapshot at once
        ASSERT_TRUE(window().document().hasConfig()) << name;
        const auto* date = window().document().snapshot().data() + ConfigOffset::Date;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(date), 10),
                  QDate::currentDate().toString("dd.MM.yyyy").toStdString())
            << name;
        EXPECT_EQ(date[10], 0) << name;  // the description follows, emptied
    }
}

TEST_F(ShellWindowTest, AccessCodesAreComparedExactlyWhateverClosesTheDialog) {
    struct Case {
        QString code;
        CloseBy how;
        ServiceLevel level;
        bool wrong;
    };
    const Case cases[] = {
        {"Lamp_Harbour", CloseBy::Enter, ServiceLevel::Service, false},
        {"Lamp_Harbour ", CloseBy::Enter, ServiceLevel::User, true},
        {"R482_Deep_Lantern", CloseBy::CloseBox, ServiceLevel::FullService, false},
        {"lamp_harbour", CloseBy::Button, ServiceLevel::User, true},
        {"Lamp_Harbour", CloseBy::Button, ServiceLevel::Service, false},
        {"R482_DEEP_LANTERN", CloseBy::Enter, ServiceLevel::User, true},
        {"", CloseBy::CloseBox, ServiceLevel::User, true},
        {"Lamp_Harbour", CloseBy::TabEnter, ServiceLevel::Service, false},
        {"Lamp_Harbor", CloseBy::TabEnter, ServiceLevel::User, true},
    };
    for (const Case& c : cases) {
        dialogs_.messages.clear();
        enterCode(c.code, c.how);
        EXPECT_EQ(window().document().level(), c.level) << c.code.toStdString();
        EXPECT_EQ(dialogs_.messages,
                  c.wrong ? QStringList{"Код доступа неправильный"} : QStringList{})
            << c.code.toStdString();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(ShellWindowTest, AccessDialogLooksAsSpecifiedAndKeepsOtherKeysInTheField) {
    TFAccess access;
    EXPECT_EQ(access.windowTitle(), "Выбор режима работы");
    EXPECT_EQ(access.size(), QSize(237, 111));
    EXPECT_EQ(access.findChild<QPushButton*>("BClose")->text(), "Ввод");
    access.show();
    auto* field = access.findChild<QLineEdit*>("EAccess");
    QTest::keyClicks(field, "ab c");
    QTest::keyClick(field, Qt::Key_Escape);
    QTest::keyClick(access.findChild<QPushButton*>("BClose"), Qt::Key_Escape);
    EXPECT_TRUE(access.isVisible());
    EXPECT_EQ(field->text(), "ab c");
}

TEST_F(ShellWindowTest, WrongCodeAtFullServiceDropsToUserAndTheNextWriteSends56Bytes) {
    installConfig(1);
    enterCode("R482_Deep_Lantern");
    ASSERT_EQ(askForWriteData().count, 140u);
    enterCode("R482_Deep_Lanter");
    EXPECT_EQ(window().document().level(), ServiceLevel::User);
    EXPECT_EQ(treeText(), deviceLayout("K-350B", false, false, false));
    EXPECT_TRUE(action("MServUser")->isChecked());
    EXPECT_EQ(askForWriteData().count, 56u);
}

TEST_F(ShellWindowTest, EnterAndDoubleClickActivateOtherKeysAndGroupNodesDoNot) {
    installConfig(0);
    auto& bytes = window().document().snapshot().bytes;
    const auto staleCrc = [&] {
        bytes[0] ^= 0xFF;
        return StoredCrc(window().document().snapshot());
    };
    const std::uint16_t good =
        ComputeCrc(window().document().crc(), window().document().snapshot());

    staleCrc();
    pressKeyOnNode("Информация", Qt::Key_Space);
    pressKeyOnNode("Информация", Qt::Key_A);
    EXPECT_NE(StoredCrc(window().document().snapshot()), good);
    pressKeyOnNode("Информация", Qt::Key_Return);
    EXPECT_EQ(StoredCrc(window().document().snapshot()), good);
    staleCrc();
    doubleClickNode("Информация");
    EXPECT_EQ(StoredCrc(window().document().snapshot()), good);

    const std::uint16_t stale = staleCrc();
    for (const char* group : {"K-350A", "Задачи", "Устройства"})
        pressKeyOnNode(group, Qt::Key_Enter);
    window().setServiceLevel(ServiceLevel::FullService);
    pressKeyOnNode("Cервис", Qt::Key_Return);
    EXPECT_EQ(StoredCrc(window().document().snapshot()), stale);
    EXPECT_EQ(openWindowCount(), 1);  // the description window, opened above
    EXPECT_TRUE(dialogs_.questions.isEmpty());
}

TEST_F(ShellWindowTest, WindowManagersCloseDocksTheFloatingDevicePanelBack) {
    window().show();
    QDockWidget* panel = window().devicePanel();
    for (bool fromWindowSystem : {false, true}) {
        panel->setFloating(true);
        ASSERT_TRUE(panel->isWindow());
        if (fromWindowSystem) {
            ASSERT_NE(panel->windowHandle(), nullptr);
            panel->windowHandle()->close();  // what WM_DELETE_WINDOW and Alt+F4 arrive as
        } else {
            EXPECT_FALSE(panel->close());
        }
        EXPECT_FALSE(panel->isFloating()) << fromWindowSystem;
        EXPECT_TRUE(panel->isVisible()) << fromWindowSystem;
        EXPECT_EQ(window().dockWidgetArea(panel), Qt::LeftDockWidgetArea);
        EXPECT_TRUE(panel->toggleViewAction()->isChecked());
    }
    EXPECT_FALSE(panel->close());  // docked, it stays as well
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(ShellWindowTest, PanelMenuOfTheToolbarAreaShowsNoBlankEntry) {
    window().show();
    std::unique_ptr<QMenu> menu(window().createPopupMenu());
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* entry : menu->actions()) {
        if (entry->isVisible() && !entry->isSeparator()) entries << entry->text();
    }
    EXPECT_FALSE(entries.contains(QString())) << entries.join(" | ").toStdString();
    EXPECT_TRUE(entries.contains("K350"));
}

TEST_F(ShellWindowTest, FloatingDevicePanelDocksBackOnlyWhenDroppedAtTheLeftEdge) {
    QDockWidget* panel = window().devicePanel();
    EXPECT_EQ(panel->windowTitle(), "K350");
    panel->setFloating(true);
    EXPECT_FALSE(panel->isAreaAllowed(Qt::LeftDockWidgetArea));  // a drop over the column floats
    const int left = window().frameGeometry().left();
    window().panelDragEnded(left + 1);
    EXPECT_TRUE(panel->isFloating());
    window().panelDragEnded(left);
    EXPECT_FALSE(panel->isFloating());
    EXPECT_EQ(window().dockWidgetArea(panel), Qt::LeftDockWidgetArea);
    EXPECT_TRUE(panel->isAreaAllowed(Qt::LeftDockWidgetArea));
    window().panelDragEnded(left - 500);  // docked already: nothing to do
    EXPECT_FALSE(panel->isFloating());
}
