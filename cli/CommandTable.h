// k350ctl's commands, each with its options, ranges, help text and implementation in one entry.
// Adding a command is adding an entry here and its Run function.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace CLI {
class App;
}
struct Options;
class Console;

struct CommandDefinition {
    const char* name;
    const char* synopsis;  // the command and its options, as the general help lists it
    const char* summary;   // what it does, in a few words
    const char* help;      // `k350ctl COMMAND --help`
    std::size_t operands;  // how many arguments it takes (at least, when more may follow)
    bool choosesBoards;    // whether --board and --all apply
    void (*declareOptions)(CLI::App& command, Options& options);
    int (*run)(const Options& options, Console& console);
    bool moreOperands;  // further arguments may follow the required ones
};

const std::vector<CommandDefinition>& CommandTable();
// The command's entry; nullptr for a name that is none.
const CommandDefinition* FindCommand(const std::string& name);

// The options every command accepts besides its own, given before or after it.
void DeclareCommonOptions(CLI::App& program, Options& options);

// A command's option names as the parser knows them, for the manual and the completion.
struct CommandInterface {
    std::string name;
    std::vector<std::string> options;  // "-o", "--output", ...
};
std::vector<CommandInterface> CommandInterfaces();
std::vector<std::string> CommonOptionNames();
