// The record of the production line: which board got which serial number, and every run of the
// station on every board. One interface over the embedded SQLite file and a shared PostgreSQL
// database, with the same schema in both.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/Measurement.h"
#include "store/SerialForm.h"

// The time as the store keeps it: ISO 8601 in UTC, so benches in other time zones agree.
std::string UtcNow();
std::string UtcSecondsAgo(double seconds);

// A store that cannot be opened, created, upgraded or written. Its message is one line and
// holds no password.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A fault that may pass: the connection lost or refused, the server shutting down or full, the
// file locked or its disk full. Worth opening the store again and retrying.
class StoreUnavailable : public StoreError {
public:
    using StoreError::StoreError;
};
// Such a fault, not waited for because the operator stopped the station.
class StoreWaitStopped : public StoreUnavailable {
public:
    using StoreUnavailable::StoreUnavailable;
};
inline bool IsWaitStopped(const StoreError& error) {
    return dynamic_cast<const StoreWaitStopped*>(&error) != nullptr;
}

// A reader never creates, upgrades or writes a store; a writer creates and upgrades it.
enum class StoreAccess { Write, Read };

// Result of a run: "unfinished" from its start until its end is recorded, so a station that
// dies mid-run leaves its board marked as such.
namespace RunResult {
constexpr const char* Unfinished = "unfinished";
constexpr const char* Passed = "passed";
constexpr const char* Failed = "failed";
// A board the station found but could not take (no access, held, boot mode without an image).
constexpr const char* Unusable = "unusable";
// Stopped by the operator at a step; `failed_step` names it.
constexpr const char* Interrupted = "interrupted";
}  // namespace RunResult

// The steps of a board's run, as its record names them.
namespace StationStep {
constexpr const char* Identify = "identify";
constexpr const char* Boot = "boot";
constexpr const char* Flash = "flash";
constexpr const char* Verify = "verify";
constexpr const char* Config = "config";
constexpr const char* Readback = "readback";
constexpr const char* Soak = "soak";
constexpr const char* Store = "store";  // the store could not be reached
}  // namespace StationStep

// The store a station, `history` and `report` use when none is named.
constexpr const char* kDefaultStore = "k350-line.sqlite";

struct RunRecord {
    std::int64_t id = 0;
    // Names the run in every store and journal, so a run written again is written once.
    std::string key;
    std::string dieId, chipId, serial;
    std::string station;  // host name
    std::string port;     // physical place on the host, e.g. "1-1.3"
    std::string recipe;
    std::string imageSha256, configSha256;
    // Where the board came from: the k350ctl that ran it, who ran it, the lot it belongs to
    // (each empty when not given) and the SHA-256 of the recipe file's bytes.
    std::string programVersion, operatorName, lot, recipeSha256;
    std::string startedAt, finishedAt;  // ISO 8601, UTC
    std::string result = RunResult::Unfinished;
    std::string failedStep, error;
    std::string steps;  // JSON list of {step, started, finished, ok}
    std::optional<double> soakErroneousPercent, soakLostPercent, soakJitterMs;
    // The command run after the board (on_pass, on_fail; empty when none ran), how it ended and
    // what it printed.
    std::string hook, hookStatus, hookOutput;
    std::vector<Measurement> measurements;  // in the order they were taken
};

struct HistoryFilter {
    std::string serial{}, dieId{};
    std::string since{};   // "YYYY-MM-DDTHH:MM:SSZ"; runs started at or after it
    std::string before{};  // the same; runs started before it
};

// A board's run begun, or the run of another bench that has the board under way.
struct ClaimedRun {
    std::int64_t id = 0;                 // the run begun; 0 when the board is under way elsewhere
    std::optional<RunRecord> elsewhere;  // that bench's unfinished run
};

// Of a board's runs since a run's longest time, the one that holds it under way at another bench:
// unfinished and not `station`'s own (an unfinished run of this bench died with its process).
std::optional<RunRecord> UnderWayElsewhere(const std::vector<RunRecord>& runs,
                                           const std::string& station);

class RunStore {
public:
    virtual ~RunStore() = default;
    // The board's serial number: the one it already has, or the next of the plan's range, taken
    // in one transaction so no two boards ever get the same. Throws StoreError when the range is
    // used up or the store holds serials of the other form.
    virtual std::string serialFor(const std::string& dieId, const std::string& chipId,
                                  const SerialPlan& plan) = 0;
    // Throws StoreError when the store holds serials of another form than the plan's: a line
    // never mixes "0010" counted in decimal with "0010" counted in base 36.
    virtual void checkSerials(const SerialPlan& plan) = 0;
    // The serial the store holds for a board that has a passed run (empty when it holds none);
    // none for a board without one. It never gives a serial to a board.
    virtual std::optional<std::string> passedSerial(const std::string& dieId) = 0;
    // Records the start of a run as unfinished; returns its id. A run with a key already
    // recorded is not recorded again: its id is returned.
    virtual std::int64_t beginRun(const RunRecord& run) = 0;
    // Begins the run as beginRun does, unless another bench has the board under way in a run
    // started at or after `since` (UnderWayElsewhere): then nothing is recorded and that run is
    // returned. The look and the start are one transaction, so of two benches that take one board
    // in the same instant only one runs it.
    virtual ClaimedRun claimRun(const RunRecord& run, const std::string& since) = 0;
    // Records the run's end (its id, result, times, failure and figures).
    virtual void finishRun(const RunRecord& run) = 0;
    // Keeps what the command run after the board (on_pass, on_fail) printed and how it ended.
    virtual void recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                            const std::string& output) = 0;
    // Records the whole run by its key, begun or not: what a journal kept reaches the store
    // once however often it is written.
    virtual void recordRun(const RunRecord& run) = 0;
    // Runs in the order they started.
    virtual std::vector<RunRecord> history(const HistoryFilter& filter) = 0;
    // What opening the store has to tell the operator, or "": an upgrade that left damaged runs
    // out of the figures it filled in names them.
    virtual std::string openingNotice() const { return {}; }
    // The last `count` values of a measurement at a port of a station, oldest first: the
    // series the drift rule reads, so a restarted station remembers.
    virtual std::vector<double> portSeries(const std::string& station, const std::string& port,
                                           const std::string& name, int count) = 0;
};

// How a writer of an SQLite store waits for another writer's lock: in short pauses of real time
// (the lock is held by a real program), for at most `ms`, and not once `stopping` says so. A lock
// held longer is a fault that may pass (StoreUnavailable), waited for as any other outage is.
struct LockWait {
    std::function<bool()> stopping{};
    std::uint32_t ms = 60'000;  // a reader's, or a writer not told otherwise
};

// "postgresql://…" or "postgres://…" opens PostgreSQL; anything else is the path of an SQLite
// file. A writer creates a missing file and creates or upgrades the schema on opening; a reader
// (SQLite's read-only mode, PostgreSQL's read-only transactions) refuses a missing file, a file
// or database that is not a k350 store, and a schema it does not know, and changes nothing.
// Throws StoreError (StoreUnavailable for a fault that may pass).
std::unique_ptr<RunStore> OpenRunStore(const std::string& location,
                                       StoreAccess access = StoreAccess::Write,
                                       const LockWait& lockWait = {});
bool IsPostgresLocation(const std::string& location);

// A key no other run of any station has: host, process, time and a random part.
std::string NewRunKey(const std::string& station);
