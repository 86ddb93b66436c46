// The station's events in systemd's journal with fields of their own (MESSAGE_ID per kind of
// event, PRIORITY by outcome, K350_PORT, K350_DIE_ID, K350_SERIAL, K350_STEP, K350_RESULT,
// K350_BENCH), so `journalctl -u k350-station@line2 K350_RESULT=failed` finds the failures. The
// MESSAGE is the line the station prints elsewhere.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "station/StationJob.h"
#include "store/PortAlertRule.h"

struct JournalField {
    std::string name, value;
    bool operator==(const JournalField&) const = default;
};
using JournalEntry = std::vector<JournalField>;
// Writes one entry; false when the journal did not take it (the line is then printed).
using JournalSink = std::function<bool(const JournalEntry&)>;

// Whether the station's lines go to the journal: systemd names the stream it connected a
// service's output to in $JOURNAL_STREAM ("device:inode"); the lines are written natively only
// when that stream is still the standard output `output` they go to.
bool OutputIsJournal(const std::function<const char*(const char*)>& variable, int output);

// libsystemd's sd_journal_sendv.
JournalSink SystemJournal();

class EventJournal {
public:
    EventJournal(JournalSink sink, std::string bench)
        : sink_(std::move(sink)), bench_(std::move(bench)) {}
    // The event's printed line with its fields; false when the journal did not take it.
    bool write(const StationEvent& event, const std::string& line) const;
    bool write(const PortAlert& alert, const std::string& line) const;

    static JournalEntry EventEntry(const StationEvent& event, const std::string& line,
                                   const std::string& bench);
    static JournalEntry AlertEntry(const PortAlert& alert, const std::string& line,
                                   const std::string& bench);

private:
    JournalSink sink_;
    std::string bench_;
};
