#include "monitor/ReportHistory.h"

#include "monitor/StatisticsFormat.h"

QDateTime StatisticsReport::arrival() const {
    return QDateTime::fromMSecsSinceEpoch(arrivalMs, Qt::OffsetFromUTC, utcOffsetS);
}

ReportHistory::ReportHistory(std::size_t capacity)
    : capacity_(capacity < 1 ? 1 : capacity), now_([] { return QDateTime::currentDateTime(); }) {}

void ReportHistory::append(const std::uint8_t* record) {
    StatisticsReport report;
    const QDateTime arrival = now_();
    report.arrivalMs = arrival.toMSecsSinceEpoch();
    report.utcOffsetS = arrival.offsetFromUtc();
    for (int index = 0; index < StatisticsReport::kWordCount; ++index) {
        report.words[index] = StatisticsFormat::WordAt(record, index);
    }
    using namespace StatisticsSeries;
    report.shown[RxdErrFract] = StatisticsFormat::PercentageValue(report.words[StatisticsWord::LinkErroneousFraction]);
    report.shown[RxvLostFract] = StatisticsFormat::PercentageValue(report.words[StatisticsWord::AudioLostFraction]);
    report.shown[Jitter] = StatisticsFormat::MillisecondsValue(report.words[StatisticsWord::AudioJitter]);
    report.shown[Load] = StatisticsFormat::LoadValue(report.words[StatisticsWord::ProcessorLoad]);
    report.afterReset = startsAfterReset(report.words[StatisticsWord::CollectionTime]);
    if (report.afterReset) resetAsked_ = false;

    if (reports_.size() >= capacity_) reports_.pop_front();
    reports_.push_back(report);
    ++revision_;
}

// The collection time goes back only when the counters start again: after the
// reset button, a reset by someone else, or a restart of the board. A reset
// asked for here shows as a report that starts from zero, even as the first.
bool ReportHistory::startsAfterReset(std::uint32_t collectionTime) const {
    if (!reports_.empty() && collectionTime < reports_.back().words[StatisticsWord::CollectionTime]) {
        return true;
    }
    return resetAsked_ && collectionTime == 0;
}

void ReportHistory::clear() {
    reports_.clear();
    resetAsked_ = false;
    ++revision_;
}
