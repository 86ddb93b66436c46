// The service terminal: one main window over the worker that owns the USB link.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "shell/DeviceForm.h"
#include "shell/QtTranslation.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Терминал контроллеров К-350");
    InstallQtRussianTranslation(app);
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
