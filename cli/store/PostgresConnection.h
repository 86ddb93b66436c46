// The shared store of a line of benches: a PostgreSQL database reached by its URL.
#pragma once

#include <string>

#include "cli/store/SqlConnection.h"

struct pg_conn;

class PostgresConnection : public SqlConnection {
public:
    explicit PostgresConnection(const std::string& url);
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

private:
    pg_conn* connection_ = nullptr;
};
