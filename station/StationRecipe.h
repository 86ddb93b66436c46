// A station's recipe: a small TOML file that says what every board gets.
//
//   name = "K-350A, line 2"            # for the record; the file's name when absent
//   store = "postgresql://line@db/k350" # the run store; k350-line.sqlite when absent
//   lot = "2026-W50-A"                 # the boards' lot, for the record (--lot replaces it)
//   [firmware]
//   image = "k350a-2.4.rom"            # relative to the recipe's folder
//   verify = true
//   poll = true                        # poll the flash instead of the fixed pauses
//   [configuration]
//   reference = "k350a.kcf"
//   description = "K-350A {serial} ({die})"
//   [soak]
//   seconds = 60
//   max_erroneous_percent = 0.1
//   max_lost_percent = 0.5
//   max_jitter_ms = 20                 # the high limit of soak.jitter_ms.worst
//   [limits]                           # by measurement: low, high, marginal_low, marginal_high
//   "flash.program_ms.max" = { high = 3.0, marginal_high = 2.5 }
//   [station]
//   reprocess_passed = false
//   store_retry_seconds = 60           # how long a store that went away is waited for
//   max_run_seconds = 660              # a run unfinished for longer died with its station
//   [alert]                            # a port going bad: 3 of its last 5 boards failed
//   failures = 3
//   of = 5
//   [hooks]                            # run with /bin/sh -c after each board
//   on_pass = "lp -d labels label.txt"
//   on_fail = "..."
//   timeout_seconds = 30
//   [serial]
//   form = "alphanumeric"              # or "decimal" (0001 to 9999), the default
//   first = "A000"                     # the line's range; the form's whole range when absent
//   last = "ZZZZ"

#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "station/StationJob.h"
#include "station/StationSettings.h"

class RecipeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A file the recipe names (image, reference) that cannot be used.
class RecipeFileError : public RecipeError {
public:
    using RecipeError::RecipeError;
};

// Reads and checks the recipe; unknown keys are refused, so a misspelt limit is never ignored.
StationSettings LoadStationRecipe(const std::string& path);
// The station's settings: the recipe's (none: the defaults), with the command line's changes
// over them, and the default store where neither names one.
StationSettings LoadStationSettings(const std::optional<std::string>& recipe,
                                    const std::vector<StationChange>& changes);

// The job the settings describe: the image and the reference loaded, today's date, this host's
// name. Throws RecipeError when a file cannot be used.
StationJob BuildStationJob(const StationSettings& settings);

// Why the bench's name (the host's, or K350_STATION) or the recipe's name cannot be kept with the
// runs and shown as it is, or "": each must be UTF-8 without control characters, the bench's at
// most kBenchNameLength characters, the recipe's at most kRecipeNameLength.
std::string StationNamesProblem(const StationJob& job);
constexpr std::size_t kBenchNameLength = 64;  // a host name's own limit
constexpr std::size_t kRecipeNameLength = 200;
constexpr std::size_t kOperatorNameLength = 64;
constexpr std::size_t kLotLength = 64;

// Where a run's board came from, as every run of the job records it: this k350ctl's version,
// the operator, the lot and the recipe's SHA-256.
void SetRunOrigin(RunRecord& run, const StationJob& job);

// A board's description: the template with {serial} and {die} replaced, line breaks as the
// record stores them (CR LF).
std::string ExpandedDescription(const std::string& descriptionTemplate, const std::string& serial,
                                const std::string& dieId);
// Why an expanded description cannot be stored as it is, or "".
std::string DescriptionProblem(const std::string& expanded);
