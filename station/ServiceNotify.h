// What the station tells the service manager that started it (systemd's notify protocol): that
// it is ready, that its port loop still goes round (the watchdog's heartbeat), and its state in
// a line. Outside such a manager (no notify socket given) it says nothing.
#pragma once

#include <cstdint>
#include <string>

class ServiceNotify {
public:
    // From the environment the manager gave: its notify socket, its watchdog interval.
    ServiceNotify();
    // The recipe and the store are checked: the station is up.
    void ready(const std::string& status);
    // The port loop went round: the heartbeat when one is due, the status when it changed.
    void alive(const std::string& status, std::int64_t nowUs);
    // Asked to stop: the boards under way are finished first.
    void stopping(const std::string& status);

private:
    void send(const std::string& message);
    std::string statusLine(const std::string& status);

    bool active_ = false;
    std::int64_t beatEveryUs_ = 0;  // 0: no watchdog
    std::int64_t lastBeatUs_ = 0;
    bool beaten_ = false;
    std::string status_;
};
