// set, station and history: the parsed options handed to the production commands.
#include "cli/Commands.h"
#include "cli/station/StationCommands.h"

int SetCommand(const Options& options, Console& console) {
    return RunSetCommand({options.operands[0],
                          {options.operands.begin() + 1, options.operands.end()},
                          options.output},
                         console);
}

int StationCommand(const Options& options, Console& console) {
    StationArguments arguments;
    arguments.recipe = options.recipe;
    arguments.image = options.image;
    arguments.reference = options.reference;
    arguments.description = options.description;
    arguments.store = options.store;
    arguments.verify = options.verify;
    arguments.poll = options.poll;
    arguments.reprocessPassed = options.reprocess;
    arguments.json = options.json;
    arguments.soakSeconds = options.soak;
    arguments.maxErroneousPercent = options.maxErroneous;
    arguments.maxLostPercent = options.maxLost;
    arguments.maxJitterMs = options.maxJitter;
    arguments.boards = options.boards;
    arguments.code = options.code;
    arguments.alertFailures = options.alertFailures;
    arguments.alertOf = options.alertOf;
    arguments.onPass = options.onPass;
    arguments.onFail = options.onFail;
    arguments.hookTimeoutSeconds = options.hookTimeout;
    arguments.storeRetrySeconds = options.storeRetry;
    arguments.sync = options.sync;
    return RunStationCommand(arguments, console);
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
