// Qt's own file dialog as the terminal shows it: what its filters list and that it leaves no
// settings file behind.
#include "ui/Dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kConfigFilter = "K350 конфигурация (*.kcf)|*.kcf|все файлы|*";

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

// The names the dialog's list shows in its folder, once the folder has been read.
QStringList listedNames(QFileDialog& dialog, int atLeast) {
    auto* list = dialog.findChild<QListView*>("listView");
    EXPECT_NE(list, nullptr);
    if (!list) return {};
    QStringList names;
    const auto collect = [&] {
        names.clear();
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row) {
            names << list->model()->index(row, 0, root).data().toString();
        }
        names.sort();
        return names.size() >= atLeast;
    };
    // The file system model reads the folder on a thread of its own.
    EXPECT_TRUE(QTest::qWaitFor(collect, 5000)) << names.join(", ").toStdString();
    return names;
}

}  // namespace

// First in this file: Qt finds its settings path once per process.
TEST(FileDialogTest, ShowingAndCancellingADialogWritesNoSettingsFile) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());

    QtDialogs dialogs;
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            dialog->close();
        });
        EXPECT_TRUE(dialogs.openFile(nullptr, "Открыть", kConfigFilter).isEmpty());
    }
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_TRUE(dialogs.saveFile(nullptr, kConfigFilter).isEmpty());

    const QStringList left =
        QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    EXPECT_FALSE(QFile::exists(home.path() + "/config/QtProject.conf"));
    EXPECT_FALSE(QFile::exists(home.path() + "/.config/QtProject.conf"));
}

TEST(FileDialogTest, AllFilesListsNamesWithoutADotAndShowsOnlyTheCaptions) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    touch(folder.filePath("board"));  // saved under a name without extension
    touch(folder.filePath("a.kcf"));
    touch(folder.filePath("image.rom"));

    auto dialog = QtDialogs::makeFileDialog(nullptr, "Открыть", kConfigFilter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setDirectory(folder.path());
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "K350 конфигурация (*.kcf)");
    EXPECT_EQ(types->itemText(1), "все файлы");
    dialog->show();
    EXPECT_EQ(listedNames(*dialog, 1), QStringList{"a.kcf"});

    dialog->selectNameFilter(QtDialogs::nameFilters(kConfigFilter).at(1));
    EXPECT_EQ(listedNames(*dialog, 3), (QStringList{"a.kcf", "board", "image.rom"}));
}

TEST(FileDialogTest, FilterListsTurnIntoQtFiltersWhosePatternsAreHidden) {
    EXPECT_EQ(QtDialogs::nameFilters(kConfigFilter),
              (QStringList{"K350 конфигурация (*.kcf) (*.kcf)", "все файлы (*)"}));
    EXPECT_EQ(QtDialogs::nameFilters("Образы|*.rom;*.bin"), QStringList{"Образы (*.rom *.bin)"});
    EXPECT_EQ(QtDialogs::nameFilters("A (*.a);;B (*)"), (QStringList{"A (*.a)", "B (*)"}));
}
