#include "station/PortWatch.h"

#include <algorithm>

#include "store/ReportQueries.h"
#include "store/SqlRunStore.h"

std::vector<PortAlert> PortWatch::remember(RecentVerdicts recent) {
    for (auto& [port, verdicts] : recent) {
        verdicts.resize(std::min(verdicts.size(), std::size_t(std::max(rule_.of, 1))));
    }
    recent_ = std::move(recent);
    return judge();
}

std::vector<PortAlert> PortWatch::record(const StationEvent& event) {
    if (event.step != "board") {
        if (event.state == "failed") failedStep_[event.port] = event.step;
        return {};
    }
    const bool passed = event.state == "passed";
    if (!passed && event.state != "failed" && event.state != "unusable") return {};
    auto& verdicts = recent_[event.port];
    verdicts.push_front({passed, passed ? std::string() : failedStep_[event.port]});
    if (verdicts.size() > std::size_t(std::max(rule_.of, 1))) verdicts.pop_back();
    failedStep_.erase(event.port);
    return judge();
}

// The ports that turned suspect since the last look.
std::vector<PortAlert> PortWatch::judge() {
    std::vector<PortAlert> raised;
    std::map<std::string, bool> suspect;
    for (const PortAlert& alert : SuspectPorts(recent_, rule_)) {
        suspect[alert.port] = true;
        if (!flagged_[alert.port]) raised.push_back(alert);
    }
    flagged_ = suspect;
    return raised;
}

RecentVerdicts RememberedVerdicts(const std::string& location, const std::string& station,
                                  const AlertRule& rule) {
    if (rule.failures <= 0 || rule.of <= 0) return {};
    const auto store = OpenSqlRunStore(location, StoreAccess::Read);
    return StationVerdicts(store->connection(), station, rule.of);
}
