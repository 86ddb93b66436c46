// Preloaded into the shipped k350-terminal by the real-stack tests: it clicks "Прочитать" as many
// times as K350_DRIVE_READS says, answers the question before a read discards a configuration,
// closes the progress window a read leaves, waits for each read to end in the log, then prints
// the log and ends the program.
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kStepMs = 20;

struct Drive {
    int readsLeft = 1;
    bool waiting = false;
    int settleTicks = 0;
    qsizetype seen = 0;  // log length already looked at
};

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "FDevice") return widget;
    }
    return nullptr;
}

bool endsARead(const QString& text) {
    return text.contains("Процесс чтения конфигурации завершен") || text.contains("Error:") ||
           text.contains("не обнаружен") || text.contains("не доступн");
}

void answerQuestions() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        yes->click();
    } else {
        box->accept();
    }
}

void finish(const QString& log) {
    std::fputs(log.toUtf8().constData(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

void step(Drive* drive) {
    // Armed first: a click may open a question whose own event loop runs the next step.
    QTimer::singleShot(kStepMs, [drive] { step(drive); });
    answerQuestions();
    QWidget* window = mainWindow();
    auto* log = window ? window->findChild<QPlainTextEdit*>("Log") : nullptr;
    auto* read = window ? window->findChild<QAction*>("MTaskGet") : nullptr;
    if (log && read) {
        const QString text = log->toPlainText();
        auto* area = window->findChild<QMdiArea*>();
        if (!drive->waiting && area && !area->subWindowList().isEmpty()) {
            area->closeAllSubWindows();  // the last read's progress window, as a user closes it
        } else if (!drive->waiting) {
            drive->seen = text.size();
            drive->waiting = true;
            read->trigger();
        } else if (drive->settleTicks > 0) {
            // A failure may add a line of its own right after: let it come.
            if (--drive->settleTicks == 0) {
                drive->waiting = false;
                if (--drive->readsLeft == 0) finish(log->toPlainText());
            }
        } else if (endsARead(text.mid(drive->seen))) {
            drive->settleTicks = 10;
        }
    }
}

void startDriving() {
    auto* drive = new Drive;
    if (const char* reads = std::getenv("K350_DRIVE_READS")) drive->readsLeft = std::atoi(reads);
    if (drive->readsLeft < 1) drive->readsLeft = 1;
    QTimer::singleShot(kStepMs, [drive] { step(drive); });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriving)
