// Where a station keeps its journal: the first folder of its list it may write, named after the
// store, with the folders it passed over and an older k350ctl's journals still replayed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "station/JournalPlace.h"
#include "store/StoreIdentity.h"
#include "tests/support/TemporaryFolder.h"

using ::testing::Contains;

namespace {

class JournalPlaceTest : public ::testing::Test {
protected:
    JournalPlace choose(const std::optional<std::string>& recipe = std::nullopt) const {
        return ChooseJournalPlace(store, recipe, [this](const char* name) -> const char* {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        });
    }
    // A folder nobody can make, root included: its parent is a file.
    std::string unmakeable(const std::string& name) const {
        std::ofstream(folder.file("file")) << "x";
        return folder.file("file/" + name);
    }

    TemporaryFolder folder{"k350-place"};
    std::string store = folder.file("line.sqlite");
    std::string name = JournalFileName(store);
    std::map<std::string, std::string> variables;
};

}  // namespace

TEST_F(JournalPlaceTest, SystemdsStateDirectoryComesFirstItsFirstFolderOnly) {
    variables = {{"STATE_DIRECTORY", folder.file("state") + ":" + folder.file("other")},
                 {"XDG_STATE_HOME", folder.file("xdg")},
                 {"HOME", folder.file("home")}};
    const JournalPlace place = choose(folder.file("etc/k350a.toml"));
    EXPECT_EQ(place.path, folder.file("state/" + name));
    EXPECT_TRUE(place.problem.empty());
    // The others may hold this store's runs from an earlier start, and an older k350ctl's journal
    // lies beside the recipe.
    EXPECT_THAT(place.older, Contains(folder.file("xdg/k350/" + name)));
    EXPECT_THAT(place.older, Contains(folder.file("etc/" + name)));
    EXPECT_THAT(place.older, Contains(folder.file("etc/k350a.journal")));
    EXPECT_THAT(place.older,
                Contains(std::filesystem::current_path().string() + "/k350-station.journal"));
}

TEST_F(JournalPlaceTest, WithoutSystemdTheUsersStateFolderIsMade) {
    variables = {{"HOME", folder.file("home")}};
    EXPECT_EQ(choose().path, folder.file("home/.local/state/k350/" + name));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("home/.local/state/k350")));
    variables["XDG_STATE_HOME"] = folder.file("xdg");
    EXPECT_EQ(choose().path, folder.file("xdg/k350/" + name));
}

// A folder it cannot write is passed over: the recipe's folder, then the current one.
TEST_F(JournalPlaceTest, AFolderItCannotWriteIsPassedOver) {
    variables = {{"STATE_DIRECTORY", unmakeable("state")}, {"HOME", "/"}};
    std::filesystem::create_directory(folder.file("etc"));
    const JournalPlace place = choose(folder.file("etc/k350a.toml"));
    EXPECT_EQ(place.path, folder.file("etc/" + name));
    EXPECT_THAT(place.older, Contains(folder.file("file/state/" + name)));
    EXPECT_TRUE(place.problem.empty());
}
