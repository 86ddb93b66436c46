// Qt's own texts in Russian: the question boxes answer "Да" and "Нет", the
// file dialogs and the MDI system menu speak Russian, whatever the locale.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "shell/QtTranslation.h"
#include "ui/Dialogs.h"

namespace {

class QtTranslation : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(InstallQtRussianTranslation(*qApp)); }
};

TEST_F(QtTranslation, QuestionBoxHasExactlyYesAndNoInRussian) {
    std::unique_ptr<QMessageBox> box(MakeQuestionBox(nullptr, "Сохранить изменения?"));
    const QList<QAbstractButton*> buttons = box->buttons();
    ASSERT_EQ(buttons.size(), 2);
    ASSERT_NE(box->button(QMessageBox::Yes), nullptr);
    ASSERT_NE(box->button(QMessageBox::No), nullptr);
    EXPECT_EQ(box->button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(box->button(QMessageBox::No)->text().remove('&'), "Нет");
    EXPECT_EQ(box->text(), "Сохранить изменения?");
}

TEST_F(QtTranslation, FileDialogAndWindowMenuTextsAreRussian) {
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open").remove('&'), "Открыть");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:").remove('&'), "Имя файла:");
    EXPECT_NE(QCoreApplication::translate("QMdiSubWindow", "&Close"), "&Close");
    EXPECT_NE(QCoreApplication::translate("QMdiSubWindow", "Mi&nimize"), "Mi&nimize");
}

}  // namespace
