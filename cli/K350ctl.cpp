#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "cli/Help.h"
#include "config/ServiceCodes.h"
#include "link/BoardSession.h"
#include "store/Json.h"

namespace {

// Output that was lost is never success: a broken pipe ends the program as the pipe's signal
// would, any other failure is a file that cannot be written.
int finished(Console& console, int status) {
    if (!console.outputFailed()) return status;
    if (console.outputErrno() == EPIPE) return ExitStatus::Signalled + SIGPIPE;
    console.message(std::string("k350ctl: standard output cannot be written: ") +
                    std::strerror(console.outputErrno()));
    return ExitStatus::File;
}

int run(const std::vector<std::string>& arguments, Console& console) {
    Options options;
    if (auto error = ParseOptions(arguments, options)) return Refuse(console, *error);
    if (options.help) {
        console.text(HelpText(options.command));
        return ExitStatus::Ok;
    }
    if (options.version) {
        console.text(VersionText());
        return ExitStatus::Ok;
    }
    if (options.command.empty()) return Refuse(console, "no command given");
    const CommandDefinition& command = *FindCommand(options.command);
    const std::size_t wanted = command.operands;
    const std::size_t given = options.operands.size();
    if (given != wanted && !(command.moreOperands && given > wanted)) {
        return Refuse(console, options.command + " takes " +
                                   (command.moreOperands ? "at least " : "") +
                                   std::to_string(wanted) + " argument" + (wanted == 1 ? "" : "s") +
                                   ", not " + std::to_string(given));
    }
    return command.run(options, console);
}

}  // namespace

int RunK350ctl(const std::vector<std::string>& arguments, const Environment& environment) {
    Console console(environment);
    return finished(console, run(arguments, console));
}

int Refuse(Console& console, const std::string& reason) {
    console.message("k350ctl: " + reason);
    console.message("Try 'k350ctl --help' for more information.");
    return ExitStatus::Usage;
}

std::string AccessRefusal(const std::optional<std::string>& given, Console& console,
                          ServiceLevel needed, const std::string& what) {
    const char* fromEnvironment = console.variable("K350_SERVICE_CODE");
    const std::string code = given ? *given : fromEnvironment ? fromEnvironment : "";
    const ServiceLevel granted = ServiceLevelForCode(code).value_or(ServiceLevel::User);
    if (int(granted) >= int(needed)) return {};
    return what + " needs " +
           (needed == ServiceLevel::FullService ? "the full service code" : "the service code") +
           (code.empty() ? "; give it with --code or in K350_SERVICE_CODE"
                         : "; the code given is not it");
}

bool HasAccess(const Options& options, Console& console, int level, const std::string& what) {
    const std::string refusal = AccessRefusal(options.code, console, ServiceLevel(level), what);
    if (refusal.empty()) return true;
    Refuse(console, refusal);
    return false;
}

namespace {

BoardResult runGuarded(const BoardLocation& location, Console& console,
                       const std::function<BoardResult(BoardSession&)>& task) {
    BoardSession session(location, console.clock());
    return task(session);
}

}  // namespace

namespace {

// A board the command did not run on is named in the JSON as a failed one, with the reason.
void reportLeftOut(const BoardChoice& choice, const Options& options, Console& console) {
    if (!options.json) return;
    for (const BoardLeftOut& board : choice.leftOut) {
        console.data(JsonText({{"board", board.location.text()},
                               {"ok", false},
                               {"exit_status", ExitStatus::Failed},
                               {"error", board.reason}}));
    }
}

std::vector<BoardResult> runAll(const BoardChoice& choice, Console& console,
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
    return results;
}

}  // namespace

int RunOnBoards(const BoardChoice& choice, const Options& options, Console& console,
                const std::function<BoardResult(BoardSession&)>& task) {
    reportLeftOut(choice, options, console);
    const std::vector<BoardResult> results = runAll(choice, console, task);
    std::vector<std::string> failed;
    for (const BoardLeftOut& board : choice.leftOut) failed.push_back(board.location.text());
    int status = choice.leftOut.empty() ? ExitStatus::Ok : ExitStatus::Failed;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const BoardResult& result = results[i];
        if (result.status == ExitStatus::Ok) continue;
        failed.push_back(choice.targets[i].text());
        const bool stopped = result.status > ExitStatus::Signalled;
        console.message(choice.targets[i].text() + (stopped ? ": " : ": failed: ") +
                        result.message);
        status = std::max(status, result.status);
    }
    // With several boards, a board that vanished is one more board the operation failed on.
    if (results.size() > 1 && status == ExitStatus::NoBoard) status = ExitStatus::Failed;
    const std::size_t boards = choice.targets.size() + choice.leftOut.size();
    if (boards > 1) {
        std::string names;
        for (const std::string& name : failed) names += (names.empty() ? "" : ", ") + name;
        console.message("k350ctl: " + std::to_string(boards - failed.size()) + " of " +
                        std::to_string(boards) + " boards succeeded" +
                        (names.empty() ? "" : "; failed: " + names));
    }
    return status;
}
