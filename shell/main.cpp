// The service terminal: one main window over the worker that owns the USB link.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "shell/DeviceForm.h"
#include "shell/QtTranslation.h"

namespace {
int runTerminal() {
    try {
        TFDevice mainWindow;
        mainWindow.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), error.what());
    } catch (...) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString());
    }
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName("Терминал контроллеров К-350");
        InstallQtRussianTranslation(app);
        status = runTerminal();
    }
    // A worker still inside a transfer must not meet the process's static
    // objects while they are destroyed: end without running their destructors.
    if (TFDevice::workerLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
