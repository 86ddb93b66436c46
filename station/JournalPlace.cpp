#include "station/JournalPlace.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "store/StoreIdentity.h"

namespace fs = std::filesystem;

namespace {

std::string Variable(const VariableLookup& variable, const char* name) {
    const char* value = variable ? variable(name) : nullptr;
    return value ? value : "";
}

std::string Absolute(const fs::path& path) {
    std::error_code error;
    const auto absolute = fs::absolute(path, error);
    auto normal = (error ? path : absolute).lexically_normal();
    if (!normal.has_filename()) normal = normal.parent_path();  // "folder/." is "folder"
    return normal.string();
}

// The candidate folders, in order of preference.
std::vector<std::string> Folders(const std::optional<std::string>& recipe,
                                 const VariableLookup& variable) {
    std::vector<std::string> folders;
    if (const std::string state = Variable(variable, "STATE_DIRECTORY"); !state.empty()) {
        folders.push_back(state.substr(0, state.find(':')));
    }
    if (const std::string xdg = Variable(variable, "XDG_STATE_HOME"); xdg.starts_with("/")) {
        folders.push_back(xdg + "/k350");
    } else if (const std::string home = Variable(variable, "HOME");
               home.starts_with("/") && home != "/") {
        folders.push_back(home + "/.local/state/k350");
    }
    if (recipe) folders.push_back(fs::path(Absolute(*recipe)).parent_path().string());
    folders.push_back(Absolute("."));
    std::vector<std::string> unique;
    for (const std::string& folder : folders) {
        const std::string normal = Absolute(folder);
        if (std::find(unique.begin(), unique.end(), normal) == unique.end()) {
            unique.push_back(normal);
        }
    }
    return unique;
}

// "" when the process may make files in the folder (made with its parents when missing).
std::string WriteProblem(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return folder + ": " + error.message();
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return folder + ": " + std::strerror(errno);
    return {};
}

// Where an older k350ctl kept its journal.
std::vector<std::string> LegacyJournals(const std::optional<std::string>& recipe) {
    std::vector<std::string> journals;
    if (recipe) journals.push_back(Absolute(fs::path(*recipe).replace_extension(".journal")));
    journals.push_back(Absolute("k350-station.journal"));
    return journals;
}

}  // namespace

JournalPlace ChooseJournalPlace(const std::string& store, const std::optional<std::string>& recipe,
                                const VariableLookup& variable) {
    const std::string name = JournalFileName(store);
    const std::vector<std::string> folders = Folders(recipe, variable);
    JournalPlace place;
    std::string problems;
    for (const std::string& folder : folders) {
        const std::string problem = WriteProblem(folder);
        if (problem.empty()) {
            place.path = folder + "/" + name;
            break;
        }
        problems += (problems.empty() ? "" : "; ") + problem;
    }
    if (place.path.empty()) {
        place.path = folders.front() + "/" + name;
        place.problem = problems;
    }
    for (const std::string& folder : folders) {
        if (folder + "/" + name != place.path) place.older.push_back(folder + "/" + name);
    }
    for (const std::string& legacy : LegacyJournals(recipe)) {
        if (std::find(place.older.begin(), place.older.end(), legacy) == place.older.end()) {
            place.older.push_back(legacy);
        }
    }
    return place;
}
