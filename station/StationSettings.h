// The settings a station runs with: its recipe's, each replaced by the command line's option of
// the same meaning where one is given. One struct for both, so a setting is added in one place
// (its field here, its recipe key, its option) and never copied from one form into another.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "station/StationLimits.h"
#include "store/PortAlertRule.h"
#include "store/SerialForm.h"

struct SoakLimits {
    double seconds = 0;  // 0: no soak
    std::optional<double> maxErroneousPercent, maxLostPercent, maxJitterMs;
};

// Commands run after each board (with /bin/sh -c), and how long each may take.
struct HookCommands {
    std::string onPass, onFail;
    double timeoutSeconds = 30;
};

struct StationSettings {
    std::string recipe;                    // the recipe's name, for the record
    std::string recipeSha256;              // of the recipe file's bytes; empty without one
    std::string operatorName, lot;         // who runs the station, the boards' lot; may be empty
    std::string store;                     // location of the run store
    std::string imagePath, referencePath;  // absolute or relative to the current folder
    std::string descriptionTemplate;       // {serial} and {die} are replaced
    bool verify = false;
    bool pollFlash = false;
    bool reprocessPassed = false;
    SoakLimits soak;
    // Each measurement's limits by its name; the soak's maxima (above) are the high limits of the
    // soak's worst figures besides them (WithSoakMaxima).
    LimitTable limits;
    double storeRetrySeconds = 60;  // how long a store that went away is waited for
    AlertRule alert;
    HookCommands hooks;
    SerialPlan serials;
    // A run unfinished for longer than this is taken to have died with its station, so its
    // board may be run again; a younger one means the board is under way there. The soak and
    // kRunAllowanceSeconds when not given.
    std::optional<double> maxRunSeconds;
};

// What a run takes besides its soak, at most: the download, the verify, the configuration.
constexpr double kRunAllowanceSeconds = 600;

// An option's change of one setting, applied over the recipe's.
using StationChange = std::function<void(StationSettings&)>;
