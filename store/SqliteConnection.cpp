#include "store/SqliteConnection.h"

#include <sqlite3.h>
#include <sys/statvfs.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "store/StoreText.h"

namespace {
// The pause between two looks at another writer's lock: a stop is seen after at most this long.
constexpr std::uint32_t kLockLookMs = 10;
// A stop ends a wait for the lock, not another writer's short transaction: a run ended by the
// operator still takes its turn.
constexpr std::int64_t kStopAfterUs = 200'000;

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// Faults that pass: another writer, a full disk, an I/O error of the medium.
bool MayPass(int code) {
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_PROTOCOL:
        case SQLITE_NOMEM:
            return true;
        default:
            return false;
    }
}

bool OnReadOnlyMedium(const std::string& path) {
    struct statvfs medium {};
    return statvfs(path.c_str(), &medium) == 0 && (medium.f_flag & ST_RDONLY) != 0;
}

// The path as an SQLite URI: nothing in it is taken for a parameter.
std::string FileUri(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : std::filesystem::absolute(path).string()) {
        if (c == '?' || c == '#' || c == '%' || c < 0x20) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        } else {
            uri += char(c);
        }
    }
    return uri;
}
}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, StoreAccess access, LockWait lockWait)
    : path_(path), lockWait_(std::move(lockWait)) {
    if (access == StoreAccess::Write) {
        open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // No destructor runs for a throwing constructor: a file refused here is closed again.
        try {
            // Before anything is changed: another program's file is never made a store.
            if (holdsOnlyOtherTables()) {
                throw StoreError("store " + ShownLocation(path) +
                                 " holds another program's tables and is not a k350 store; "
                                 "nothing was changed; give a new file with --store");
            }
            // The write-ahead log lets readers (history) go on while a station writes; a run's
            // record is on disk when its transaction commits. A read-only medium refuses it.
            run("PRAGMA journal_mode = WAL");
            run("PRAGMA synchronous = FULL");
        } catch (...) {
            close();
            throw;
        }
        return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw StoreError("no store " + ShownLocation(path) + " (give it with --store)");
    }
    if (OnReadOnlyMedium(path)) {
        // Nobody writes there, and the write-ahead log's index could not be made beside it.
        open(FileUri(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    } else {
        open(path, SQLITE_OPEN_READONLY);
    }
}

SqliteConnection::~SqliteConnection() {
    close();
}

void SqliteConnection::open(const std::string& name, int flags) {
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        const int code = db_ ? sqlite3_errcode(db_) : SQLITE_NOMEM;
        close();
        const std::string text =
            StoreMessage("store " + path_ + " cannot be opened: " + message, path_);
        if (MayPass(code)) throw StoreUnavailable(text);
        throw StoreError(text);
    }
    sqlite3_busy_handler(db_, &SqliteConnection::waitForLock, this);
}

int SqliteConnection::waitForLock(void* self, int tries) {
    return static_cast<SqliteConnection*>(self)->waitedForLock(tries) ? 1 : 0;
}

// Another writer holds the lock for one short transaction; one held longer than the wait is an
// outage, told and retried by the caller, and a stop is never kept waiting.
bool SqliteConnection::waitedForLock(int tries) {
    SystemClock clock;
    if (tries == 0) lockWaitStartUs_ = clock.nowUs();
    const std::int64_t waitedUs = clock.nowUs() - lockWaitStartUs_;
    if (waitedUs >= kStopAfterUs && lockWait_.stopping && lockWait_.stopping()) return false;
    if (waitedUs >= std::int64_t(lockWait_.ms) * 1000) return false;
    clock.sleepMs(kLockLookMs);
    return true;
}

void SqliteConnection::close() {
    sqlite3_close(db_);
    db_ = nullptr;
}

void SqliteConnection::fail(const std::string& what) const {
    const std::string text =
        StoreMessage("store " + path_ + ": " + what + ": " + sqlite3_errmsg(db_), path_);
    if (MayPass(sqlite3_extended_errcode(db_))) throw StoreUnavailable(text);
    throw StoreError(text);
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

bool SqliteConnection::hasTable(const std::string& name) {
    return !run("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", {name}).empty();
}

std::int64_t SqliteConnection::dataVersion() {
    return std::stoll(run("PRAGMA data_version").at(0).at(0).value_or("0"));
}

// A file is one program's: one with tables of its own is not to be turned into a store.
// One statement, so one look at the file: a station creating the store at the same moment is
// seen either before it began or with its schema, never with its tables but no k350_schema.
bool SqliteConnection::holdsOnlyOtherTables() {
    return !run("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"
                " HAVING COUNT(*) > 0 AND SUM(name = 'k350_schema') = 0")
                .empty();
}
