#include "cli/Commands.h"
#include "link/UsbScan.h"

int ListCommand(const Options& options, Console& console) {
    const std::vector<BoardLocation> locations = ScanBoards();
    if (locations.empty()) {
        console.message("k350ctl: no K-350 board found on USB");
        return ExitStatus::NoBoard;
    }
    for (const auto& location : locations) {
        const BoardProbe probe = ProbeBoard(location, console.clock());
        console.data(options.json ? ProbeJson(probe) : DescribeProbe(probe));
    }
    return ExitStatus::Ok;
}
