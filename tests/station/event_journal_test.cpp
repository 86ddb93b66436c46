// The station's events as journal entries: each printed line goes to the journal with its kind,
// its priority and the board's fields, and is printed after all when the journal does not take
// it; the journal is chosen only when the standard output is the stream systemd named.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "station/EventJournal.h"
#include "station/StationView.h"
#include "tests/support/TemporaryFolder.h"

namespace {

std::map<std::string, std::string> Fields(const JournalEntry& entry) {
    std::map<std::string, std::string> fields;
    for (const JournalField& field : entry) {
        EXPECT_TRUE(fields.emplace(field.name, field.value).second) << field.name << " twice";
    }
    return fields;
}

StationEvent BoardEnd(const std::string& state, const std::string& outside = "") {
    StationEvent event{"1-1.3", "0x350A0123456789AB", "0007", "board", state, 0, 0, "why"};
    event.runOutsideStore = outside;
    return event;
}

// One of each kind of event a station prints, in the order a bad day might bring them.
std::vector<StationEvent> EveryKind() {
    StationEvent drift{"1-1.4", "0x02", "0008", "drift", "trend", 0, 0, "rising"};
    drift.measurement = "flash_seconds";
    drift.values = {1.0, 1.1, 1.2};
    return {{"1-1.3", "0x350A0123456789AB", "0007", "identify", "done", 0, 0, ""},
            {"1-1.3", "0x350A0123456789AB", "0007", "flash", "done", 0, 0, ""},
            {"1-1.3", "0x350A0123456789AB", "0007", "verify", "failed", 0, 0, "mismatch"},
            {"1-1.3", "0x350A0123456789AB", "0007", "soak", "interrupted", 0, 0, "stopped"},
            BoardEnd("passed"),
            BoardEnd("failed"),
            BoardEnd("skipped"),
            BoardEnd("unusable"),
            BoardEnd("interrupted"),
            {"1-1.5", "0x03", "", "board", "elsewhere", 0, 0, "under way on bench b-2"},
            {"1-1.3", "0x350A0123456789AB", "0007", "hook", "done", 0, 0, "on_pass: 0"},
            {"1-1.3", "0x350A0123456789AB", "0007", "hook", "failed", 0, 0, "on_pass: 1"},
            {"1-1.3", "0x350A0123456789AB", "0007", "store", "waiting", 0, 0, "refused"},
            {"1-1.3", "0x350A0123456789AB", "0007", "store", "done", 0, 0, ""},
            BoardEnd("passed", "journal"),
            BoardEnd("failed", "lost"),
            drift,
            {"", "", "", "station", "stopping", 1, 0, ""},
            {"", "", "", "station", "unrecorded", 0, 0, "no new board"}};
}

struct Journaled {
    std::vector<JournalEntry> entries;
    std::vector<std::string> printed;
};

// The events through a view that journals them; `takes` says whether the journal takes them.
Journaled ThroughJournal(const std::vector<StationEvent>& events, bool takes) {
    Journaled result;
    StationView view([&](const std::string& line) { result.printed.push_back(line); }, false);
    view.journalTo(EventJournal(
        [&](const JournalEntry& entry) {
            result.entries.push_back(entry);
            return takes;
        },
        "line2"));
    for (const StationEvent& event : events) view.show(event);
    view.showAlert({"1-1.6", "flash", 3, 5});
    return result;
}

std::vector<std::string> PrintedPlainly(const std::vector<StationEvent>& events) {
    std::vector<std::string> lines;
    StationView view([&](const std::string& line) { lines.push_back(line); }, false);
    for (const StationEvent& event : events) view.show(event);
    view.showAlert({"1-1.6", "flash", 3, 5});
    return lines;
}

}  // namespace

TEST(EventJournal, EachPrintedLineIsOneEntryWithItsKindPriorityAndFields) {
    const std::vector<std::string> plain = PrintedPlainly(EveryKind());
    const Journaled journaled = ThroughJournal(EveryKind(), true);
    EXPECT_TRUE(journaled.printed.empty()) << journaled.printed.front();
    ASSERT_EQ(journaled.entries.size(), plain.size());

    std::set<std::string> ids;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto fields = Fields(journaled.entries[i]);
        EXPECT_EQ(fields.at("MESSAGE"), plain[i]) << "the same text as printed";
        EXPECT_EQ(fields.at("K350_BENCH"), "line2");
        EXPECT_EQ(fields.at("SYSLOG_IDENTIFIER"), "k350ctl");
        EXPECT_TRUE(std::regex_match(fields.at("MESSAGE_ID"), std::regex("[0-9a-f]{32}")));
        // One kind of each here: an id met twice is two kinds sharing it.
        EXPECT_TRUE(ids.insert(fields.at("MESSAGE_ID")).second) << plain[i];
        for (const auto& [name, value] : fields) EXPECT_FALSE(value.empty()) << name;
    }

    const auto field = [&](std::size_t i, const char* name) {
        const auto fields = Fields(journaled.entries[i]);
        return fields.count(name) ? fields.at(name) : "(none)";
    };
    // The board started once identified; its steps and its end by outcome.
    EXPECT_EQ(field(0, "PRIORITY"), "6");
    EXPECT_EQ(field(0, "K350_DIE_ID"), "0x350A0123456789AB");
    EXPECT_EQ(field(0, "K350_SERIAL"), "0007");
    EXPECT_EQ(field(0, "K350_PORT"), "1-1.3");
    EXPECT_EQ(field(2, "K350_STEP"), "verify");
    EXPECT_EQ(field(2, "K350_RESULT"), "failed");
    EXPECT_EQ(field(2, "PRIORITY"), "3");
    EXPECT_EQ(field(3, "PRIORITY"), "4");
    EXPECT_EQ(field(4, "K350_RESULT"), "passed");
    EXPECT_EQ(field(4, "PRIORITY"), "6");
    EXPECT_EQ(field(5, "K350_RESULT"), "failed");
    EXPECT_EQ(field(5, "K350_STEP"), "board");
    EXPECT_EQ(field(5, "PRIORITY"), "3");
    EXPECT_EQ(field(9, "K350_SERIAL"), "(none)") << "a field nobody knows is left out";
    EXPECT_EQ(field(12, "PRIORITY"), "4") << "the store away";
    EXPECT_EQ(field(13, "PRIORITY"), "6") << "the store back";
    // A run the store did not take keeps its result; the journal's kind tells where it went.
    EXPECT_EQ(field(14, "K350_RESULT"), "passed");
    EXPECT_EQ(field(14, "PRIORITY"), "4");
    EXPECT_EQ(field(15, "K350_RESULT"), "failed");
    EXPECT_EQ(field(15, "PRIORITY"), "2");
    // Drift names its measurement and rule; a suspect port the step its failures stopped at.
    EXPECT_EQ(field(16, "K350_MEASUREMENT"), "flash_seconds");
    EXPECT_EQ(field(16, "K350_RULE"), "trend");
    EXPECT_EQ(field(16, "PRIORITY"), "4");
    EXPECT_EQ(field(17, "K350_PORT"), "(none)");
    EXPECT_EQ(field(18, "PRIORITY"), "2");
    const std::size_t alert = plain.size() - 1;
    EXPECT_EQ(field(alert, "K350_PORT"), "1-1.6");
    EXPECT_EQ(field(alert, "K350_STEP"), "flash");
    EXPECT_EQ(field(alert, "PRIORITY"), "4");
}

// A journal that refuses (journald gone, its socket missing) loses no line: each is printed as
// it would have been without it.
TEST(EventJournal, ALineTheJournalDoesNotTakeIsPrinted) {
    const Journaled refused = ThroughJournal(EveryKind(), false);
    EXPECT_EQ(refused.printed, PrintedPlainly(EveryKind()));
    EXPECT_EQ(refused.entries.size(), refused.printed.size());
}

TEST(EventJournal, OnlyTheStreamSystemdNamedForTheOutputIsTheJournal) {
    TemporaryFolder folder{"k350-journal"};
    const int output = open(folder.file("out").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    const int other = open(folder.file("other").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(output, 0);
    ASSERT_GE(other, 0);
    struct stat status {};
    ASSERT_EQ(fstat(output, &status), 0);
    const std::string itself = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    std::map<std::string, std::string> environment;
    const auto variable = [&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };

    EXPECT_FALSE(OutputIsJournal(variable, output)) << "no service manager";
    // A service whose output goes to a file has an invocation but no journal stream.
    environment["INVOCATION_ID"] = "0123456789abcdef0123456789abcdef";
    EXPECT_FALSE(OutputIsJournal(variable, output));
    environment["JOURNAL_STREAM"] = itself;
    EXPECT_TRUE(OutputIsJournal(variable, output));
    // The output redirected since (a pipe, a file): its lines stay there.
    EXPECT_FALSE(OutputIsJournal(variable, other));
    for (const std::string& bogus :
         std::vector<std::string>{"", ":", "8:", ":12", "8", "x:y", "8:12:1", " 8:12",
                                  "99999999999999999999999:1", itself + "0", itself + " "}) {
        environment["JOURNAL_STREAM"] = bogus;
        EXPECT_FALSE(OutputIsJournal(variable, output)) << bogus;
    }
    close(output);
    close(other);
}
