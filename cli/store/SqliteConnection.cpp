#include "cli/store/SqliteConnection.h"

#include <sqlite3.h>

#include <memory>

#include "cli/store/RunStore.h"

namespace {
// Another station holding the write lock keeps it for one short transaction; waiting this long
// only ever ends on a store that is stuck.
constexpr int kBusyTimeoutMs = 60'000;

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
}  // namespace

SqliteConnection::SqliteConnection(const std::string& path) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("store " + path + " cannot be opened: " + message);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // The write-ahead log lets readers (history) go on while a station writes; a run's record
    // is on disk when its transaction commits.
    run("PRAGMA journal_mode = WAL");
    run("PRAGMA synchronous = FULL");
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close(db_);
}

void SqliteConnection::fail(const std::string& what) const {
    throw StoreError("store " + path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

std::vector<SqlRow> SqliteConnection::run(const std::string& sql,
                                          const std::vector<SqlValue>& parameters) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &raw, nullptr) != SQLITE_OK) {
        fail("cannot prepare a statement");
    }
    std::unique_ptr<sqlite3_stmt, StatementCloser> statement(raw);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int index = int(i) + 1;
        const int bound = parameters[i]
                              ? sqlite3_bind_text(raw, index, parameters[i]->c_str(),
                                                  int(parameters[i]->size()), SQLITE_TRANSIENT)
                              : sqlite3_bind_null(raw, index);
        if (bound != SQLITE_OK) fail("cannot bind a value");
    }
    std::vector<SqlRow> rows;
    for (;;) {
        const int step = sqlite3_step(raw);
        if (step == SQLITE_DONE) break;
        if (step != SQLITE_ROW) fail("statement failed");
        SqlRow row;
        for (int column = 0; column < sqlite3_column_count(raw); ++column) {
            const auto* text = sqlite3_column_text(raw, column);
            row.push_back(text ? SqlValue(reinterpret_cast<const char*>(text)) : SqlValue());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void SqliteConnection::beginExclusive() {
    run("BEGIN IMMEDIATE");
}

void SqliteConnection::commit() {
    run("COMMIT");
}

void SqliteConnection::rollback() {
    run("ROLLBACK");
}
