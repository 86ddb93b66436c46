// The commands of k350ctl. Each returns its exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Boards.h"
#include "cli/Console.h"
#include "cli/Options.h"
#include "config/ConfigImage.h"
#include "config/ServiceLevel.h"

class BoardSession;

// What a command did on one board.
struct BoardResult {
    int status = ExitStatus::Ok;
    std::string message;  // the failure, for the summary
};

// Runs task on each chosen board: on this thread for one board, else one thread per board.
// Reports the failures and, for several boards, a summary; returns the exit status.
int RunOnBoards(const BoardChoice& choice, const Options& options, Console& console,
                const std::function<BoardResult(BoardSession&)>& task);

// Reports a refusal in the one form all refusals have: the reason, then where to find help;
// returns the usage error's exit status.
int Refuse(Console& console, const std::string& reason);

// The access level a command needs, from --code or K350_SERVICE_CODE; false after the refusal
// was reported.
// Why `what` may not run with the service code given (or in K350_SERVICE_CODE); empty when the
// code grants the level it needs.
std::string AccessRefusal(const std::optional<std::string>& given, Console& console,
                          ServiceLevel needed, const std::string& what);
bool HasAccess(const Options& options, Console& console, int level, const std::string& what);

// Loads a configuration file as Open does; reports why not and returns false otherwise.
bool LoadCheckedConfig(const std::string& path, Console& console, ConfigSnapshot& snapshot);

int ListCommand(const Options& options, Console& console);
int ReadCommand(const Options& options, Console& console);
int WriteCommand(const Options& options, Console& console);
int FlashCommand(const Options& options, Console& console);
int StatsCommand(const Options& options, Console& console);
int TraceCommand(const Options& options, Console& console);
int ShowCommand(const Options& options, Console& console);
int DiffCommand(const Options& options, Console& console);
int SetCommand(const Options& options, Console& console);
int StationCommand(const Options& options, Console& console);
int HistoryCommand(const Options& options, Console& console);
int ReportCommand(const Options& options, Console& console);
int ServeCommand(const Options& options, Console& console);
int ReferenceCommand(const Options& options, Console& console);

// The whole program, given its arguments (without the program name).
int RunK350ctl(const std::vector<std::string>& arguments, const Environment& environment);
