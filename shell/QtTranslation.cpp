#include "shell/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallQtRussianTranslation(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_ru"), directory)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
