// The station's watch for a port going bad, fed as its boards end.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "station/StationJob.h"
#include "store/SuspectPorts.h"

// The station's watch over its ports: fed each board's steps and end as they happen, it raises
// an alert once when a port turns suspect, and again only after the port recovered.
class PortWatch {
public:
    explicit PortWatch(AlertRule rule) : rule_(rule) {}
    // The alerts this event raises.
    std::vector<PortAlert> record(const StationEvent& event);

private:
    AlertRule rule_;
    RecentVerdicts recent_;
    std::map<std::string, std::string> failedStep_;  // of the board at the port now
    std::map<std::string, bool> flagged_;
};
