// The shared store of a line of benches: a PostgreSQL database reached by its URL. The password,
// when one is needed, comes from libpq's own ways (PGPASSFILE, ~/.pgpass, PGSERVICE, PGPASSWORD)
// or the URL, and never appears in a message.
#pragma once

#include <string>

#include "store/RunStore.h"
#include "store/SqlConnection.h"

struct pg_conn;
struct pg_result;

class PostgresConnection : public SqlConnection {
public:
    // A reader's session runs every transaction read-only.
    explicit PostgresConnection(const std::string& url, StoreAccess access = StoreAccess::Write,
                                SqlPatience patience = {});
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    std::vector<SqlRow> run(const std::string& sql,
                            const std::vector<SqlValue>& parameters = {}) override;
    // Every writer of the store takes the same advisory lock, held until the transaction ends.
    void beginExclusive() override;
    void commit() override;
    void rollback() override;
    std::string autoKeyType() const override { return "BIGSERIAL PRIMARY KEY"; }
    SqlDialect dialect() const override { return SqlDialect::Postgres; }
    bool hasTable(const std::string& name) override;

    // This session gets the notifications sent on `channel` from now on.
    void listen(const std::string& channel);
    // Waits up to `timeoutMs` for a notification and takes every one that came: true when any
    // did. Throws StoreUnavailable when the connection is lost.
    bool awaitNotification(int timeoutMs);

private:
    [[noreturn]] void fail(const pg_result* result) const;

    pg_conn* connection_ = nullptr;
    std::string url_;
};
