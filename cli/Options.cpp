#include "cli/Options.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

const char* const kCommands[] = {"list",  "read", "write", "flash", "stats",
                                 "trace", "show", "diff",  nullptr};

bool IsCommand(const std::string& name) {
    for (const char* const* command = kCommands; *command; ++command) {
        if (name == *command) return true;
    }
    return false;
}

namespace {

using Error = std::optional<std::string>;

// Options each command accepts besides --help, --json, --board, --all and --code.
const std::map<std::string, std::set<std::string>> kCommandOptions = {
    {"list", {}},
    {"read", {"-o", "--output"}},
    {"write", {"--full"}},
    {"flash", {"--verify"}},
    {"stats", {"--period", "--count", "--reset"}},
    {"trace", {"--channels", "--duration"}},
    {"show", {}},
    {"diff", {}},
};
const std::set<std::string> kValueOptions = {"-o",       "--output", "--board",    "--code",
                                             "--period", "--count",  "--channels", "--duration"};
const std::set<std::string> kGlobalOptions = {"--help",  "-h",    "--version", "--json",
                                              "--board", "--all", "--code"};

Error number(const std::string& name, const std::string& text, double low, double high,
             double& out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < low || value > high) {
        return name + " needs a number from " + std::to_string(int(low)) + " to " +
               std::to_string(int(high)) + ", not \"" + text + "\"";
    }
    out = value;
    return std::nullopt;
}

Error apply(const std::string& name, const std::string& value, Options& options) {
    if (name == "--help" || name == "-h")
        options.help = true;
    else if (name == "--version")
        options.version = true;
    else if (name == "--json")
        options.json = true;
    else if (name == "--all")
        options.all = true;
    else if (name == "--board")
        options.board = value;
    else if (name == "--code")
        options.code = value;
    else if (name == "-o" || name == "--output")
        options.output = value;
    else if (name == "--full")
        options.full = true;
    else if (name == "--verify")
        options.verify = true;
    else if (name == "--reset")
        options.reset = true;
    else if (name == "--channels")
        options.channels = value;
    else if (name == "--period")
        return number(name, value, 1, 999, options.period);
    else if (name == "--duration") {
        double seconds = 0;
        if (Error error = number(name, value, 0, 86400, seconds)) return error;
        options.duration = seconds;
    } else if (name == "--count") {
        double count = 0;
        if (Error error = number(name, value, 0, 1e9, count)) return error;
        if (count != std::floor(count)) return "--count needs a whole number";
        options.count = int(count);
    }
    return std::nullopt;
}

bool accepted(const std::string& command, const std::string& name) {
    if (kGlobalOptions.count(name)) return true;
    const auto found = kCommandOptions.find(command);
    return found != kCommandOptions.end() && found->second.count(name);
}

}  // namespace

std::optional<std::string> ParseOptions(const std::vector<std::string>& arguments,
                                        Options& options) {
    std::vector<std::pair<std::string, std::string>> given;
    bool operandsOnly = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (operandsOnly || argument == "-" || argument.empty() || argument[0] != '-') {
            if (options.command.empty() && !operandsOnly) {
                options.command = argument;
            } else {
                options.operands.push_back(argument);
            }
            continue;
        }
        if (argument == "--") {
            operandsOnly = true;
            continue;
        }
        std::string name = argument, value;
        const std::size_t equals = argument.find('=');
        const bool inlineValue = argument.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        if (kValueOptions.count(name) && !inlineValue) {
            if (i + 1 >= arguments.size()) return name + " needs a value";
            value = arguments[++i];
        } else if (!kValueOptions.count(name) && inlineValue) {
            return name + " takes no value";
        }
        given.emplace_back(name, value);
    }
    if (!options.command.empty() && !IsCommand(options.command)) {
        return "unknown command \"" + options.command + "\"";
    }
    for (const auto& [name, value] : given) {
        const bool known = kGlobalOptions.count(name) || kValueOptions.count(name) ||
                           name == "--full" || name == "--verify" || name == "--reset";
        if (!known) return "unknown option " + name;
        if (!options.command.empty() && !accepted(options.command, name)) {
            return "option " + name + " does not apply to " + options.command;
        }
        if (Error error = apply(name, value, options)) return error;
    }
    if (options.all && !options.board.empty()) return "--board and --all exclude each other";
    return std::nullopt;
}
