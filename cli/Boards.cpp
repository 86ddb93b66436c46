#include "cli/Boards.h"

#include <usb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "cli/BoardSession.h"
#include "cli/Json.h"
#include "link/K350Task.h"

std::vector<BoardLocation> ScanBoards() {
    std::lock_guard lock(UsbListMutex());
    usb_init();
    usb_set_debug(0);
    usb_find_busses();
    usb_find_devices();
    std::vector<BoardLocation> found;
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device; device = device->next) {
            if (device->descriptor.idVendor == K350Usb::VendorId &&
                device->descriptor.idProduct == K350Usb::ProductId) {
                found.push_back(LocationOf(bus, device));
            }
        }
    }
    return found;
}

BoardProbe ProbeBoard(const BoardLocation& location, Clock& clock) {
    CliChannel channel;
    TK350 worker(channel, clock);
    worker.setBoardLocation(location);
    BoardProbe probe;
    probe.location = location;
    worker.OpenLink(K350Usb::NormalConfiguration);
    worker.QueryLink();
    if (worker.isLinkOpen()) {
        probe.mode = BoardProbe::Mode::Normal;
        probe.capacity = worker.capacity();
        probe.ids = worker.deviceIds();
        worker.CloseLink();
        return probe;
    }
    probe.problem = channel.outcome.hasStatus(LinkStatus::NoBoard)
                        ? "cannot be opened (Status: 3); check its permissions (udev rules) and "
                          "whether another program holds it"
                        : FailureText(channel.outcome);
    channel.clearOutcome();
    worker.OpenLink(K350Usb::BootConfiguration);
    if (worker.isLinkOpen()) {
        probe.mode = BoardProbe::Mode::Boot;
        probe.problem.clear();
        worker.CloseLink();
    }
    return probe;
}

std::string HexId(const std::uint8_t* bytes) {
    std::string text = "0x";
    char digits[3];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

std::string DieIdOf(const DeviceIds& ids) {
    return HexId(ids.data());
}

std::string ChipIdOf(const DeviceIds& ids) {
    return HexId(ids.data() + 8);
}

std::string ModeName(BoardProbe::Mode mode) {
    switch (mode) {
        case BoardProbe::Mode::Normal:
            return "normal";
        case BoardProbe::Mode::Boot:
            return "boot";
        default:
            return "unusable";
    }
}

std::string DescribeProbe(const BoardProbe& probe) {
    std::string line = probe.location.text() + "  " + ModeName(probe.mode);
    if (probe.mode == BoardProbe::Mode::Normal) {
        line += "  capacity " + std::to_string(probe.capacity) + "  die " + DieIdOf(probe.ids) +
                "  chip " + ChipIdOf(probe.ids);
    } else if (probe.mode == BoardProbe::Mode::Boot) {
        line += "  (boot loader only: no capacity or IDs)";
    } else {
        line += "  " + probe.problem;
    }
    return line;
}

std::string ProbeJson(const BoardProbe& probe) {
    JsonObject object;
    object.add("location", probe.location.text())
        .add("bus", probe.location.bus)
        .add("device", probe.location.device)
        .add("mode", ModeName(probe.mode));
    if (probe.mode == BoardProbe::Mode::Normal) {
        object.add("capacity", std::int64_t(probe.capacity))
            .add("die_id", DieIdOf(probe.ids))
            .add("chip_id", ChipIdOf(probe.ids));
    } else {
        object.addNull("capacity").addNull("die_id").addNull("chip_id");
    }
    if (probe.mode == BoardProbe::Mode::Unusable) {
        object.add("problem", probe.problem);
    } else {
        object.addNull("problem");
    }
    return object.str();
}

namespace {

// All at once, one thread per board, as the command then runs on them.
std::vector<BoardProbe> probeAll(const std::vector<BoardLocation>& locations, Clock& clock) {
    std::vector<BoardProbe> probes(locations.size());
    if (locations.size() == 1) {
        probes[0] = ProbeBoard(locations[0], clock);
        return probes;
    }
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < locations.size(); ++i) {
        threads.emplace_back([&, i] { probes[i] = ProbeBoard(locations[i], clock); });
    }
    for (auto& thread : threads) thread.join();
    return probes;
}

void reportBoards(Console& console, const std::vector<BoardProbe>& probes) {
    for (const auto& probe : probes) console.message("  " + DescribeProbe(probe));
}

// The upper-case hexadecimal digits of a die ID prefix, without "0x"; empty if it is not one.
std::string dieIdDigits(const std::string& text) {
    std::string digits = text;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    }
    if (digits.empty() || digits.size() > 16) return {};
    for (char& c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits;
}

BoardChoice chooseAll(const std::vector<BoardLocation>& locations, Console& console) {
    BoardChoice choice;
    for (const auto& probe : probeAll(locations, console.clock())) {
        if (probe.mode == BoardProbe::Mode::Normal) {
            choice.targets.push_back(probe.location);
        } else if (probe.mode == BoardProbe::Mode::Boot) {
            console.message(probe.location.text() + ": skipped, the board is in boot mode");
        } else {
            console.message(probe.location.text() + ": failed: " + probe.problem);
            ++choice.failedBoards;
        }
    }
    if (choice.targets.empty() && choice.failedBoards == 0) {
        console.message("k350ctl: no K-350 board in normal mode");
        choice.status = ExitStatus::NoBoard;
    }
    return choice;
}

BoardChoice chooseOne(const std::string& board, const std::vector<BoardLocation>& locations,
                      Console& console) {
    BoardChoice choice;
    for (const auto& location : locations) {
        if (location.text() == board) {
            choice.targets.push_back(location);
            return choice;
        }
    }
    const std::string digits = dieIdDigits(board);
    std::vector<BoardProbe> probes = probeAll(locations, console.clock());
    std::vector<BoardProbe> matches;
    for (const auto& probe : probes) {
        if (probe.mode != BoardProbe::Mode::Normal || digits.empty()) continue;
        if (DieIdOf(probe.ids).compare(2, digits.size(), digits) == 0) matches.push_back(probe);
    }
    if (matches.size() == 1) {
        choice.targets.push_back(matches.front().location);
        return choice;
    }
    if (matches.empty()) {
        console.message("k350ctl: no board at location or with die ID \"" + board + "\"; boards:");
        reportBoards(console, probes);
        choice.status = ExitStatus::NoBoard;
    } else {
        console.message("k350ctl: die ID prefix \"" + board +
                        "\" is ambiguous; give more digits or a location:");
        reportBoards(console, matches);
        choice.status = ExitStatus::Usage;
    }
    return choice;
}

}  // namespace

BoardChoice ChooseBoards(const std::string& board, bool all, Console& console) {
    const std::vector<BoardLocation> locations = ScanBoards();
    BoardChoice choice;
    if (locations.empty()) {
        console.message("k350ctl: no K-350 board found on USB");
        choice.status = ExitStatus::NoBoard;
        return choice;
    }
    if (all) return chooseAll(locations, console);
    if (!board.empty()) return chooseOne(board, locations, console);
    if (locations.size() == 1) {
        choice.targets = locations;
        return choice;
    }
    console.message("k350ctl: " + std::to_string(locations.size()) +
                    " boards are attached; choose one with --board LOCATION|DIEID, or use "
                    "--all:");
    reportBoards(console, probeAll(locations, console.clock()));
    choice.status = ExitStatus::Usage;
    return choice;
}
