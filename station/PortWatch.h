// The station's watch for a port going bad, fed as its boards end.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "station/StationJob.h"
#include "store/PortAlertRule.h"

// The station's watch over its ports: fed each board's steps and end as they happen, it raises
// an alert once when a port turns suspect, and again only after the port recovered.
class PortWatch {
public:
    explicit PortWatch(AlertRule rule) : rule_(rule) {}
    // Before any event: the ports' last verdicts as the store keeps them, so that a restarted
    // station or a new batch goes on counting where the last one stopped. The alerts of the ports
    // already suspect by them, each raised here once.
    std::vector<PortAlert> remember(RecentVerdicts recent);
    // The alerts this event raises.
    std::vector<PortAlert> record(const StationEvent& event);

private:
    std::vector<PortAlert> judge();

    AlertRule rule_;
    RecentVerdicts recent_;
    std::map<std::string, std::string> failedStep_;  // of the board at the port now
    std::map<std::string, bool> flagged_;
};

// The last verdicts of the station's ports in the store at `location`, as many as the rule looks
// at; none when the rule is off. Throws StoreError.
RecentVerdicts RememberedVerdicts(const std::string& location, const std::string& station,
                                  const AlertRule& rule);
