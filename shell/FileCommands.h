// The commands of the menus "Файл" and "Задачи": configuration files and the
// board transfers, which only open their progress windows.
#pragma once

#include <QString>

class ConfigDocument;
class ShellWindow;

class FileCommands {
public:
    FileCommands(ShellWindow& window, ConfigDocument& document)
        : window_(window), document_(document) {}

    void open();
    void save();
    void saveAs();
    // The file gets the refreshed CRC word; the document takes it too once the
    // file exists. A write that fails after creation is
    // reported like a failed creation. False when the file was not written.
    bool saveToFile(const QString& name);
    void readDevice();
    void writeDevice();

private:
    ShellWindow& window_;
    ConfigDocument& document_;
};
