// A port going bad: its recent boards fail while the other ports of the same station pass. The
// boards are then not to blame; the port, its cable, hub or test fixture is. The rule the station
// watches by and the report names ports by.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

// When a port counts as going bad: `failures` of its last `of` boards failed. 0 failures: never.
struct AlertRule {
    int failures = 3, of = 5;
};

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
