// The windows' way into the shared atomic file write: a path and bytes as Qt
// holds them, and the save flow of the windows that export what they show.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <functional>

#include "config/PosixFile.h"
#include "ui/Dialogs.h"

// True when the file now holds exactly `bytes`; otherwise the old file is as it was.
inline bool SaveBytesAtomically(const QString& path, const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return WriteFileAtomically(QFile::encodeName(path).toStdString(), data,
                               std::size_t(bytes.size())) == AtomicWriteResult::Ok;
}

// Asks where to save (a filter as Dialogs::saveFile takes it; a name typed
// without an extension gets defaultSuffix), writes the bytes there whole or not
// at all, and shows the window's own failure text for the path when it could
// not. The bytes are made only once a path is chosen.
inline void SaveThroughDialog(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                              const std::function<QByteArray()>& bytes,
                              const std::function<QString(const QString& path)>& failureText) {
    const QString path = WithDefaultSuffix(AppDialogs().saveFile(parent, filter), defaultSuffix);
    if (path.isEmpty()) return;
    if (!SaveBytesAtomically(path, bytes())) AppDialogs().message(parent, failureText(path));
}
