// Finding the boards on USB and choosing the ones a command is to run on.
#pragma once

#include <string>
#include <vector>

#include "cli/Console.h"
#include "link/BoardLocation.h"
#include "link/LinkTypes.h"

// Every device with the board's vendor and product IDs, in bus and device order, after a scan.
// Nothing is sent to the boards.
std::vector<BoardLocation> ScanBoards();

struct BoardProbe {
    enum class Mode { Normal, Boot, Unusable };
    BoardLocation location;
    Mode mode = Mode::Unusable;
    std::uint32_t capacity = 0;
    DeviceIds ids{};
    std::string problem;  // why an unusable board cannot be used
};

// Opens the board as every operation does (configuration 2, size and identification queries),
// then releases it; a board that refuses is tried in configuration 1 (boot mode).
BoardProbe ProbeBoard(const BoardLocation& location, Clock& clock);

std::string HexId(const std::uint8_t* bytes);  // "0x" and 16 upper-case digits
std::string DieIdOf(const DeviceIds& ids);
std::string ChipIdOf(const DeviceIds& ids);
std::string ModeName(BoardProbe::Mode mode);
std::string DescribeProbe(const BoardProbe& probe);  // one line of `list`
std::string ProbeJson(const BoardProbe& probe);

struct BoardChoice {
    std::vector<BoardLocation> targets;
    int status = ExitStatus::Ok;  // not Ok: nothing to run, the reason is already reported
    int failedBoards = 0;         // --all: boards that could not even be opened
};

// --board LOCATION or die ID prefix, --all, or the only board there is. Refuses an ambiguous
// choice with the list of boards.
BoardChoice ChooseBoards(const std::string& board, bool all, Console& console);
