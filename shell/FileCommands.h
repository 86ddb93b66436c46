// The commands of the menus "Файл" and "Задачи": configuration files and the
// board transfers, which only open their progress windows.
#pragma once

#include <QString>

class TFDevice;

class FileCommands {
public:
    explicit FileCommands(TFDevice& main) : main_(main) {}

    void open();
    void save();
    void saveAs();
    // The file gets the refreshed CRC word; the main window's configuration
    // takes it too once the file exists. A write that fails after creation is
    // reported like a failed creation. False when the file was not written.
    bool saveToFile(const QString& name);
    void readDevice();
    void writeDevice();

private:
    TFDevice& main_;
};
