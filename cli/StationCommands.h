// k350ctl's production commands: `set` (a configuration file's fields by name), `station` (the
// production sequence on every board plugged in) and `history` (the line's record). Their
// arguments as the command table parses them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/HistoryReport.h"
#include "station/StationSettings.h"

class Console;

struct SetArguments {
    std::string file;
    std::vector<std::string> assignments;  // NAME=VALUE
    std::optional<std::string> output;     // -o; the file itself when absent
};
int RunSetCommand(const SetArguments& arguments, Console& console);

struct StationArguments {
    std::optional<std::string> recipe;
    std::vector<StationChange> changes;  // the options' changes of the recipe's settings
    bool json = false;
    int boards = 0;  // end after this many boards; 0: until Ctrl+C
    std::optional<std::string> code;
    bool sync = false;  // only write the journal's runs to the store
};
int RunStationCommand(const StationArguments& arguments, Console& console);

struct HistoryArguments {
    std::string serial, dieId, since, until;
    std::optional<std::string> store;
    HistoryFormat format = HistoryFormat::Text;
};
int RunHistoryCommand(const HistoryArguments& arguments, Console& console);
