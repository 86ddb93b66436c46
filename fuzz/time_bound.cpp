// The times `history` and `report` take (--since, --until), in a zone whose clocks skip and
// repeat an hour: what is taken is a span that starts before it ends, reads back from the store's
// UTC text to the same instant (in the years that text holds) and keeps its order as text, and
// two of them make a period that starts before it ends.
#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "fuzz/FuzzSupport.h"
#include "report/ReportPeriod.h"
#include "report/TimeBound.h"

namespace {

void CheckBound(const std::string& text) {
    const auto span = ParseTimeBound(text);
    if (!span) return;
    FUZZ_REQUIRE(span->first < span->after, "a bound starts before it ends");
    const auto utc = ParseTimeBound(UtcText(span->first));
    FUZZ_REQUIRE(utc, "the store's text of a bound is a bound");
    FUZZ_REQUIRE(utc->first == std::clamp(span->first, kFirstUtcInstant, kLastUtcInstant),
                 "the store's text of a bound reads back");
    FUZZ_REQUIRE(UtcText(span->first) <= UtcText(span->after),
                 "the store's texts are in the order of their instants");
}

void CheckPeriod(const std::string& since, const std::string& until) {
    // A fixed now: 2026-12-09T12:00:00Z.
    const std::time_t now = 1796817600;
    const auto period = ParseReportPeriod(since, until, now);
    if (!period) return;
    // An open side is the first or last instant the store's text holds.
    FUZZ_REQUIRE(period->since <= period->until, "a period starts before it ends");
    FUZZ_REQUIRE(period->since < period->until || UtcText(kFirstUtcInstant) == period->since ||
                     UtcText(kLastUtcInstant) == period->until,
                 "a period within the store's years is never empty");
    FUZZ_REQUIRE(!period->text.empty(), "a period is told to the reader");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool zoned = [] {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        return true;
    }();
    (void)zoned;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\n');
    const std::string since = text.substr(0, split);
    const std::string until = split == std::string::npos ? "" : text.substr(split + 1);
    CheckBound(since);
    CheckBound(until);
    CheckPeriod(since, until);
    return 0;
}
