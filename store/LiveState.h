// The line live: each bench's heartbeat and each port's board and step, as the stations publish
// them through the store for `serve` to show. The tables hold the truth; every row carries the
// number of the change that wrote it last, counted for the whole store, so a reader asks for what
// changed after the last number it saw and gets it in the order it was written. On PostgreSQL a
// write is announced on kLiveChannel with its change number; on SQLite a reader looks at the
// file's data version.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/RunStore.h"
#include "store/SqlConnection.h"

constexpr const char* kLiveChannel = "k350_live";

// A bench's state: what a station says of itself.
namespace BenchState {
constexpr const char* Running = "running";
constexpr const char* Stopping = "stopping";  // takes no new board, finishes those under way
constexpr const char* Stopped = "stopped";
}  // namespace BenchState

struct BenchLive {
    std::string name;  // the bench's name in the record (K350_STATION or the host's name)
    std::string host, version, recipe;
    std::vector<std::string> ports;      // the ports it has seen a board at, in order
    std::string startedAt, heartbeatAt;  // ISO 8601, UTC
    std::string state = BenchState::Running;
    std::optional<int> journalRuns;  // runs its journal keeps for the store; none: not told
    std::int64_t change = 0;         // set by the store
};

struct PortLive {
    std::string bench, port;
    std::string dieId, serial;
    // The step and its state as the station's JSON lines name them; "board" with the result at
    // the board's end.
    std::string step, state;
    std::uint32_t done = 0, total = 0;  // the step's progress
    std::string stepSince;              // when the step began
    std::string updatedAt;
    std::string lastResult, lastError, lastEndedAt;  // the last board's end at this port
    std::int64_t change = 0;                         // set by the store
};

struct LiveChanges {
    std::vector<BenchLive> benches;
    std::vector<PortLive> ports;
    std::int64_t last = 0;  // the highest change number in the store
};

class LiveState {
public:
    explicit LiveState(SqlConnection& db) : db_(db) {}
    // Each write is a transaction of its own that takes the next change number; the row that
    // holds the counter is locked until its commit, so changes commit in the order of their
    // numbers and a reader never sees a later one before an earlier.
    void writeBench(const BenchLive& bench);
    void writePort(const PortLive& port);
    // The rows written after change `after` (0: all), each table in change order.
    LiveChanges changedAfter(std::int64_t after);

    // The statements that make the tables, for the store's upgrade.
    static std::vector<std::string> Schema();

private:
    template <typename Write>
    void written(const std::string& what, Write write);

    SqlConnection& db_;
};

// A connection for the live state: it gives up on a store that does not answer within seconds
// (a later write replaces what was not written), and a writer's commits to an SQLite file wait
// for the disk only at its checkpoints. Throws StoreError.
std::unique_ptr<SqlConnection> OpenLiveConnection(const std::string& location, StoreAccess access);
