// Simulated boards on a bench, as tests and benchmarks plug them: one bus, boards with die IDs
// of their own and a plausible configuration, and whether the board was let go again.
#pragma once

#include <vector>

#include "sim/SimControl.h"

// The die ID of the `index`-th board PlugBoards plugs, from 1.
k350sim::Id8 BoardDieId(int index);
// A fresh world: one bus with `count` boards, each with its die ID and a K-350A record.
std::vector<k350sim::DeviceId> PlugBoards(int count, const k350sim::BoardOptions& options = {});
// Every handle opened on a simulated board has been closed again.
bool BoardReleased();
// A request of the firmware download to erase the flash sector at `address`, as the board gets it.
bool IsSectorEraseAt(const k350sim::Bytes& request, std::uint32_t address);
