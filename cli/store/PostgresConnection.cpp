#include "cli/store/PostgresConnection.h"

#include <libpq-fe.h>

#include <memory>

#include "cli/store/RunStore.h"

namespace {
// The key of the advisory lock that serialises the store's writers: "K350" in ASCII.
constexpr const char* kStoreLock = "SELECT pg_advisory_xact_lock(1261647152)";

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

// The URL without its password, for messages.
std::string Shown(const std::string& url) {
    const auto scheme = url.find("://");
    const auto at = url.rfind('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme) return url;
    const auto colon = url.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at) return url;
    return url.substr(0, colon) + ":***" + url.substr(at);
}
}  // namespace

PostgresConnection::PostgresConnection(const std::string& url) {
    connection_ = PQconnectdb(url.c_str());
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string message = connection_ ? PQerrorMessage(connection_) : "out of memory";
        PQfinish(connection_);
        connection_ = nullptr;
        throw StoreError("store " + Shown(url) + " cannot be reached: " + message);
    }
    run("SET client_min_messages = warning");
}

PostgresConnection::~PostgresConnection() {
    PQfinish(connection_);
}

std::vector<SqlRow> PostgresConnection::run(const std::string& sql,
                                            const std::vector<SqlValue>& parameters) {
    std::vector<const char*> values;
    for (const SqlValue& value : parameters) values.push_back(value ? value->c_str() : nullptr);
    std::unique_ptr<PGresult, ResultClearer> result(
        PQexecParams(connection_, Numbered(sql).c_str(), int(values.size()), nullptr, values.data(),
                     nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        throw StoreError(std::string("store: statement failed: ") + PQerrorMessage(connection_));
    }
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
