#include "store/PortAlertRule.h"

#include <algorithm>

namespace {

struct Window {
    int failed = 0, passed = 0;
};

Window WindowOf(const std::deque<PortVerdict>& verdicts, int of) {
    Window window;
    for (std::size_t i = 0; i < verdicts.size() && int(i) < of; ++i) {
        ++(verdicts[i].passed ? window.passed : window.failed);
    }
    return window;
}

// The step most of the failures in the window stopped at; of equal counts, the latest.
std::string CommonStep(const std::deque<PortVerdict>& verdicts, int of) {
    std::map<std::string, int> counts;
    std::string common;
    int most = 0;
    const std::size_t end = std::min(verdicts.size(), std::size_t(of));
    for (std::size_t i = end; i-- > 0;) {  // oldest first, so the latest wins a tie
        if (verdicts[i].passed) continue;
        const int count = ++counts[verdicts[i].failedStep];
        if (count >= most) {
            most = count;
            common = verdicts[i].failedStep;
        }
    }
    return common;
}

}  // namespace

std::vector<PortAlert> SuspectPorts(const RecentVerdicts& recent, const AlertRule& rule) {
    std::vector<PortAlert> suspects;
    if (rule.failures <= 0 || rule.of <= 0) return suspects;
    std::vector<std::string> healthy;
    for (const auto& [port, verdicts] : recent) {
        const Window window = WindowOf(verdicts, rule.of);
        if (window.failed >= rule.failures) {
            suspects.push_back({port, CommonStep(verdicts, rule.of), window.failed,
                                window.failed + window.passed});
        } else if (window.passed > 0) {
            healthy.push_back(port);
        }
    }
    if (healthy.empty()) suspects.clear();
    return suspects;
}

std::string AlertMessage(const PortAlert& alert) {
    return "port " + alert.port + ": " + std::to_string(alert.failed) + " of its last " +
           std::to_string(alert.of) + " boards failed" +
           (alert.step.empty() ? std::string() : " (at " + alert.step + ")") +
           " while the other ports pass: check the port, its cable, hub or fixture; the boards "
           "are not to blame";
}
