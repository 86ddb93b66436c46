// Choosing the boards a command is to run on, and how k350ctl describes a probed board.
#pragma once

#include <string>
#include <vector>

#include "cli/Console.h"
#include "link/BoardProbe.h"

std::string DieIdOf(const DeviceIds& ids);
std::string ChipIdOf(const DeviceIds& ids);
std::string ModeName(BoardProbe::Mode mode);
std::string ProblemText(const BoardProbe& probe);    // why an unusable board cannot be used
std::string DescribeProbe(const BoardProbe& probe);  // one line of `list`
std::string ProbeJson(const BoardProbe& probe);

// A board found that the command will not run on, and why.
struct BoardLeftOut {
    BoardLocation location;
    std::string reason;
};

struct BoardChoice {
    std::vector<BoardLocation> targets;
    int status = ExitStatus::Ok;  // not Ok: nothing to run, the reason is already reported
    // --all: boards in boot mode, and boards that could not even be opened.
    std::vector<BoardLeftOut> leftOut;
};

// --board LOCATION or die ID prefix, --all, or the only board there is. Refuses an ambiguous
// choice with the list of boards.
BoardChoice ChooseBoards(const std::string& board, bool all, Console& console);
