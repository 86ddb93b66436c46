#include "station/EventJournal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "station/EventIds.h"
#include "store/RunStore.h"

namespace {

// The journal's priorities (syslog's levels).
constexpr int kCritical = 2, kError = 3, kWarning = 4, kNotice = 5, kInfo = 6;
// Where libsystemd sends the entries.
constexpr const char* kJournaldSocket = "/run/systemd/journal/socket";

struct Kind {
    const char* id;
    int priority;
};

Kind BoardEnd(const std::string& state) {
    if (state == "passed") return {EventId::BoardPassed, kInfo};
    if (state == "skipped") return {EventId::BoardSkipped, kInfo};
    if (state == "unusable") return {EventId::BoardUnusable, kError};
    if (state == "interrupted") return {EventId::BoardInterrupted, kWarning};
    if (state == "elsewhere") return {EventId::BoardElsewhere, kNotice};
    return {EventId::BoardFailed, kError};
}

// A board whose run the store did not take is told by where the run is: the store's outage is
// what the plant acts on; its result stays in K350_RESULT.
Kind BoardKind(const StationEvent& event) {
    const Kind end = BoardEnd(event.state);
    if (event.runOutsideStore == "lost") return {EventId::RunLost, kCritical};
    if (event.runOutsideStore == "journal") {
        return {EventId::RunKeptInJournal, std::min(end.priority, kWarning)};
    }
    return end;
}

Kind StepKind(const StationEvent& event) {
    if (event.state == "failed") return {EventId::StepFailed, kError};
    if (event.state == "interrupted") return {EventId::StepInterrupted, kWarning};
    // The board is identified and has its serial and its run: its sequence begins.
    if (event.step == StationStep::Identify) return {EventId::BoardStarted, kInfo};
    return {EventId::StepDone, kInfo};
}

Kind KindOf(const StationEvent& event) {
    if (event.step == "board") return BoardKind(event);
    if (event.step == "drift") return {EventId::AlertDrift, kWarning};
    if (event.step == "hook") {
        return event.state == "done" ? Kind{EventId::HookDone, kInfo}
                                     : Kind{EventId::HookFailed, kError};
    }
    if (event.step == StationStep::Store) {
        return event.state == "waiting" ? Kind{EventId::StoreAway, kWarning}
                                        : Kind{EventId::StoreBack, kInfo};
    }
    if (event.step == "station") {
        return event.state == "unrecorded" ? Kind{EventId::StationHalted, kCritical}
                                           : Kind{EventId::StationStopping, kNotice};
    }
    return StepKind(event);
}

JournalEntry Begun(const std::string& line, Kind kind, const std::string& bench) {
    return {{"MESSAGE", line},
            {"MESSAGE_ID", kind.id},
            {"PRIORITY", std::to_string(kind.priority)},
            {"SYSLOG_IDENTIFIER", "k350ctl"},
            {"K350_BENCH", bench}};
}

// A field nobody knows is left out, rather than matched by an empty query.
void Add(JournalEntry& entry, const char* name, const std::string& value) {
    if (!value.empty()) entry.push_back({name, value});
}

bool ParsedStream(const char* text, dev_t& device, ino_t& inode) {
    const char* end = text + std::strlen(text);
    const char* colon = std::find(text, end, ':');
    unsigned long long deviceNumber = 0, inodeNumber = 0;
    const auto first = std::from_chars(text, colon, deviceNumber);
    if (colon == end || first.ptr != colon || first.ec != std::errc()) return false;
    const auto second = std::from_chars(colon + 1, end, inodeNumber);
    if (second.ptr != end || second.ec != std::errc()) return false;
    device = dev_t(deviceNumber);
    inode = ino_t(inodeNumber);
    return true;
}

}  // namespace

bool OutputIsJournal(const std::function<const char*(const char*)>& variable, int output) {
    // $INVOCATION_ID alone tells a service, not where its output goes: every systemd that sets
    // it sets $JOURNAL_STREAM when that is the journal, and a unit writing to a file keeps it.
    const char* stream = variable("JOURNAL_STREAM");
    dev_t device = 0;
    ino_t inode = 0;
    if (stream == nullptr || !ParsedStream(stream, device, inode)) return false;
    struct stat status {};
    return fstat(output, &status) == 0 && status.st_dev == device && status.st_ino == inode;
}

JournalSink SystemJournal() {
    return [](const JournalEntry& entry) {
        // libsystemd drops an entry without a word when journald's socket is not there (journald
        // stopped, a container without it): the line is printed instead.
        struct stat socket {};
        if (stat(kJournaldSocket, &socket) != 0 || !S_ISSOCK(socket.st_mode)) return false;
        std::vector<std::string> texts;
        texts.reserve(entry.size());
        for (const JournalField& field : entry) texts.push_back(field.name + "=" + field.value);
        std::vector<iovec> parts;
        for (std::string& text : texts) parts.push_back({text.data(), text.size()});
        return sd_journal_sendv(parts.data(), int(parts.size())) >= 0;
    };
}

JournalEntry EventJournal::EventEntry(const StationEvent& event, const std::string& line,
                                      const std::string& bench) {
    JournalEntry entry = Begun(line, KindOf(event), bench);
    Add(entry, "K350_PORT", event.port);
    Add(entry, "K350_DIE_ID", event.dieId);
    Add(entry, "K350_SERIAL", event.serial);
    if (event.step == "drift") {
        Add(entry, "K350_MEASUREMENT", event.measurement);
        Add(entry, "K350_RULE", event.state);
        return entry;
    }
    Add(entry, "K350_STEP", event.step);
    Add(entry, "K350_RESULT", event.state);
    return entry;
}

JournalEntry EventJournal::AlertEntry(const PortAlert& alert, const std::string& line,
                                      const std::string& bench) {
    JournalEntry entry = Begun(line, {EventId::AlertSuspectPort, kWarning}, bench);
    Add(entry, "K350_PORT", alert.port);
    Add(entry, "K350_STEP", alert.step);
    return entry;
}

bool EventJournal::write(const StationEvent& event, const std::string& line) const {
    return sink_ && sink_(EventEntry(event, line, bench_));
}

bool EventJournal::write(const PortAlert& alert, const std::string& line) const {
    return sink_ && sink_(AlertEntry(alert, line, bench_));
}
