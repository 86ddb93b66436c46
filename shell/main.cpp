// The service terminal: one main window over the worker that owns the USB link.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "shell/DeviceForm.h"
#include "shell/QtTranslation.h"

namespace {

// Started over SSH or from a text console, Qt would abort with advice to
// reinstall the program; the user needs to hear what is missing instead.
constexpr int kNoDisplayStatus = 1;

std::string programName;

std::string baseName(const char* path) {
    if (!path || !*path) return "k350-terminal";
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

[[noreturn]] void exitWithoutDisplay(const std::string& problem) {
    std::fprintf(stderr,
                 "%s: %s\n"
                 "The terminal is a desktop program: start it in the graphical session of the "
                 "machine the board is plugged into, or over SSH with X forwarding (ssh -X).\n"
                 "Without a display, k350ctl does the same board operations from the command "
                 "line (k350ctl --help).\n",
                 programName.c_str(), problem.c_str());
    std::fflush(stderr);
    std::_Exit(kNoDisplayStatus);
}

// A platform given by QT_QPA_PLATFORM or -platform (offscreen, vnc, eglfs...)
// may need no display at all: Qt then decides.
bool platformChosen(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

void requireDisplay(int argc, char** argv) {
    if (platformChosen(argc, argv)) return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    exitWithoutDisplay("no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).");
}

// A display that is named but cannot be opened (an SSH session's stale
// DISPLAY, a stopped X server) ends in Qt's fatal message; Qt has already
// printed why, so only the advice replaces its own.
QtMessageHandler qtMessageHandler = nullptr;

void reportPlatformFailure(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg && message.contains("platform plugin")) {
        const QByteArray display = qgetenv("DISPLAY");
        exitWithoutDisplay(display.isEmpty()
                               ? std::string("the display could not be opened.")
                               : "the display \"" + display.toStdString() +
                                     "\" could not be opened (see the messages above).");
    }
    if (qtMessageHandler) qtMessageHandler(type, context, message);
}

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
    programName = baseName(argc > 0 ? argv[0] : nullptr);
    requireDisplay(argc, argv);
    int status = 0;
    {
        qtMessageHandler = qInstallMessageHandler(reportPlatformFailure);
        QApplication app(argc, argv);
        qInstallMessageHandler(qtMessageHandler);
        QApplication::setApplicationName("Терминал контроллеров К-350");
        InstallQtRussianTranslation(app);
        status = runTerminal();
    }
    // A worker still inside a transfer must not meet the process's static
    // objects while they are destroyed: end without running their destructors.
    if (WorkerSession::workerLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
