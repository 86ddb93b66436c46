// stats and trace: the statistics and trace windows' requests, driven from the command line.
#include <map>
#include <sstream>

#include "cli/CommandSupport.h"
#include "cli/StatisticsText.h"
#include "link/Clock.h"

namespace {

constexpr std::uint32_t kTracePollMs = 100;
constexpr std::uint32_t kWaitStepMs = 100;  // how soon a wait notices Ctrl+C

// Waits `ms` on the clock in steps, so that Ctrl+C ends the wait early; false when it did.
bool waitUnlessInterrupted(Console& console, std::uint32_t ms) {
    for (std::uint32_t waited = 0; waited < ms && !console.interrupted(); waited += kWaitStepMs) {
        console.clock().sleepMs(std::min(kWaitStepMs, ms - waited));
    }
    return !console.interrupted();
}

// With several boards each text line says whose it is.
std::string linePrefix(const BoardSession& session, bool severalBoards) {
    return severalBoards ? session.location().text() + " " : "";
}

void printStatistics(const Options& options, Console& console, const BoardSession& session,
                     const LinkStatisticsReply& reply, bool severalBoards) {
    const auto fields = DescribeStatistics(reply.record, reply.received);
    if (options.json) {
        Json object = BoardJson(session, true);
        for (const auto& field : fields) object[field.name] = JsonNumberText(field.number);
        console.data(JsonText(object));
        return;
    }
    std::string block;
    for (const auto& field : fields) {
        block += linePrefix(session, severalBoards) + field.name + ":" +
                 (field.text.empty() ? "" : " " + field.text) + "\n";
    }
    console.data(block);  // the blank line after it separates the readings
}

BoardResult statsBoard(const Options& options, Console& console, BoardSession& session,
                       bool severalBoards) {
    if (options.reset) {
        const CliChannel::Outcome& outcome = session.run(WorkerRequest::ResetStatistics);
        if (!outcome.statistics) {
            return ReportFailure(options, console, session, OperationFailure(outcome));
        }
    }
    for (int reading = 0; options.count == 0 || reading < options.count; ++reading) {
        if (reading > 0 && !waitUnlessInterrupted(console, std::uint32_t(options.period * 1000))) {
            break;
        }
        if (console.interrupted()) break;
        const CliChannel::Outcome& outcome = session.run(WorkerRequest::ReadStatistics);
        if (!outcome.statistics) {
            return ReportFailure(options, console, session, OperationFailure(outcome));
        }
        printStatistics(options, console, session, *outcome.statistics, severalBoards);
    }
    return {};
}

const std::map<std::string, std::uint16_t> kChannelBits = {
    {"bus-rx", 1u << 0}, {"bus-tx", 1u << 1}, {"link-rx", 1u << 2}, {"link-tx", 1u << 3}};

// The channel mask of a comma-separated list; 0 when a name is unknown or the list is empty.
std::uint16_t channelMask(const std::string& list) {
    std::uint16_t mask = 0;
    std::stringstream names(list);
    for (std::string name; std::getline(names, name, ',');) {
        const auto found = kChannelBits.find(name);
        if (found == kChannelBits.end()) return 0;
        mask |= found->second;
    }
    return mask;
}

void printTraceLines(const Options& options, Console& console, const BoardSession& session,
                     const std::vector<std::string>& lines, bool severalBoards) {
    for (const auto& line : lines) {
        if (options.json) {
            console.data(JsonText({{"board", session.location().text()}, {"line", line}}));
        } else {
            console.data(linePrefix(session, severalBoards) + line);
        }
    }
}

BoardResult traceBoard(const Options& options, Console& console, BoardSession& session,
                       std::uint16_t mask, bool severalBoards) {
    session.channel().traceMask = mask;
    session.channel().onTraceLines = [&](const std::vector<std::string>& lines) {
        printTraceLines(options, console, session, lines, severalBoards);
    };
    const CliChannel::Outcome& selected = session.run(WorkerRequest::SetTrace);
    if (selected.windowStopped || !selected.errors.empty()) {
        return ReportFailure(options, console, session, OperationFailure(selected));
    }
    const std::int64_t startUs = console.clock().nowUs();
    const std::int64_t durationUs = std::int64_t((options.duration.value_or(0)) * 1e6);
    for (;;) {
        const CliChannel::Outcome& polled = session.run(WorkerRequest::PollTrace);
        if (polled.windowStopped || !polled.errors.empty()) {
            return ReportFailure(options, console, session, OperationFailure(polled));
        }
        const bool timeUp = options.duration &&
                            console.clock().nowUs() - startUs + kTracePollMs * 1000 > durationUs;
        if (timeUp || !waitUnlessInterrupted(console, kTracePollMs)) break;
    }
    return {};
}

}  // namespace

int StatsCommand(const Options& options, Console& console) {
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    const bool several = choice.targets.size() > 1;
    return RunOnBoards(choice, console, [&](BoardSession& session) {
        return statsBoard(options, console, session, several);
    });
}

int TraceCommand(const Options& options, Console& console) {
    const std::uint16_t mask = channelMask(options.channels);
    if (mask == 0) {
        console.message(
            "k350ctl: --channels takes a comma-separated list of bus-rx, bus-tx, "
            "link-rx and link-tx, not \"" +
            options.channels + "\"");
        return ExitStatus::Usage;
    }
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    const bool several = choice.targets.size() > 1;
    return RunOnBoards(choice, console, [&](BoardSession& session) {
        return traceBoard(options, console, session, mask, several);
    });
}
