// k350ctl's command line: a command, its operands and options, common options anywhere.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "station/StationSettings.h"

struct Options {
    std::string command;
    std::vector<std::string> operands;
    bool help = false;
    bool version = false;
    bool json = false;
    bool all = false;
    std::string board;
    std::optional<std::string> code;
    std::optional<std::string> output;  // read -o
    bool full = false;                  // write --full
    bool otherBoard = false;            // write --full into a board of another die ID
    bool verify = false;                // flash --verify
    double period = 1;                  // stats --period, seconds
    int count = 1;                      // stats --count; 0 runs until interrupted
    bool reset = false;                 // stats --reset
    std::string channels = "bus-rx,bus-tx,link-rx,link-tx";  // trace --channels
    std::optional<double> duration;                          // trace --duration, seconds
    bool poll = false;                                       // flash --poll
    // station: the recipe, and each setting option as a change of the recipe's setting
    std::optional<std::string> recipe;
    std::vector<StationChange> station;
    int boards = 0;  // 0: until Ctrl+C
    bool sync = false;
    // history and report
    std::optional<std::string> store;
    std::string serial, die, since;
    bool csv = false;
    // report and history (and --since, --store, --csv; report: --recipe as the recorded name)
    std::string until, stationName, port;
    std::optional<std::string> html;
    // report: where the boards came from (--program-version: --version is k350ctl's own)
    std::string lot, image, programVersion;
    // reference mark: the board's kind and a note
    std::optional<std::string> referenceKind, referenceNote;
    bool measurements = false;  // report: every run's measurements, one CSV row each
    // report: when a port counts as going bad
    std::optional<int> alertFailures, alertOf;
    // serve: where it listens, and further names its requests' Host may give
    std::optional<std::string> listen;
    std::vector<std::string> allowHosts;
    std::optional<int> streamSeconds;
};

// A usage error found while an option's value is taken.
struct UsageProblem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Fills options; on a usage error returns its message.
std::optional<std::string> ParseOptions(const std::vector<std::string>& arguments,
                                        Options& options);
