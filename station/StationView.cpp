#include "station/StationView.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "store/StoreText.h"

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
    return state != "started" && state != "progress";
}

std::string ResultText(const StationEvent& event) {
    if (event.state == "passed") {
        return event.error.empty() ? "PASSED" : "PASSED; " + OneLine(event.error);
    }
    if (event.state == "skipped") return "passed before";
    if (event.state == "unusable") return "UNUSABLE " + OneLine(event.error);
    if (event.state == "elsewhere") return "BUSY " + OneLine(event.error);
    if (event.state == "interrupted") return "INTERRUPTED " + OneLine(event.error);
    return "FAILED " + OneLine(event.error);
}

std::string JsonLine(const nlohmann::ordered_json& line) {
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// verbatim: what the operator reads while a board waits for the store
constexpr const char* kWaitingForStore = "waiting for the store";
}  // namespace

std::string StationView::StoppingText(std::uint32_t boards, std::uint32_t atHooks,
                                      const std::string& again) {
    if (boards == 0) return "stopping";
    const auto count = [](std::uint32_t n, const char* one, const char* more) {
        return std::to_string(n) + (n == 1 ? one : more);
    };
    // A board whose steps are done only waits for its hook: a stop now cuts the hook, not the
    // board.
    if (atHooks == 0) {
        return "finishing " + count(boards, " board; ", " boards; ") + again +
               " stops now and leaves their flash incomplete";
    }
    if (atHooks >= boards) {
        return "finishing the hooks of " + count(boards, " board", " boards") +
               " (the boards are done); " + again + " stops now and kills the hooks";
    }
    return "finishing " + count(boards, " board; ", " boards; ") + again +
           " stops now, leaves the flash of " + std::to_string(boards - atHooks) +
           " incomplete and kills the hooks of " + std::to_string(atHooks);
}

void StationView::setNotice(std::string notice) {
    notice_ = std::move(notice);
    if (terminal_) redraw();
}

// A board under way elsewhere is looked at again now and then: it is told once, until that
// changes.
bool StationView::repeatsItself(const StationEvent& event) {
    if (event.step != "board") return false;
    if (event.state != "elsewhere") {
        elsewhere_.erase(event.port);
        return false;
    }
    auto [told, fresh] = elsewhere_.emplace(event.port, event.error);
    if (fresh || told->second != event.error) {
        told->second = event.error;
        return false;
    }
    return true;
}

void StationView::show(const StationEvent& event) {
    if (event.step == "drift") {
        showDrift(event);
        return;
    }
    if (event.step == "station") {
        if (!terminal_) printJson(event);
        return;
    }
    if (repeatsItself(event)) return;
    if (event.step == "board") {
        passed_ += event.state == "passed";
        marginal_ += event.state == "passed" && event.marginal > 0;
        failed_ += event.state == "failed";
        skipped_ += event.state == "skipped";
        unusable_ += event.state == "unusable";
        interrupted_ += event.state == "interrupted";
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
        row.result = ResultText(event);
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
              (marginal_ ? " (" + std::to_string(marginal_) + " marginal)" : "") + "   failed " +
              std::to_string(failed_) + "   skipped " + std::to_string(skipped_) + "   unusable " +
              std::to_string(unusable_) +
              (interrupted_ ? "   interrupted " + std::to_string(interrupted_) : "") + kPlain +
              "\n" + (notice_.empty() ? "" : std::string(kRed) + notice_ + kPlain + "\n") + "\n";
    screen += Column("PORT", 10) + Column("DIE ID", 20) + Column("SERIAL", 8) + Column("STEP", 10) +
              Column("PROGRESS", 10) + "RESULT\n";
    for (const auto& [port, row] : rows_) {
        const char* colour = row.result == "PASSED" ? kGreen
                             : row.result.starts_with("FAI") || row.result.starts_with("UNU") ||
                                     row.result.starts_with("INT")
                                 ? kRed
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

// A drift stays under the rows until a board passes at the port again, as a suspect port does.
void StationView::showDrift(const StationEvent& event) {
    if (terminal_) {
        alerts_[event.port] = "DRIFT " + event.error;
        redraw();
        return;
    }
    const nlohmann::ordered_json line{{"alert", "drift"},          {"port", event.port},
                                      {"name", event.measurement}, {"rule", event.state},
                                      {"values", event.values},    {"message", event.error}};
    const std::string text = JsonLine(line);
    if (!journal_ || !journal_->write(event, text)) emit_(text);
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
    const std::string text = JsonLine(line);
    if (!journal_ || !journal_->write(alert, text)) emit_(text);
}

void StationView::printJson(const StationEvent& event) {
    const std::string error = event.step == StationStep::Store && event.state == "waiting"
                                  ? std::string(kWaitingForStore) + ": " + OneLine(event.error)
                                  : OneLine(event.error);
    nlohmann::ordered_json line{{"port", Nullable(event.port)},
                                {"die_id", Nullable(event.dieId)},
                                {"serial", Nullable(event.serial)},
                                {"step", event.step},
                                {"state", event.state},
                                {"error", Nullable(error)}};
    if (event.step == "board") {
        line["passed"] = passed_;
        line["marginal"] = marginal_;
        line["failed"] = failed_;
        line["unusable"] = unusable_;
        line["interrupted"] = interrupted_;
    }
    if (event.step == "station") {
        line["boards"] = event.done;
        line["hooks"] = event.total;
    }
    const std::string text = JsonLine(line);
    if (!journal_ || !journal_->write(event, text)) emit_(text);
}
