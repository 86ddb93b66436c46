// A reader of the line live (LiveState) that waits for news: PostgreSQL's notifications on
// kLiveChannel, or an SQLite file's data version, looked at every kSqliteLookMs. Read-only: it
// works with a role that may only SELECT.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/LiveState.h"
#include "store/SqlRunStore.h"

class PostgresConnection;
class SqliteConnection;

class LiveWatch {
public:
    // Opens the store read-only, as `report` does; throws StoreError (StoreUnavailable for a
    // fault that may pass).
    explicit LiveWatch(const std::string& location);

    // Waits up to `timeoutMs` for a change of the store; true when one may have come. Throws
    // StoreUnavailable when the connection is lost.
    bool waitForNews(int timeoutMs);
    // The live rows written after change `after`; none from a store older than the live state.
    LiveChanges changedAfter(std::int64_t after);
    // For the reader's other queries (the metrics) on the same connection.
    SqlConnection& connection() { return store_->connection(); }

    static constexpr int kSqliteLookMs = 100;

private:
    PostgresConnection* postgres_ = nullptr;  // one of the two, owned by store_
    SqliteConnection* sqlite_ = nullptr;
    std::unique_ptr<SqlRunStore> store_;
    std::int64_t dataVersion_ = 0;
    bool hasLive_ = false;
};
