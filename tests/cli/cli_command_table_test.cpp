// cli/CommandTable: the general help, the bash completion and the man page's synopsis name
// every command and option that the parser knows, and nothing else; the documents' examples
// use only commands and options it knows.
#include <gmock/gmock.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
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

// What a Markdown document shows as commands: its shell blocks (```sh) line by line, and the
// code spans of its paragraphs (which may break across lines).
std::vector<std::string> markdownCode(const std::string& text) {
    std::vector<std::string> code;
    std::string paragraph;
    const auto spansOfParagraph = [&] {
        for (std::size_t open = paragraph.find('`'); open != std::string::npos;) {
            const std::size_t close = paragraph.find('`', open + 1);
            if (close == std::string::npos) break;
            code.push_back(paragraph.substr(open + 1, close - open - 1));
            open = paragraph.find('`', close + 1);
        }
        paragraph.clear();
    };
    bool fenced = false, shell = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos && line.compare(start, 3, "```") == 0) {
            spansOfParagraph();
            fenced = !fenced;
            shell = fenced && line.substr(start + 3) == "sh";
        } else if (fenced) {
            if (shell) code.push_back(line);
        } else if (start == std::string::npos) {
            spansOfParagraph();
        } else {
            paragraph += " " + line;
        }
    }
    spansOfParagraph();
    return code;
}

// The lines of the man page's EXAMPLES, as they read.
std::vector<std::string> manPageExamples(const std::string& page) {
    const std::string text = plainManText(page);
    const std::size_t start = text.find(".SH EXAMPLES"), end = text.find(".SH", start + 1);
    std::vector<std::string> code;
    std::istringstream lines(text.substr(start, end - start));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(".")) code.push_back(line);
    }
    return code;
}

struct DocumentedCall {
    std::string command;               // or "" for k350ctl's own options, as in k350ctl --help
    std::vector<std::string> options;  // as written, without their values
    std::string text;
};

bool endsCall(const std::string& token) {
    static const std::set<std::string> separators{"|", "||", "&&", ";", "&", "<", "#"};
    return separators.count(token) != 0 || token.starts_with(">") || token.starts_with("2>") ||
           token.starts_with(")");
}

// Every k350ctl command line in the code: the command after `k350ctl` (or `build/k350ctl`) and
// the options up to the end of the shell command.
std::vector<DocumentedCall> k350ctlCalls(const std::vector<std::string>& code) {
    std::vector<DocumentedCall> calls;
    for (const std::string& text : code) {
        std::istringstream stream(text);
        const std::vector<std::string> tokens{std::istream_iterator<std::string>(stream), {}};
        for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
            if (tokens[i] != "k350ctl" && !tokens[i].ends_with("/k350ctl")) continue;
            DocumentedCall call{"", {}, text};
            std::size_t next = i + 1;
            if (!tokens[next].starts_with("-")) call.command = tokens[next++];
            for (; next < tokens.size() && !endsCall(tokens[next]); ++next) {
                const std::string& token = tokens[next];
                if (token.starts_with("-") && token != "-" && token != "--")
                    call.options.push_back(token.substr(0, token.find('=')));
            }
            calls.push_back(call);
        }
    }
    return calls;
}

bool isPlaceholder(const std::string& word) {
    return std::all_of(word.begin(), word.end(),
                       [](unsigned char c) { return std::isupper(c) != 0; });
}

TEST(CliCommandTableTest, TheDocumentsExamplesUseOnlyKnownCommandsAndTheirOptions) {
    std::map<std::string, std::set<std::string>> optionsOf;
    for (const CommandInterface& command : CommandInterfaces())
        optionsOf[command.name] = optionSet(command.options);
    const std::set<std::string> common = optionSet(CommonOptionNames());
    const std::map<std::string, std::vector<std::string>> documents{
        {"README.md", markdownCode(sourceFile("README.md"))},
        {"docs/line.md", markdownCode(sourceFile("docs/line.md"))},
        {"packaging/k350ctl.1", manPageExamples(sourceFile("packaging/k350ctl.1"))}};
    for (const auto& [document, code] : documents) {
        const std::vector<DocumentedCall> calls = k350ctlCalls(code);
        EXPECT_GE(calls.size(), 4u) << document << ": its examples were not found";
        for (const DocumentedCall& call : calls) {
            const bool known = optionsOf.count(call.command) != 0;
            EXPECT_TRUE(known || call.command.empty() || isPlaceholder(call.command))
                << document << ": no command \"" << call.command << "\" in: " << call.text;
            for (const std::string& option : call.options) {
                EXPECT_TRUE(common.count(option) != 0 ||
                            (known && optionsOf.at(call.command).count(option) != 0))
                    << document << ": " << call.command << " has no option " << option
                    << " in: " << call.text;
            }
        }
    }
}

}  // namespace
