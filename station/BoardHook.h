// The line's own command after each board (print a label, tell the records system): run with
// /bin/sh -c in a process group of its own, the run's record as one JSON line on its standard
// input and its main fields in K350_* variables, killed at the time limit with every process it
// started (HookProcess). What it prints and how it ended are kept with the run; the board's
// result never depends on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "station/StationJob.h"
#include "store/RunStore.h"

struct HookOutcome {
    std::string status;  // "exit 0", "exit 2", "killed by signal 9", "killed at the 30 s limit",
                         // "not started: ..."
    // Standard output and error together: the first and the last kHookOutputPart bytes, with a
    // line "[N bytes left out]" between them when it printed more.
    std::string output;
    bool ok = false;  // exited with 0
};
constexpr std::size_t kHookOutputPart = 8 * 1024;

// Kills every hook running now with every process it started. Safe in a signal handler: k350ctl
// calls it when a second signal ends the program at once, so no hook outlives it.
void KillRunningHooks();

// The command the run's result calls for: on_pass, on_fail (failed or unusable), or none.
const std::string& HookFor(const HookCommands& hooks, const std::string& result);

// Runs one command to its end or to the limit.
HookOutcome RunHook(const std::string& command, const RunRecord& run, double timeoutSeconds);

// The hook's environment: this process's without the service code and libpq's PG* variables,
// and the run's K350_* fields.
std::vector<std::string> HookEnvironment(const RunRecord& run);

// Keeps a hook's outcome with the run; "" when the store took it, otherwise what became of it.
using HookRecorder = std::function<std::string(const char* hook, const HookOutcome& outcome)>;

// After a board's end: the hook its result asks for, if any, recorded with the run. `tell` gets
// "done" or "failed" and the outcome's status, with the output's last line.
void RunBoardHook(const HookCommands& hooks, const RunRecord& run, const HookRecorder& record,
                  const std::function<void(const char* state, const std::string& text)>& tell);
