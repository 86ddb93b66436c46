// What a station's workers share while it runs: which board (by die ID) is under way at which
// port, so one board never has two runs at once, and the boot-loader downloads whose boards have
// not yet come back in normal mode.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// One boot-loader download, as a step of the run of the board it went to.
struct BootDownload {
    std::string port;
    std::string started, finished;  // ISO 8601, UTC
};

class BoardsInProgress {
public:
    // Takes the board for a run at `port`; when it is under way elsewhere already, returns
    // that port and takes nothing.
    std::optional<std::string> take(const std::string& dieId, const std::string& port);
    void release(const std::string& dieId);

    void bootLoaded(const BootDownload& download);
    // The ports a board is plugged in at now: a boot download whose port is empty lost its
    // board to re-enumeration elsewhere.
    void setPresentPorts(std::set<std::string> ports);
    // The boot download of the board that came back at `port`: the one made there, otherwise
    // the oldest whose port is empty now.
    std::optional<BootDownload> cameBack(const std::string& port);
    // Boot downloads whose board never came back.
    std::vector<BootDownload> unclaimedBoots();

private:
    std::mutex mutex_;
    std::map<std::string, std::string> ports_;  // die ID -> port
    std::vector<BootDownload> boots_;           // oldest first
    std::set<std::string> present_;
};
