// A port going bad: its recent boards fail while the other ports of the same station pass. The
// boards are then not to blame; the port, its cable, hub or test fixture is.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "cli/station/StationJob.h"

// One board's verdict at a port.
struct PortVerdict {
    bool passed = false;
    std::string failedStep;
};

struct PortAlert {
    std::string port;
    std::string step;  // the step most of its failures stopped at
    int failed = 0, of = 0;
};

// Each port's verdicts, the most recent first, of one station.
using RecentVerdicts = std::map<std::string, std::deque<PortVerdict>>;

// The ports of one station that fail at least rule.failures of their last rule.of boards while
// another port of the station passes (fewer failures than that, at least one pass). A station
// of one port, or one whose ports all fail, flags none: the cause is then not one port.
std::vector<PortAlert> SuspectPorts(const RecentVerdicts& recent, const AlertRule& rule);

// What the operator is told about a suspect port.
std::string AlertMessage(const PortAlert& alert);

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
