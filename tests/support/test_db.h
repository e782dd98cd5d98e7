#pragma once
#include "data/database.h"
#include "data/odbc.h"

#include <QString>
#include <memory>

namespace tarvelo::test {

// The throwaway MariaDB that scripts/test.sh starts, as its environment describes it.
struct TestServer {
    QString host, port, user, password;
    static const TestServer& get();
    data::DbSettings settings(const QString& database) const;
};

// A database with a random name, made from the schema fixture (or empty) for one test and
// dropped when the test ends.
class ScratchDatabase {
public:
    explicit ScratchDatabase(const QString& role, bool withSchema = true);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const QString& name() const { return name_; }
    data::DbSettings settings() const { return TestServer::get().settings(name_); }
    std::shared_ptr<data::OdbcConnection> connect() const;

    void exec(const QString& sql) const;
    data::ResultData query(const QString& sql) const;
    // The first column of the first row as text; empty when there is no row or it is NULL.
    QString scalar(const QString& sql) const;

private:
    QString name_;
};

// Points the local side of `db` at `local` and, when given, the server side at `server` (whose
// port the server side shares with the local one, as in the program).
void pointAt(data::Database& db, data::RunState& run, const data::DbSettings& local,
             const data::DbSettings* server = nullptr);

// A closed port on loopback, for connections that must fail at once.
inline constexpr const char* kClosedPort = "1";

}  // namespace tarvelo::test
