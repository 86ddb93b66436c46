// The windows' way into the shared atomic file write: a path and bytes as Qt
// holds them.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

#include "config/PosixFile.h"

// True when the file now holds exactly `bytes`; otherwise the old file is as it was.
inline bool SaveBytesAtomically(const QString& path, const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return WriteFileAtomically(QFile::encodeName(path).toStdString(), data,
                               std::size_t(bytes.size())) == AtomicWriteResult::Ok;
}
