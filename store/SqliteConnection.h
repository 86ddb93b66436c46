// The embedded store: one SQLite file for one bench. Several station processes on the same
// machine may share it; its write lock makes them take turns.
#pragma once

#include <cstdint>
#include <string>

#include "config/Clock.h"
#include "store/RunStore.h"
#include "store/SqlConnection.h"

struct sqlite3;

class SqliteConnection : public SqlConnection {
public:
    // A writer creates the file when missing; a reader opens it read-only, and only when it is
    // there.
    explicit SqliteConnection(const std::string& path, StoreAccess access = StoreAccess::Write,
                              LockWait lockWait = {});
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    std::vector<SqlRow> run(const std::string& sql,
                            const std::vector<SqlValue>& parameters = {}) override;
    void beginExclusive() override;
    void commit() override;
    void rollback() override;
    std::string autoKeyType() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    SqlDialect dialect() const override { return SqlDialect::Sqlite; }
    bool hasTable(const std::string& name) override;
    // Changes whenever another connection commits to the file: a reader's cheap look for news.
    std::int64_t dataVersion();

private:
    // Tables are there and none is k350_schema: another program's file.
    bool holdsOnlyOtherTables();
    void open(const std::string& name, int flags);
    void close();
    [[noreturn]] void fail(const std::string& what) const;
    // SQLite's busy handler: whether to look at the lock again after a short pause.
    static int waitForLock(void* self, int tries);
    bool waitedForLock(int tries);

    sqlite3* db_ = nullptr;
    std::string path_;
    LockWait lockWait_;
    std::int64_t lockWaitStartUs_ = 0;
};
