#include <algorithm>
#include <thread>

#include "cli/BoardSession.h"
#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "cli/Help.h"
#include "config/ServiceCodes.h"

namespace {

int usageError(Console& console, const std::string& text) {
    console.message("k350ctl: " + text);
    console.message("Try 'k350ctl --help' for more information.");
    return ExitStatus::Usage;
}

}  // namespace

int RunK350ctl(const std::vector<std::string>& arguments, const Environment& environment) {
    Console console(environment);
    Options options;
    if (auto error = ParseOptions(arguments, options)) return usageError(console, *error);
    if (options.help) {
        console.text(HelpText(options.command));
        return ExitStatus::Ok;
    }
    if (options.version) {
        console.text(VersionText());
        return ExitStatus::Ok;
    }
    if (options.command.empty()) return usageError(console, "no command given");
    const CommandDefinition& command = *FindCommand(options.command);
    const std::size_t wanted = command.operands;
    if (options.operands.size() != wanted) {
        return usageError(console, options.command + " takes " + std::to_string(wanted) +
                                       " argument" + (wanted == 1 ? "" : "s") + ", not " +
                                       std::to_string(options.operands.size()));
    }
    return command.run(options, console);
}

bool HasAccess(const Options& options, Console& console, int level, const std::string& what) {
    const char* fromEnvironment = console.variable("K350_SERVICE_CODE");
    const std::string code = options.code ? *options.code : fromEnvironment ? fromEnvironment : "";
    const int granted = int(ServiceLevelForCode(code).value_or(ServiceLevel::User));
    if (granted >= level) return true;
    const char* needed =
        level >= int(ServiceLevel::FullService) ? "the full service code" : "the service code";
    console.message("k350ctl: " + what + " needs " + needed +
                    (code.empty() ? "; give it with --code or in K350_SERVICE_CODE"
                                  : "; the code given is not it"));
    return false;
}

namespace {

BoardResult runGuarded(const BoardLocation& location, Console& console,
                       const std::function<BoardResult(BoardSession&)>& task) {
    BoardSession session(location, console.clock());
    return task(session);
}

}  // namespace

int RunOnBoards(const BoardChoice& choice, Console& console,
                const std::function<BoardResult(BoardSession&)>& task) {
    std::vector<BoardResult> results(choice.targets.size());
    if (choice.targets.size() == 1) {
        results[0] = runGuarded(choice.targets[0], console, task);
    } else {
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < choice.targets.size(); ++i) {
            workers.emplace_back(
                [&, i] { results[i] = runGuarded(choice.targets[i], console, task); });
        }
        for (auto& worker : workers) worker.join();
    }
    console.endProgress();

    std::string failed;
    int failures = choice.failedBoards;
    int status = ExitStatus::Ok;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const BoardResult& result = results[i];
        if (result.status == ExitStatus::Ok) continue;
        ++failures;
        failed += (failed.empty() ? "" : ", ") + choice.targets[i].text();
        console.message(choice.targets[i].text() + ": failed: " + result.message);
        status = std::max(status, result.status);
    }
    // With several boards, a board that vanished is one more board the operation failed on.
    if (results.size() > 1 && status == ExitStatus::NoBoard) status = ExitStatus::Failed;
    const std::size_t boards = choice.targets.size() + std::size_t(choice.failedBoards);
    if (boards > 1) {
        console.message("k350ctl: " + std::to_string(boards - std::size_t(failures)) + " of " +
                        std::to_string(boards) + " boards succeeded" +
                        (failed.empty() ? "" : "; failed: " + failed));
    }
    if (choice.failedBoards > 0) status = std::max(status, ExitStatus::Failed);
    return status;
}
