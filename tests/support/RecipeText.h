// A station recipe given as text: written into a test's folder and loaded as the station loads
// it.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "station/StationRecipe.h"
#include "tests/support/TemporaryFolder.h"

// The file `name` in the folder (its folders made), holding `text`; its path.
inline std::string WrittenFile(const TemporaryFolder& folder, const std::string& name,
                               const std::string& text) {
    const std::string file = folder.file(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file) << text;
    return file;
}

// The recipe of `text`, as recipe.toml; throws RecipeError as the station would.
inline StationSettings LoadedRecipe(const TemporaryFolder& folder, const std::string& text) {
    return LoadStationRecipe(WrittenFile(folder, "recipe.toml", text));
}

// Why the recipe of `text` is refused; empty when it is taken.
inline std::string RecipeRefusal(const TemporaryFolder& folder, const std::string& text) {
    try {
        LoadedRecipe(folder, text);
    } catch (const RecipeError& error) {
        return error.what();
    }
    return {};
}
