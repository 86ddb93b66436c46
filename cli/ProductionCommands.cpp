// set, station and history: the parsed options handed to the production commands.
#include "cli/Commands.h"
#include "cli/StationCommands.h"

int SetCommand(const Options& options, Console& console) {
    return RunSetCommand({options.operands[0],
                          {options.operands.begin() + 1, options.operands.end()},
                          options.output},
                         console);
}

int StationCommand(const Options& options, Console& console) {
    return RunStationCommand(
        {options.recipe, options.station, options.json, options.boards, options.code, options.sync},
        console);
}

int HistoryCommand(const Options& options, Console& console) {
    if (options.json && options.csv) {
        console.message("k350ctl: history prints --json or --csv, not both");
        return ExitStatus::Usage;
    }
    HistoryArguments arguments;
    arguments.serial = options.serial;
    arguments.dieId = options.die;
    arguments.since = options.since;
    arguments.until = options.until;
    arguments.store = options.store;
    arguments.format = options.json  ? HistoryFormat::Json
                       : options.csv ? HistoryFormat::Csv
                                     : HistoryFormat::Text;
    return RunHistoryCommand(arguments, console);
}
