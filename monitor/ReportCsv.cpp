#include "monitor/ReportCsv.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "config/PosixFile.h"
#include "monitor/ReportHistory.h"
#include "monitor/StatisticsFormat.h"

namespace ReportCsv {
namespace {

const char* const kHeader =
    "time,reset,sTime,sTxd,sTxdBytes,sRxd,sRxdBytes,sRxdErr,sRxdErrFract,sTxv,sTxvBytes,"
    "sTxvLost,sRxv,sRxvBytes,sRxvLost,sRxvLostFract,sJitter,sLoad,sFreq,"
    "sRxdErrFract %,sRxvLostFract %,sJitter ms,sLoad %";

// Decimals of each derived value, in StatisticsSeries order.
constexpr int kShownDecimals[StatisticsSeries::kCount] = {
    StatisticsFormat::kPercentageDecimals, StatisticsFormat::kPercentageDecimals,
    StatisticsFormat::kMillisecondsDecimals, StatisticsFormat::kLoadDecimals};

void appendRow(QByteArray& csv, const StatisticsReport& report) {
    csv += report.arrival().toString(Qt::ISODateWithMs).toLatin1();
    csv += report.afterReset ? ",1" : ",0";
    for (std::uint32_t word : report.words) {
        csv += ',';
        csv += QByteArray::number(word);
    }
    for (int series = 0; series < StatisticsSeries::kCount; ++series) {
        csv += ',';
        csv += QByteArray::number(report.shown[series], 'f', kShownDecimals[series]);
    }
    csv += "\r\n";
}

// A temporary file beside the target, renamed over it once complete and on
// disk: a failed or interrupted save never leaves a half-written file.
bool writeAtomically(const QByteArray& path, const QByteArray& bytes, QString* reason) {
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary =
            path + ".tmp-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    FileDescriptor file(fd);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    bool written = WriteFully(file.get(), data, std::size_t(bytes.size()));
    written = written && ::fsync(file.get()) == 0;
    written = file.Close() && written;
    written = written && ::rename(temporary.constData(), path.constData()) == 0;
    if (!written) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
    }
    return written;
}

}  // namespace

QByteArray toCsv(const ReportHistory& history) {
    QByteArray csv(kHeader);
    csv += "\r\n";
    csv.reserve(csv.size() + qsizetype(history.size()) * 200);
    for (std::size_t index = 0; index < history.size(); ++index) appendRow(csv, history[index]);
    return csv;
}

bool save(const ReportHistory& history, const QString& path, QString* reason) {
    return writeAtomically(QFile::encodeName(path), toCsv(history), reason);
}

}  // namespace ReportCsv
