// The reports TFReport has shown while it is open: time of arrival and the
// seventeen words, in arrival order, bounded so that a working day fits.
#pragma once

#include <QDateTime>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include "link/StatisticsRules.h"

namespace StatisticsSeries {
// The derived values that can be followed over time.
enum Id { RxdErrFract, RxvLostFract, Jitter, Load, kCount };
}  // namespace StatisticsSeries

struct StatisticsReport {
    static constexpr int kWordCount = StatisticsWord::Count;

    std::int64_t arrivalMs = 0;   // since the epoch, UTC
    std::int32_t utcOffsetS = 0;  // of the local time at arrival
    bool afterReset = false;      // the first report after the counters were reset
    std::array<std::uint32_t, kWordCount> words{};
    // The series values as the window shows them (StatisticsSeries order).
    std::array<double, StatisticsSeries::kCount> shown{};

    QDateTime arrival() const;
};

class ReportHistory {
public:
    // Eight hours at one report per second.
    static constexpr std::size_t kDefaultCapacity = 8 * 60 * 60;
    using TimeSource = std::function<QDateTime()>;

    explicit ReportHistory(std::size_t capacity = kDefaultCapacity);

    // Keeps a 68-byte big-endian statistics record, arrived now; drops the
    // oldest report when the history is full.
    void append(const std::uint8_t* record);
    // The user asked for a reset: the next report that starts from zero is marked.
    void noteResetAsked() { resetAsked_ = true; }
    void clear();

    std::size_t size() const { return reports_.size(); }
    bool empty() const { return reports_.empty(); }
    std::size_t capacity() const { return capacity_; }
    const StatisticsReport& operator[](std::size_t index) const { return reports_[index]; }
    const StatisticsReport& back() const { return reports_.back(); }
    // Changes with every append and clear: tells a view whether anything
    // changed since it last looked.
    std::uint64_t revision() const { return revision_; }

    // Where the time of arrival comes from (the wall clock unless a test says otherwise).
    void setTimeSource(TimeSource source) { now_ = std::move(source); }

private:
    bool startsAfterReset(std::uint32_t collectionTime) const;

    std::size_t capacity_;
    std::deque<StatisticsReport> reports_;
    TimeSource now_;
    bool resetAsked_ = false;
    std::uint64_t revision_ = 0;
};
