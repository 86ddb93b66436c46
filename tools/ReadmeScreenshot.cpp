// Makes the README's screenshot: the terminal on the simulated board, the
// configuration read, a few task windows open, rendered offscreen to a PNG.
// Usage: k350-screenshot <output.png>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>

#include "link/Clock.h"
#include "shell/DeviceForm.h"

namespace {

void activate(TFDevice& window, const QString& caption) {
    const auto found = window.tree()->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) return;
    window.tree()->setCurrentItem(found.first());
    window.activateSelectedNode();
}

// Runs what the windows asked of the worker, on this thread.
void runWorker(TFDevice& window) {
    while (window.worker().runOnePass()) QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "screenshot.png";

    SystemClock clock;
    TFDevice window(TFDevice::Options{false, &clock});
    window.resize(1180, 760);
    window.show();
    window.MTaskGetClick();
    runWorker(window);
    for (const char* caption : {"Информация", "Регистратор", "Кодек"}) {
        activate(window, QString::fromUtf8(caption));
        runWorker(window);
    }
    window.clientArea()->tileSubWindows();
    window.tree()->expandAll();
    QApplication::processEvents();
    if (!window.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
