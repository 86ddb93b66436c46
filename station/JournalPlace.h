// Where a station keeps the runs its store could not take: a journal named after the store (so
// every spelling of its location finds the same one) in the first folder of these that this
// process can write:
//   1. $STATE_DIRECTORY (its first folder), which systemd gives a unit with StateDirectory=;
//   2. $XDG_STATE_HOME/k350, or ~/.local/state/k350 (made when missing);
//   3. the recipe's folder;
//   4. the current folder.
// Journals an older k350ctl kept beside the recipe (k350a.journal) or in the current folder
// (k350-station.journal), and this store's journal in any of the other folders, are replayed too.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct JournalPlace {
    std::string path;                // the journal this station writes
    std::vector<std::string> older;  // other journals that may hold runs of the store
    // Why no folder could be written ("" when one could): a run the store cannot take is then lost.
    std::string problem;
};

using VariableLookup = std::function<const char*(const char*)>;  // getenv

JournalPlace ChooseJournalPlace(const std::string& store, const std::optional<std::string>& recipe,
                                const VariableLookup& variable);
