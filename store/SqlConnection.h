// One connection to an SQL database, as the run store needs it: statements with text
// parameters written as `?`, rows of text values, and a transaction that no other writer of the
// same store can interleave with.
#pragma once

#include <optional>
#include <string>
#include <vector>

using SqlValue = std::optional<std::string>;  // nothing is NULL
using SqlRow = std::vector<SqlValue>;

// The two databases differ in how they read a time and JSON, and in what helps their planners;
// the rest of each statement is the same text for both.
enum class SqlDialect { Sqlite, Postgres };

// How long a connection to a server waits: to connect, and for each statement (a lock held
// elsewhere included). The record waits long; the live state, which its next write replaces,
// briefly. No statement limit: as long as the statement needs. (SQLite's wait is its LockWait.)
struct SqlPatience {
    int connectSeconds = 10;
    std::optional<int> statementMs{};
};

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    // Runs one statement; throws StoreError with the database's own message on failure.
    virtual std::vector<SqlRow> run(const std::string& sql,
                                    const std::vector<SqlValue>& parameters = {}) = 0;
    // Starts a transaction that holds the store's write lock until commit or rollback.
    virtual void beginExclusive() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // The column type of a key that numbers rows by itself.
    virtual std::string autoKeyType() const = 0;
    virtual SqlDialect dialect() const = 0;
    virtual bool hasTable(const std::string& name) = 0;
};
