// The trace window's log as text: selection, copying, the context menu, saving
// and what screen readers get.
#include "tests/support/TraceFormFixture.h"

namespace {

using TraceLogTest = TraceFormTest;

// --- the log as text -------------------------------------------------------------

const TraceLines kThreeLines = {"10:15:02 Bus+(RxD): 0x7E; 0x01; ", "10:15:02 Link(TxD): 0x00; ",
                                "10:15:03 Канал 0xAA; "};

TEST_F(TraceLogTest, MouseSelectsAcrossLinesAndCtrlCCopiesExactlyThat) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QWidget* view = log->viewport();
    const QPoint inLine = QPoint(1, log->fontMetrics().height() / 2);
    QTest::mousePress(view, Qt::LeftButton, {}, log->pointOf({1, 9}) + inLine);
    QTest::mouseMove(view, log->pointOf({2, 4}) + inLine);
    QTest::mouseMove(view, log->pointOf({3, 5}) + inLine);
    QTest::mouseRelease(view, Qt::LeftButton, {}, log->pointOf({3, 5}) + inLine);
    const QString expected = "Bus+(RxD): 0x7E; 0x01; \n10:15:02 Link(TxD): 0x00; \n10:15";
    EXPECT_EQ(log->selectedText(), expected);
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), expected);

    // Shift extends the selection from where it started.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, log->pointOf({1, 18}) + inLine);
    EXPECT_EQ(log->selectedText(), "Bus+(RxD)");
    EXPECT_EQ(log->lineCount(), 4u);  // selecting changes no line
}

TEST_F(TraceLogTest, ContextMenuCopiesSelectsAllAndSaves) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        QMenu* menu = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* shownMenu = qobject_cast<QMenu*>(top); shownMenu && shownMenu->isVisible())
                menu = shownMenu;
        }
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            shown << (action->isSeparator() ? "—" : action->text());
        }
        menu->close();
    });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              log->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(log->viewport(), &request);
    EXPECT_EQ(shown, QStringList({"Копировать", "Выделить все", "—", "Сохранить в файл…",
                                  "Записывать в файл…"}));
    EXPECT_FALSE(log->copyAction()->isEnabled());  // nothing selected yet

    // The whole log copies as it saves: without the empty line the log opens with.
    log->selectAllAction()->trigger();
    log->copyAction()->trigger();
    const QString all = QString::fromUtf8(kThreeLines[0]) + "\n" +
                        QString::fromUtf8(kThreeLines[1]) + "\n" +
                        QString::fromUtf8(kThreeLines[2]) + "\n";
    EXPECT_EQ(QApplication::clipboard()->text(), all);
    EXPECT_EQ(QApplication::clipboard()->text().toUtf8(), log->savedText());
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), all);
}

TEST_F(TraceLogTest, SavingWritesEveryLineAsUtf8OneLinePerTraceLine) {
    deliverLines(kThreeLines);
    FakeDialogs dialogs;
    QTemporaryDir folder;
    const QString path = folder.filePath("trace.txt");
    dialogs.saveAnswers.push_back(path);
    form_.log()->saveAction()->trigger();
    ASSERT_EQ(dialogs.saveFilters.size(), 1);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const std::string expected =
        kThreeLines[0] + "\n" + kThreeLines[1] + "\n" + kThreeLines[2] + "\n";
    EXPECT_EQ(saved.readAll().toStdString(), expected);  // no empty line first
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // A name typed without an extension gets ".txt"; one with an extension keeps it.
    dialogs.saveAnswers.push_back(folder.filePath("bench"));
    dialogs.saveAnswers.push_back(folder.filePath("bench.log"));
    form_.log()->saveAction()->trigger();
    form_.log()->saveAction()->trigger();
    EXPECT_TRUE(QFile::exists(folder.filePath("bench.txt")));
    EXPECT_TRUE(QFile::exists(folder.filePath("bench.log")));
    EXPECT_FALSE(QFile::exists(folder.filePath("bench")));
    QFile::remove(folder.filePath("bench.txt"));
    QFile::remove(folder.filePath("bench.log"));

    // A file that cannot be written is said so; cancelling writes nothing.
    dialogs.saveAnswers.push_back(folder.filePath("missing/trace.txt"));
    form_.log()->saveAction()->trigger();
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_FALSE(QFile::exists(folder.filePath("missing/trace.txt")));
    form_.log()->saveAction()->trigger();
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"trace.txt"});
}

TEST_F(TraceLogTest, ScreenReadersGetTheTextAndTheSelection) {
    deliverLines(kThreeLines);
    TraceLog* log = form_.log();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(log);
    ASSERT_NE(accessible, nullptr);
    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(accessible->state().readOnly);
    EXPECT_TRUE(accessible->state().multiLine);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Трассировка");
    const QString all = "\n" + QString::fromUtf8(kThreeLines[0]) + "\n" +
                        QString::fromUtf8(kThreeLines[1]) + "\n" +
                        QString::fromUtf8(kThreeLines[2]) + "\n";
    EXPECT_EQ(text->characterCount(), all.size());
    EXPECT_EQ(text->text(0, text->characterCount()), all);
    EXPECT_EQ(accessible->text(QAccessible::Value), all);
    EXPECT_EQ(text->text(1, 9), "10:15:02");

    text->setSelection(0, 10, 19);
    EXPECT_EQ(log->selectedText(), "Bus+(RxD)");
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 19);
    EXPECT_EQ(text->selectionCount(), 1);
}

// --- the bounded log -------------------------------------------------------------

TraceLines numberedLines(int from, int count) {
    TraceLines lines;
    for (int i = from; i < from + count; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
}

TEST_F(TraceLogTest, OldestLinesGoFirstAndOneRowSaysHowManyWent) {
    TraceLog* log = form_.log();
    log->setLineLimit(5);
    deliverLines(numberedLines(0, 8));  // with the opening empty line, nine: four go
    ASSERT_EQ(log->lineCount(), 6u);
    EXPECT_EQ(log->droppedLines(), 4u);
    EXPECT_TRUE(log->line(0).contains("Удалено старых строк: 4")) << log->line(0).toStdString();
    EXPECT_EQ(log->line(1), "line 3");
    EXPECT_EQ(log->line(5), "line 7");

    deliverLines(numberedLines(8, 3));
    EXPECT_EQ(log->lineCount(), 6u);
    EXPECT_TRUE(log->line(0).contains("Удалено старых строк: 7"));
    EXPECT_EQ(log->line(1), "line 6");
    // Saved and read aloud as shown; the offsets follow the rows that stayed.
    EXPECT_TRUE(log->savedText().startsWith(log->line(0).toUtf8() + "\nline 6\n"));
    EXPECT_TRUE(log->savedText().endsWith("line 10\n"));
    EXPECT_EQ(log->textBetween(log->offsetOf({2, 0}), log->offsetOf({3, 0})), "line 7\n");
    EXPECT_EQ(log->positionAt(log->offsetOf({4, 3})), (TraceLog::Position{4, 3}));
}

TEST_F(TraceLogTest, SelectionAndViewStayOnTheirLinesWhileTheOldestGo) {
    TraceLog* log = form_.log();
    log->setLineLimit(400);
    deliverLines(numberedLines(0, 400));
    log->select({200, 0}, {200, 8});
    EXPECT_EQ(log->selectedText(), "line 199");
    log->scrollToLine(150);
    const QString shownFirst = log->line(std::size_t(log->verticalScrollBar()->value()));
    deliverLines(numberedLines(400, 10));
    EXPECT_EQ(log->selectedText(), "line 199");
    EXPECT_EQ(log->line(std::size_t(log->verticalScrollBar()->value())), shownFirst);

    // A selection whose lines went is gone too, and nothing breaks on it.
    deliverLines(numberedLines(410, 400));
    EXPECT_FALSE(log->selectedText().contains("199"));
    EXPECT_EQ(log->lineCount(), 401u);
}

TEST_F(TraceLogTest, MemoryOfTheTextStaysBoundedByTheLimit) {
    TraceLog* log = form_.log();
    log->setLineLimit(1000);
    for (int batch = 0; batch < 200; ++batch) deliverLines(numberedLines(batch * 100, 100));
    EXPECT_EQ(log->lineCount(), 1001u);
    EXPECT_LT(log->textBytes(), 1000u * 16);
    EXPECT_EQ(log->line(1000), "line 19999");
}

}  // namespace
