#include "store/PostgresConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "store/StoreText.h"

namespace {
// The key of the advisory lock that serialises the store's writers: "K350" in ASCII.
constexpr const char* kStoreLock = "SELECT pg_advisory_xact_lock(1261647152)";
// A server that does not answer a connection in this time is taken as down; the URL may say
// otherwise.
constexpr const char* kConnectTimeoutSeconds = "10";

struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};

// `?` placeholders become PostgreSQL's numbered ones; the statements hold no `?` in literals.
std::string Numbered(const std::string& sql) {
    std::string out;
    int next = 0;
    for (char c : sql) {
        if (c == '?') {
            out += "$" + std::to_string(++next);
        } else {
            out += c;
        }
    }
    return out;
}

// Conditions that pass (SQLSTATE classes and codes): a lost or refused connection, a server
// shutting down or starting, out of disk, memory or connections, a conflict of transactions,
// a standby not yet promoted after a fail-over.
bool MayPass(const std::string& state) {
    return state.starts_with("08") || state.starts_with("53") || state.starts_with("57P") ||
           state == "40001" || state == "40P01" || state == "25006" || state == "55P03";
}
}  // namespace

PostgresConnection::PostgresConnection(const std::string& url, StoreAccess access,
                                       SqlPatience patience)
    : url_(url) {
    // A location libpq cannot parse will never work; its message quotes the part it could not.
    char* parseError = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(url.c_str(), &parseError);
    PQconninfoFree(parsed);
    if (!parsed) {
        const std::string message = parseError ? parseError : "out of memory";
        PQfreemem(parseError);
        throw StoreError(
            StoreMessage("store " + url + " is not a usable location: " + message, url));
    }
    // Written first, so the URL's own connect_timeout wins. A connection with a statement limit
    // also gives up on a server that stopped acknowledging what is sent to it.
    const std::string connectSeconds = std::to_string(patience.connectSeconds);
    const std::string unacknowledgedMs =
        std::to_string(std::max(patience.statementMs.value_or(0), 1000) * 2);
    std::vector<const char*> keys{"connect_timeout"}, values{connectSeconds.c_str()};
    if (patience.statementMs) {
        keys.push_back("tcp_user_timeout");
        values.push_back(unacknowledgedMs.c_str());
    }
    keys.insert(keys.end(), {"dbname", nullptr});
    values.insert(values.end(), {url.c_str(), nullptr});
    connection_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string message = connection_ ? PQerrorMessage(connection_) : "out of memory";
        // A server that wants a password and was given none will not change its mind.
        const bool noPassword = connection_ && PQconnectionNeedsPassword(connection_);
        PQfinish(connection_);
        connection_ = nullptr;
        const std::string text =
            StoreMessage("store " + url + " cannot be reached: " + message, url);
        if (noPassword) {
            throw StoreError(text +
                             " (give the password in ~/.pgpass, PGPASSFILE or a service file)");
        }
        throw StoreUnavailable(text);
    }
    run("SET client_min_messages = warning");
    if (patience.statementMs) {
        run("SET statement_timeout = " + std::to_string(*patience.statementMs));
    }
    if (access == StoreAccess::Read) run("SET default_transaction_read_only = on");
}

PostgresConnection::~PostgresConnection() {
    PQfinish(connection_);
}

void PostgresConnection::fail(const pg_result* result) const {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string text =
        StoreMessage(std::string("store: statement failed: ") + PQerrorMessage(connection_), url_);
    if (PQstatus(connection_) == CONNECTION_BAD || !result || MayPass(state ? state : "")) {
        throw StoreUnavailable(text);
    }
    throw StoreError(text);
}

std::vector<SqlRow> PostgresConnection::run(const std::string& sql,
                                            const std::vector<SqlValue>& parameters) {
    std::vector<const char*> values;
    for (const SqlValue& value : parameters) values.push_back(value ? value->c_str() : nullptr);
    std::unique_ptr<PGresult, ResultClearer> result(
        PQexecParams(connection_, Numbered(sql).c_str(), int(values.size()), nullptr, values.data(),
                     nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result.get());
    std::vector<SqlRow> rows;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        SqlRow row;
        for (int c = 0; c < PQnfields(result.get()); ++c) {
            row.push_back(PQgetisnull(result.get(), r, c)
                              ? SqlValue()
                              : SqlValue(PQgetvalue(result.get(), r, c)));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void PostgresConnection::beginExclusive() {
    run("BEGIN");
    run(kStoreLock);
}

void PostgresConnection::commit() {
    run("COMMIT");
}

void PostgresConnection::rollback() {
    run("ROLLBACK");
}

bool PostgresConnection::hasTable(const std::string& name) {
    return run("SELECT to_regclass(?) IS NOT NULL", {name}).at(0).at(0).value_or("f") == "t";
}

void PostgresConnection::listen(const std::string& channel) {
    run("LISTEN " + channel);
}

bool PostgresConnection::awaitNotification(int timeoutMs) {
    const auto take = [this] {
        bool any = false;
        while (PGnotify* notice = PQnotifies(connection_)) {
            any = true;
            PQfreemem(notice);
        }
        return any;
    };
    if (take()) return true;
    pollfd socket{PQsocket(connection_), POLLIN, 0};
    if (socket.fd < 0)
        throw StoreUnavailable(StoreMessage("store " + url_ + ": no connection", url_));
    if (poll(&socket, 1, timeoutMs) > 0 &&
        (PQconsumeInput(connection_) == 0 || PQstatus(connection_) == CONNECTION_BAD)) {
        throw StoreUnavailable(StoreMessage(
            std::string("store: the connection was lost: ") + PQerrorMessage(connection_), url_));
    }
    return take();
}
