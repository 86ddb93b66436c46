#include "station/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Beats this many times per watchdog interval, so a late beat or two are no restart.
constexpr std::int64_t kBeatsPerInterval = 4;

}  // namespace

ServiceNotify::ServiceNotify() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != 0;
    std::uint64_t intervalUs = 0;
    if (active_ && sd_watchdog_enabled(0, &intervalUs) > 0) {
        beatEveryUs_ = std::max<std::int64_t>(std::int64_t(intervalUs) / kBeatsPerInterval, 1);
    }
}

void ServiceNotify::ready(const std::string& status) {
    send("READY=1\n" + statusLine(status));
}

void ServiceNotify::alive(const std::string& status, std::int64_t nowUs) {
    if (!active_) return;
    const bool beatDue = beatEveryUs_ > 0 && (!beaten_ || nowUs - lastBeatUs_ >= beatEveryUs_);
    if (!beatDue && status == status_) return;
    std::string message = statusLine(status);
    if (beatDue) {
        message = "WATCHDOG=1\n" + message;
        lastBeatUs_ = nowUs;
        beaten_ = true;
    }
    send(message);
}

void ServiceNotify::stopping(const std::string& status) {
    send("STOPPING=1\n" + statusLine(status));
}

void ServiceNotify::send(const std::string& message) {
    if (!active_ || message.empty()) return;
    // A manager that went away is no reason to stop the boards: its watchdog is gone with it.
    (void)sd_notify(0, message.c_str());
}

// The status, once: a manager keeps the last one it was told.
std::string ServiceNotify::statusLine(const std::string& status) {
    if (status == status_) return {};
    status_ = status;
    return "STATUS=" + status + "\n";
}
