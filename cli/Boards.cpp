#include "cli/Boards.h"

#include <cctype>

#include "config/RecordRules.h"
#include "link/BoardSession.h"
#include "link/PortPath.h"
#include "link/UsbScan.h"
#include "store/Json.h"

using RecordRules::DeviceIdText;

std::string DieIdOf(const DeviceIds& ids) {
    return DeviceIdText(ids.data());
}

std::string ChipIdOf(const DeviceIds& ids) {
    return DeviceIdText(ids.data() + 8);
}

std::string ProblemText(const BoardProbe& probe) {
    if (probe.mode != BoardProbe::Mode::Unusable) return {};
    const std::string text = LinkFailureText(probe.statuses, probe.errors);
    if (!probe.interfaceDriver.empty()) {
        // Not another program: the question the text asks would mislead.
        return text.substr(0, text.find(';')) + "; the kernel driver " + probe.interfaceDriver +
               " holds it";
    }
    for (int status : probe.statuses) {
        if (status == LinkStatus::AccessRefused) return text;
    }
    for (int status : probe.statuses) {
        if (status == LinkStatus::NoBoard) {
            return "cannot be opened (Status: 3); check its permissions (udev rules) and whether "
                   "another program holds it";
        }
    }
    return text;
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
    const std::string port = PortPathOf(probe.location);
    std::string line = probe.location.text() + (port.empty() ? "" : " (port " + port + ")") + "  " +
                       ModeName(probe.mode);
    if (probe.mode == BoardProbe::Mode::Normal) {
        line += "  capacity " + std::to_string(probe.capacity) + "  die " + DieIdOf(probe.ids) +
                "  chip " + ChipIdOf(probe.ids);
    } else if (probe.mode == BoardProbe::Mode::Boot) {
        line += "  (boot loader only: no capacity or IDs)";
    } else {
        line += "  " + ProblemText(probe);
    }
    return line;
}

std::string ProbeJson(const BoardProbe& probe) {
    const bool normal = probe.mode == BoardProbe::Mode::Normal;
    return JsonText(
        {{"location", probe.location.text()},
         {"bus", probe.location.bus},
         {"device", probe.location.device},
         {"port", PortPathOf(probe.location).empty() ? Json() : Json(PortPathOf(probe.location))},
         {"mode", ModeName(probe.mode)},
         {"capacity", normal ? Json(probe.capacity) : Json()},
         {"die_id", normal ? Json(DieIdOf(probe.ids)) : Json()},
         {"chip_id", normal ? Json(ChipIdOf(probe.ids)) : Json()},
         {"problem",
          probe.mode == BoardProbe::Mode::Unusable ? Json(ProblemText(probe)) : Json()}});
}

namespace {

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
    int unusable = 0;
    for (const auto& probe : ProbeBoards(locations, console.clock())) {
        if (probe.mode == BoardProbe::Mode::Normal) {
            choice.targets.push_back(probe.location);
        } else if (probe.mode == BoardProbe::Mode::Boot) {
            console.message(probe.location.text() + ": skipped, the board is in boot mode");
            choice.leftOut.push_back({probe.location, "skipped, the board is in boot mode"});
        } else {
            console.message(probe.location.text() + ": failed: " + ProblemText(probe));
            choice.leftOut.push_back({probe.location, ProblemText(probe)});
            ++unusable;
        }
    }
    if (choice.targets.empty() && unusable == 0) {
        console.message("k350ctl: no K-350 board in normal mode");
        choice.status = ExitStatus::NoBoard;
    }
    return choice;
}

BoardChoice chooseOne(const std::string& board, const std::vector<BoardLocation>& locations,
                      Console& console) {
    BoardChoice choice;
    for (const auto& location : locations) {
        // The physical port stays the same when the board is replugged; bus/device does not.
        if (location.text() == board || PortPathOf(location) == board) {
            choice.targets.push_back(location);
            return choice;
        }
    }
    const std::string digits = dieIdDigits(board);
    std::vector<BoardProbe> probes = ProbeBoards(locations, console.clock());
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
    reportBoards(console, ProbeBoards(locations, console.clock()));
    choice.status = ExitStatus::Usage;
    return choice;
}
