#include "shell/ShellWindow.h"

#include <QTime>

QString LogPrefix() {
    return QTime::currentTime().toString("HH:mm:ss") + "-> ";
}
