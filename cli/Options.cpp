#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/CommandTable.h"
#include "cli/Console.h"

namespace {

using Error = std::optional<std::string>;

// The command whose options include name, if any.
const char* commandWithOption(const std::string& name) {
    for (const CommandInterface& command : CommandInterfaces()) {
        for (const std::string& option : command.options) {
            if (option == name) return FindCommand(command.name)->name;
        }
    }
    return nullptr;
}

// What the parser left over: an unknown command, or an option that is unknown or belongs to
// another command.
Error leftOver(const std::vector<std::string>& arguments, const std::string& command) {
    for (const std::string& argument : arguments) {
        if (argument == "--") continue;
        if (argument.size() < 2 || argument[0] != '-') {
            return "unknown command " + Quoted(argument);
        }
        const std::string name = argument.substr(0, argument.find('='));
        if (!commandWithOption(name)) return "unknown option " + Quoted(name);
        if (command.empty()) return "option " + name + " needs its command before it";
        return "option " + name + " does not apply to " + command +
               (FindCommand(command) && commandWithOption(name) == command
                    ? "; give it after the command"
                    : "");
    }
    return std::nullopt;
}

// The spelling of the option the user gave ("-o" for "--output"): the last one among its names.
std::string spellingOf(const std::string& name, const std::vector<std::string>& arguments) {
    std::vector<std::string> names = {name};
    for (const CommandInterface& command : CommandInterfaces()) {
        const auto& options = command.options;
        const auto found = std::find(options.begin(), options.end(), name);
        if (found == options.end()) continue;
        if (found != options.begin() && (found - 1)->size() == 2) names.push_back(*(found - 1));
    }
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument) {
        if (std::find(names.begin(), names.end(), *argument) != names.end()) return *argument;
    }
    return name;
}

// CLI11's own wording for the few errors it finds itself, in k350ctl's words.
std::string parseProblem(const CLI::ParseError& error, const std::vector<std::string>& arguments) {
    const std::string text = error.what();
    const std::string name = text.substr(0, text.find_first_of(": "));
    if (text.find("At Most 1 required but received") != std::string::npos) {
        return spellingOf(name, arguments) + " is given more than once";
    }
    if (text.find("disallowed flag override") != std::string::npos) {
        return "--" + name + " takes no value";
    }
    if (text.find("required") != std::string::npos && text.find("missing") != std::string::npos) {
        return spellingOf(name, arguments) + " needs a value";
    }
    return text;
}

}  // namespace

std::optional<std::string> ParseOptions(const std::vector<std::string>& arguments,
                                        Options& options) {
    CLI::App program;
    program.set_help_flag();
    program.allow_extras();
    program.fallthrough();
    // One command: a later word that names another ("reference list") is an operand.
    program.require_subcommand(0, 1);
    DeclareCommonOptions(program, options);
    std::vector<CLI::App*> commands;
    for (const CommandDefinition& definition : CommandTable()) {
        CLI::App* command = program.add_subcommand(definition.name);
        command->add_option("operands", options.operands);
        definition.declareOptions(*command, options);
        commands.push_back(command);
    }
    // After "--" every argument is an operand, even one that starts with a dash.
    const auto separator = std::find(arguments.begin(), arguments.end(), "--");
    try {
        program.parse(
            std::vector<std::string>(std::make_reverse_iterator(separator), arguments.rend()));
    } catch (const UsageProblem& problem) {
        return problem.what();
    } catch (const CLI::ParseError& error) {
        return parseProblem(error, arguments);
    }
    std::vector<std::string> rest = program.remaining();
    for (CLI::App* command : commands) {
        if (!command->parsed()) continue;
        options.command = command->get_name();
        const std::vector<std::string> own = command->remaining();
        rest.insert(rest.begin(), own.begin(), own.end());
    }
    if (Error error = leftOver(rest, options.command)) return error;
    if (separator != arguments.end())
        options.operands.insert(options.operands.end(), separator + 1, arguments.end());
    if (program.count("--board") && options.board.empty()) {
        return "--board needs a location or a die ID, not \"\"";
    }
    if (options.all && !options.board.empty()) return "--board and --all exclude each other";
    const CommandDefinition* command = FindCommand(options.command);
    if (command && !command->choosesBoards && (options.all || !options.board.empty())) {
        return std::string(options.all ? "--all" : "--board") + " does not apply to " +
               options.command;
    }
    return std::nullopt;
}
