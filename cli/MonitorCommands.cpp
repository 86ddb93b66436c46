// stats and trace: the statistics and trace windows' requests, driven from the command line.
#include <cstdio>
#include <map>

#include "cli/CommandSupport.h"
#include "cli/StatisticsText.h"
#include "config/Clock.h"
#include "link/TraceChannel.h"

namespace {

constexpr std::uint32_t kTracePollMs = 100;
constexpr std::uint32_t kWaitStepMs = 100;  // how soon a wait notices Ctrl+C

// Waits `ms` on the clock in steps, so that Ctrl+C ends the wait early; false when it did, or
// when nobody reads the output any more.
bool waitUnlessStopped(Console& console, std::uint32_t ms) {
    for (std::uint32_t waited = 0; waited < ms && !console.stopped(); waited += kWaitStepMs) {
        console.clock().sleepMs(std::min(kWaitStepMs, ms - waited));
    }
    return !console.stopped();
}

// A run that a signal ended before its set length: its own exit status, and how far it got.
BoardResult stoppedEarly(const Console& console, const std::string& progress) {
    return {console.stoppedStatus(),
            std::string("stopped by ") + console.stopCause() + " after " + progress};
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
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
        const auto reset = session.statistics(StatisticsRequest::Reset);
        if (!reset.done()) {
            return ReportFailure(options, console, session,
                                 OperationFailure(session, reset.ending));
        }
    }
    int reading = 0;
    for (; options.count == 0 || reading < options.count; ++reading) {
        if (reading > 0 && !waitUnlessStopped(console, std::uint32_t(options.period * 1000))) {
            break;
        }
        if (console.stopped()) break;
        const auto reply = session.statistics(StatisticsRequest::Read);
        if (!reply.done()) {
            return ReportFailure(options, console, session,
                                 OperationFailure(session, reply.ending));
        }
        printStatistics(options, console, session, reply.value, severalBoards);
    }
    if (console.interrupted() && options.count != 0 && reading < options.count) {
        return stoppedEarly(console, std::to_string(reading) + " of " +
                                         std::to_string(options.count) + " readings");
    }
    return {};
}

// The command line's names of the traced streams.
const std::map<std::string, std::uint16_t> kChannelBits = {
    {"bus-rx", TraceMaskBit(TraceChannel::BusReceive)},
    {"bus-tx", TraceMaskBit(TraceChannel::BusTransmit)},
    {"link-rx", TraceMaskBit(TraceChannel::LinkReceive)},
    {"link-tx", TraceMaskBit(TraceChannel::LinkTransmit)}};

// The channel mask of a comma-separated list; 0 when a name is unknown or empty, as the one
// after a trailing comma is.
std::uint16_t channelMask(const std::string& list) {
    std::uint16_t mask = 0;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const auto found = kChannelBits.find(list.substr(start, comma - start));
        if (found == kChannelBits.end()) return 0;
        mask |= found->second;
        if (comma == std::string::npos) return mask;
        start = comma + 1;
    }
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
    const OperationResult<> selected = session.selectTrace(mask);
    if (!selected.done()) {
        return ReportFailure(options, console, session, OperationFailure(session, selected.ending));
    }
    const std::int64_t startUs = console.clock().nowUs();
    const std::int64_t durationUs = std::int64_t((options.duration.value_or(0)) * 1e6);
    for (;;) {
        const OperationResult<TraceLines> polled = session.pollTrace();
        if (!polled.done()) {
            return ReportFailure(options, console, session,
                                 OperationFailure(session, polled.ending));
        }
        printTraceLines(options, console, session, polled.value, severalBoards);
        const bool timeUp = options.duration &&
                            console.clock().nowUs() - startUs + kTracePollMs * 1000 > durationUs;
        if (timeUp) return {};
        if (!waitUnlessStopped(console, kTracePollMs)) break;
    }
    if (console.interrupted() && options.duration) {
        const double elapsed = double(console.clock().nowUs() - startUs) / 1e6;
        return stoppedEarly(console, seconds(elapsed) + " of " + seconds(*options.duration) + " s");
    }
    return {};
}

}  // namespace

int StatsCommand(const Options& options, Console& console) {
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    const bool several = choice.targets.size() > 1;
    return RunOnBoards(choice, options, console, [&](BoardSession& session) {
        return statsBoard(options, console, session, several);
    });
}

int TraceCommand(const Options& options, Console& console) {
    const std::uint16_t mask = channelMask(options.channels);
    if (mask == 0) {
        return Refuse(console,
                      "--channels takes a comma-separated list of bus-rx, bus-tx, link-rx and "
                      "link-tx, not " +
                          Quoted(options.channels));
    }
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    const bool several = choice.targets.size() > 1;
    return RunOnBoards(choice, options, console, [&](BoardSession& session) {
        return traceBoard(options, console, session, mask, several);
    });
}
