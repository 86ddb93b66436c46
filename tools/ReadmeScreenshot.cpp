// Makes the README's screenshot and pictures of every window: the terminal on
// the simulated board, the configuration read, rendered offscreen to PNGs.
// Usage: k350-screenshot <output.png>            the README's picture
//        k350-screenshot --windows <folder>      one picture per window, and the main
//                                                window with the whole tree
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>

#include "config/Clock.h"
#include "shell/DeviceForm.h"
#include "shell/QtTranslation.h"
#include "tools/ScreenshotSupport.h"
#include "transfer/ReadForm.h"
#include "ui/Dialogs.h"
#include "ui/WindowRegistry.h"

namespace {

bool save(QWidget* widget, const QString& path) {
    QApplication::processEvents();
    if (widget->grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

int readmePicture(const QString& output) {
    SystemClock clock;
    TFDevice window(TFDevice::Options{false, &clock});
    showWithConfigurationRead(window);
    for (const char* caption : {"Информация", "Регистратор", "Кодек"}) {
        activate(window, QString::fromUtf8(caption));
        runWorker(window);
    }
    window.clientArea()->tileSubWindows();
    window.tree()->expandAll();
    return save(&window, output) ? 0 : 1;
}

// The firmware window asks for an image file: it gets a small one.
class ImageFileDialogs : public QtDialogs {
public:
    explicit ImageFileDialogs(QString image) : image_(std::move(image)) {}
    QString openFile(QWidget*, const QString&, const QString&) override { return image_; }

private:
    QString image_;
};

struct Shot {
    const char* caption;  // the tree node that opens it; empty for the read window
    const char* file;
};
constexpr Shot kShots[] = {
    {"", "read"},
    {"Записать", "write"},
    {"Загрузка ПО", "firmware"},
    {"Статистика", "statistics"},
    {"Кодек", "codec"},
    {"Вокодер", "vocoder"},
    {"Регистратор", "recorder"},
    {"Усилитель НЧ", "amplifier"},
    {"Информация", "information"},
    {"Board Info", "board-info"},
    {"Trace", "trace"},
    {"UART", "uart"},
};

int windowPictures(const QString& folder) {
    QDir().mkpath(folder);
    const QString image = QDir(folder).filePath("firmware.rom.tmp");
    QFile imageFile(image);
    if (!imageFile.open(QIODevice::WriteOnly) || imageFile.write(QByteArray(4096, '\xFF')) < 0)
        return 1;
    imageFile.close();
    ImageFileDialogs dialogs(image);
    SetAppDialogs(&dialogs);

    SystemClock clock;
    TFDevice window(TFDevice::Options{false, &clock});
    showWithConfigurationRead(window);
    window.setServiceLevel(ServiceLevel::FullService);
    window.tree()->expandAll();
    bool saved = save(&window, QDir(folder).filePath("main.png"));
    for (const Shot& shot : kShots) {
        window.closeAllTaskWindows();
        QApplication::processEvents();
        if (*shot.caption) {
            activate(window, QString::fromUtf8(shot.caption));
        } else {
            window.showTaskWindow(new TFRead);
        }
        // The firmware download would wait for the flash in real time: its window shows the start.
        if (QString(shot.file) != "firmware") runWorker(window);
        QMdiSubWindow* frame = window.clientArea()->activeSubWindow();
        if (!frame && !window.clientArea()->subWindowList().isEmpty())
            frame = window.clientArea()->subWindowList().last();
        if (frame) saved = save(frame, QDir(folder).filePath(QString(shot.file) + ".png")) && saved;
    }
    window.closeAllTaskWindows();
    SetAppDialogs(nullptr);
    QFile::remove(image);
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallQtRussianTranslation(app);
    const QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.size() == 2 && arguments[0] == "--windows") return windowPictures(arguments[1]);
    return readmePicture(arguments.isEmpty() ? "screenshot.png" : arguments[0]);
}
