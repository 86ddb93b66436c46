// cli/CommandTable: the general help, the bash completion and the man page's synopsis name
// every command and option that the parser knows, and nothing else.
#include <gmock/gmock.h>

#include <fstream>
#include <set>
#include <sstream>

#include "cli/CommandTable.h"
#include "cli/Help.h"

namespace {

using ::testing::HasSubstr;

std::string sourceFile(const std::string& path) {
    std::ifstream file(std::string(K350_SOURCE_DIR) + "/" + path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::set<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.replace(at, what.size(), with);
        at += with.size();
    }
    return text;
}

// The man page's text with the font changes and escaped hyphens resolved.
std::string plainManText(std::string text) {
    for (const char* font : {"\\fB", "\\fI", "\\fR"}) text = replaced(text, font, "");
    return replaced(text, "\\-", "-");
}

// The words of a quoted list that follows start, as in `local commands="list read"`.
std::set<std::string> quotedWords(const std::string& text, const std::string& start) {
    const std::size_t at = text.find(start);
    if (at == std::string::npos) return {};
    const std::size_t from = at + start.size();
    return words(text.substr(from, text.find('"', from) - from));
}

std::set<std::string> optionSet(const std::vector<std::string>& options) {
    return {options.begin(), options.end()};
}

TEST(CliCommandTableTest, TheGeneralHelpListsEveryCommand) {
    const std::string help = HelpText("");
    for (const CommandDefinition& command : CommandTable()) {
        EXPECT_THAT(help, HasSubstr("\n  " + std::string(command.synopsis))) << command.name;
        EXPECT_THAT(std::string(command.help),
                    ::testing::StartsWith("Usage: k350ctl " + std::string(command.name)));
    }
}

TEST(CliCommandTableTest, TheBashCompletionOffersEachCommandsOptions) {
    const std::string completion = sourceFile("packaging/k350ctl.bash-completion");
    std::vector<std::string> names;
    for (const CommandDefinition& command : CommandTable()) names.push_back(command.name);
    EXPECT_EQ(quotedWords(completion, "local commands=\""),
              std::set<std::string>(names.begin(), names.end()));
    EXPECT_EQ(quotedWords(completion, "local global=\""), optionSet(CommonOptionNames()));
    for (const CommandInterface& command : CommandInterfaces()) {
        const std::string entry = " " + command.name + ") options=\"";
        ASSERT_NE(completion.find(entry), std::string::npos) << command.name;
        EXPECT_EQ(quotedWords(completion, entry), optionSet(command.options)) << command.name;
    }
}

TEST(CliCommandTableTest, TheManPageSynopsisShowsEachCommandWithItsOptions) {
    const std::string page = plainManText(sourceFile("packaging/k350ctl.1"));
    const std::size_t start = page.find(".SH SYNOPSIS"), end = page.find(".SH DESCRIPTION");
    ASSERT_NE(start, std::string::npos);
    const std::string synopsis = page.substr(start, end - start);
    std::set<std::string> listed;
    std::istringstream lines(synopsis);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("k350ctl ")) listed.insert(line.substr(8, line.find(' ', 8) - 8));
    }
    for (const CommandInterface& command : CommandInterfaces()) {
        EXPECT_EQ(listed.count(command.name), 1u) << command.name;
        const std::size_t at = synopsis.find("k350ctl " + command.name);
        const std::string line = synopsis.substr(at, synopsis.find('\n', at) - at);
        for (const std::string& option : command.options) {
            std::string spaced = line;
            for (char& c : spaced) {
                if (c == '[' || c == ']' || c == '|') c = ' ';
            }
            EXPECT_THAT(words(spaced), ::testing::Contains(option)) << command.name;
        }
    }
    EXPECT_EQ(listed.size(), CommandTable().size());
}

}  // namespace
