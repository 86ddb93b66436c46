#include "serve/LiveLine.h"

#include <algorithm>

namespace {

using Json = nlohmann::ordered_json;

Json Figure(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json BenchFiguresJson(const GroupFigures& group) {
    const RunCounts& counts = group.counts;
    return {
        {"bench", group.name.station},       {"runs", counts.runs},
        {"boards", counts.boards},           {"passed", counts.passed},
        {"failed", counts.failed},           {"unusable", counts.unusable},
        {"interrupted", counts.interrupted}, {"first_pass_yield", Figure(group.firstPassYield())}};
}

}  // namespace

std::string EventText(const LiveEvent& event) {
    std::string text;
    if (event.id > 0) text += "id: " + std::to_string(event.id) + "\n";
    text += "event: " + event.name + "\ndata: " + event.data.dump() + "\n\n";
    return text;
}

Json LiveLine::BenchJson(const BenchLive& bench) {
    return {{"name", bench.name},
            {"host", bench.host},
            {"version", bench.version},
            {"recipe", bench.recipe},
            {"ports", bench.ports},
            {"started", bench.startedAt},
            {"heartbeat", bench.heartbeatAt},
            {"state", bench.state},
            {"journal_runs", bench.journalRuns ? Json(*bench.journalRuns) : Json(nullptr)}};
}

Json LiveLine::PortJson(const PortLive& port) {
    return {{"bench", port.bench},
            {"port", port.port},
            {"die_id", port.dieId},
            {"serial", port.serial},
            {"step", port.step},
            {"state", port.state},
            {"done", port.done},
            {"total", port.total},
            {"step_since", port.stepSince},
            {"updated", port.updatedAt},
            {"last_result", port.lastResult},
            {"last_error", port.lastError},
            {"last_ended", port.lastEndedAt}};
}

std::vector<LiveEvent> LiveLine::take(const LiveChanges& changes) {
    std::vector<LiveEvent> events;
    for (const BenchLive& bench : changes.benches) {
        auto [at, added] = benches_.try_emplace(bench.name, bench);
        if (!added && at->second.change == bench.change) continue;
        at->second = bench;
        events.push_back({bench.change, "bench", BenchJson(bench)});
    }
    for (const PortLive& port : changes.ports) {
        auto [at, added] = ports_.try_emplace({port.bench, port.port}, port);
        if (!added && at->second.change == port.change) continue;
        if (!added && port.lastEndedAt != at->second.lastEndedAt) boardEnded_ = true;
        at->second = port;
        events.push_back({port.change, "port", PortJson(port)});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const LiveEvent& a, const LiveEvent& b) { return a.id < b.id; });
    return events;
}

std::vector<LiveEvent> LiveLine::eventsAfter(std::int64_t after) const {
    std::vector<LiveEvent> events;
    for (const auto& [name, bench] : benches_) {
        if (bench.change > after) events.push_back({bench.change, "bench", BenchJson(bench)});
    }
    for (const auto& [key, port] : ports_) {
        if (port.change > after) events.push_back({port.change, "port", PortJson(port)});
    }
    std::sort(events.begin(), events.end(),
              [](const LiveEvent& a, const LiveEvent& b) { return a.id < b.id; });
    return events;
}

LiveEvent LiveLine::setFigures(const LineReport& today) {
    Json benches = Json::array(), alerts = Json::array();
    for (const GroupFigures& station : today.stations) benches.push_back(BenchFiguresJson(station));
    for (const GroupFigures& port : today.ports) {
        if (!port.suspect) continue;
        alerts.push_back({{"kind", "suspect_port"},
                          {"bench", port.name.station},
                          {"port", port.name.port},
                          {"step", port.suspect->step},
                          {"failed", port.suspect->failed},
                          {"of", port.suspect->of},
                          {"text", AlertMessage(*port.suspect)}});
    }
    // Beside them, each port whose latest values of a measurement today break a run rule.
    for (const PortDrift& drift : today.measured.drifts) {
        alerts.push_back({{"kind", "drift"},
                          {"bench", drift.port.station},
                          {"port", drift.port.port},
                          {"name", drift.name},
                          {"rule", DriftRuleName(drift.finding.rule)},
                          {"values", drift.finding.values},
                          {"text", DriftMessage(drift.port.port, drift.name, drift.finding)}});
    }
    figures_ = {{"period", today.periodText}, {"benches", benches}, {"alerts", alerts}};
    boardEnded_ = false;
    return {0, "figures", figures_};
}

LiveEvent LiveLine::bannerEvent() const {
    return {
        0, "banner", {{"text", unreachableSince_ ? kUnreachableText + *unreachableSince_ : ""}}};
}

LiveEvent LiveLine::setUnreachable(const std::optional<std::string>& since) {
    unreachableSince_ = since;
    return bannerEvent();
}

std::vector<LiveEvent> LiveLine::extras() const {
    return {bannerEvent(), {0, "figures", figures_}};
}

Json LiveLine::json(const std::string& now) const {
    Json benches = Json::array(), ports = Json::array();
    for (const auto& [name, bench] : benches_) benches.push_back(BenchJson(bench));
    for (const auto& [key, port] : ports_) ports.push_back(PortJson(port));
    return {{"now", now},
            {"store",
             {{"reachable", !unreachableSince_},
              {"unreachable_since", unreachableSince_ ? Json(*unreachableSince_) : Json(nullptr)}}},
            {"banner", bannerEvent().data["text"]},
            {"silent_seconds", kSilentSeconds},
            {"benches", benches},
            {"ports", ports},
            {"figures", figures_}};
}
