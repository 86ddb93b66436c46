// One board's worker as k350ctl drives it: the terminal's requests and operations, run on the
// calling thread one at a time, against the board at one location only.
#pragma once

#include <string>

#include "cli/CliChannel.h"
#include "link/BoardLocation.h"
#include "link/K350Task.h"

class BoardSession {
public:
    BoardSession(const BoardLocation& location, Clock& clock);
    // The worker's exit sequence: the board is released whatever happened before.
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Signals the request and runs it to its end, as the worker's loop would take it.
    const CliChannel::Outcome& run(WorkerRequest request);

    const BoardLocation& location() const { return location_; }
    CliChannel& channel() { return channel_; }
    TK350& worker() { return worker_; }

private:
    BoardLocation location_;
    CliChannel channel_;
    TK350 worker_;
};

// Why an operation failed, in English, with the terminal's code ("Error: -110") and a hint; empty
// when it did not fail.
std::string FailureText(const CliChannel::Outcome& outcome);
// The same for what the worker reported to the main window alone.
std::string LinkFailureText(const std::vector<int>& statuses, const std::vector<int>& errors);
// Whether the failure was that no board could be found or opened at all.
bool FoundNoBoard(const CliChannel::Outcome& outcome);
std::string LinkErrorText(int error);
