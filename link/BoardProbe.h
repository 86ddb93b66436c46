// What a board at one location answers when it is opened as every operation opens it: whether
// it works in normal mode, only in boot mode, or not at all, and why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/BoardLocation.h"
#include "link/BoardTypes.h"

class BoardLink;
class Clock;
class DirectObserver;

struct BoardProbe {
    enum class Mode { Normal, Boot, Unusable };
    BoardLocation location;
    Mode mode = Mode::Unusable;
    std::uint32_t capacity = 0;
    DeviceIds ids{};
    // What the normal-mode open reported to the main window, for an unusable board.
    std::vector<int> statuses;  // LinkStatus values
    std::vector<int> errors;    // link errors
    // The kernel driver that holds its interface, when that is why it cannot be claimed.
    std::string interfaceDriver;
};

// Opens the board on `link` as every operation does (configuration 2, size and identification
// queries); a board that answers is left open, one that refuses is tried in configuration 1
// (boot mode) and released. What the normal-mode open reported stays in `observer`.
BoardProbe ProbeLink(BoardLink& link, DirectObserver& observer, const BoardLocation& location);
// Opens the board as every operation does (configuration 2, size and identification queries),
// then releases it; a board that refuses is tried in configuration 1 (boot mode).
BoardProbe ProbeBoard(const BoardLocation& location, Clock& clock);
// Every board at once, one thread per board, as a command then runs on them.
std::vector<BoardProbe> ProbeBoards(const std::vector<BoardLocation>& locations, Clock& clock);
