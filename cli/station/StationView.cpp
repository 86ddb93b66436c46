#include "cli/station/StationView.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/store/StoreText.h"

namespace {
// Bold, on a cleared screen: the operator reads it standing at the bench.
constexpr const char* kHome = "\x1b[H\x1b[2J";
constexpr const char* kBold = "\x1b[1m";
constexpr const char* kPlain = "\x1b[0m";
constexpr const char* kGreen = "\x1b[1;32m";
constexpr const char* kRed = "\x1b[1;31m";

std::string Column(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Percent(std::uint32_t done, std::uint32_t total) {
    if (total == 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%3u %%", unsigned(std::uint64_t(done) * 100 / total));
    return text;
}

nlohmann::ordered_json Nullable(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

bool IsEnd(const std::string& state) {
    return state == "done" || state == "failed" || state == "skipped" || state == "passed" ||
           state == "waiting";
}

// verbatim: what the operator reads while a board waits for the store
constexpr const char* kWaitingForStore = "waiting for the store";
}  // namespace

void StationView::show(const StationEvent& event) {
    if (event.step == "board") {
        passed_ += event.state == "passed";
        failed_ += event.state == "failed";
        skipped_ += event.state == "skipped";
    }
    if (!terminal_) {
        if (IsEnd(event.state)) printJson(event);
        return;
    }
    if (event.step == "board" && event.state == "passed") alerts_.erase(event.port);
    Row& row = rows_[event.port];
    if (!event.dieId.empty()) row.dieId = event.dieId;
    if (!event.serial.empty()) row.serial = event.serial;
    if (event.step == StationStep::Store) {
        row.result = event.state == "waiting" ? std::string(kWaitingForStore) : std::string();
    } else if (event.step == "board") {
        row.result = event.state == "passed"
                         ? (event.error.empty() ? "PASSED" : "PASSED; " + OneLine(event.error))
                     : event.state == "skipped" ? "passed before"
                                                : "FAILED " + OneLine(event.error);
        row.progress.clear();
    } else if (event.step == "hook") {
        // Beside the board's result, which a hook never changes.
        if (event.state == "failed") row.result += "  (" + event.error + ")";
    } else {
        if (event.state == "started" && event.step == "flash") row.result.clear();
        row.step = event.step;
        row.progress = event.state == "progress" ? Percent(event.done, event.total)
                       : event.state == "failed" ? "failed"
                                                 : event.state;
    }
    redraw();
}

void StationView::redraw() {
    std::string screen = kHome;
    screen += std::string(kBold) + "k350ctl station   passed " + std::to_string(passed_) +
              "   failed " + std::to_string(failed_) + "   skipped " + std::to_string(skipped_) +
              kPlain + "\n\n";
    screen += Column("PORT", 10) + Column("DIE ID", 20) + Column("SERIAL", 8) + Column("STEP", 10) +
              Column("PROGRESS", 10) + "RESULT\n";
    for (const auto& [port, row] : rows_) {
        const char* colour = row.result == "PASSED"          ? kGreen
                             : row.result.starts_with("FAI") ? kRed
                                                             : kBold;
        screen += std::string(kBold) + Column(alerts_.count(port) ? port + " !" : port, 10) +
                  Column(row.dieId, 20) + Column(row.serial, 8) + Column(row.step, 10) +
                  Column(row.progress, 10) + colour + row.result + kPlain + "\n";
    }
    for (const auto& [port, message] : alerts_) {
        screen += "\n" + std::string(kRed) + message + kPlain;
    }
    if (screen.back() == '\n') screen.pop_back();  // emit ends the block
    emit_(screen);
}

void StationView::showAlert(const PortAlert& alert) {
    if (terminal_) {
        alerts_[alert.port] = "ALERT " + AlertMessage(alert);
        redraw();
        return;
    }
    const nlohmann::ordered_json line{
        {"port", alert.port},     {"alert", "suspect port"}, {"step", Nullable(alert.step)},
        {"failed", alert.failed}, {"of", alert.of},          {"message", AlertMessage(alert)}};
    emit_(line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

void StationView::printJson(const StationEvent& event) {
    const std::string error = event.step == StationStep::Store && event.state == "waiting"
                                  ? std::string(kWaitingForStore) + ": " + OneLine(event.error)
                                  : OneLine(event.error);
    nlohmann::ordered_json line{{"port", event.port},
                                {"die_id", Nullable(event.dieId)},
                                {"serial", Nullable(event.serial)},
                                {"step", event.step},
                                {"state", event.state},
                                {"error", Nullable(error)}};
    if (event.step == "board") {
        line["passed"] = passed_;
        line["failed"] = failed_;
    }
    emit_(line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}
