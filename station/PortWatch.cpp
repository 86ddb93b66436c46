#include "station/PortWatch.h"

#include <algorithm>

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

    std::vector<PortAlert> raised;
    std::map<std::string, bool> suspect;
    for (const PortAlert& alert : SuspectPorts(recent_, rule_)) {
        suspect[alert.port] = true;
        if (!flagged_[alert.port]) raised.push_back(alert);
    }
    flagged_ = suspect;
    return raised;
}
