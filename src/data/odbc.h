#pragma once
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tarvelo::data {

// Any failure of the database layer: connection, statement, time-out, or misuse of a recordset.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// Which server-side statement time-out a server offers: MariaDB's max_statement_time (seconds,
// every statement), MySQL's max_execution_time (milliseconds, SELECT only), or none, where only
// the client-side read and write time-outs bound a statement.
enum class StatementTimeoutKind { None, MariaDb, MySql };

// Decides by the version text a server reports about itself, as SELECT VERSION() gives it
// ("10.11.19-MariaDB-0+deb12u1", "8.0.36") or as the driver's product name and version
// ("MariaDB 10.11.000019", "MySQL 08.00.0036").
StatementTimeoutKind statementTimeoutKind(QStringView versionText);

// The statement that puts a new or reused session into the state every call expects: sql_mode
// without NO_BACKSLASH_ESCAPES (the literal helper relies on backslash escapes), autocommit on,
// and the server-side time-out where the server has one.
QString sessionSetupStatement(StatementTimeoutKind kind, int queryTimeoutSeconds);

struct ResultColumn {
    QString name;
    bool binary = false;
};

// A whole result, held client-side. Text comes back as QString, binary columns as QByteArray,
// SQL NULL as an invalid QVariant.
struct ResultData {
    std::vector<ResultColumn> columns;
    std::vector<std::vector<QVariant>> rows;
};

// One ODBC connection, opened with a connection string. Text travels as utf8mb4 whatever CharSet
// the string names, so no character is lost on the way. Shared between the caller that opened it
// and every recordset made on it, so a recordset stays usable after the caller has moved on to a
// newer connection.
//
// The driver manager may hand out a pooled session that an earlier connection used: every open
// puts the session back into the expected state, and a connection that ran anything that can
// leave a transaction open rolls it back when it is released.
class OdbcConnection {
public:
    // The opening time-out is the database-access layer's usual 15 seconds: without one, a server
    // that accepts but never answers would hold the one UI thread for good.
    static constexpr int DefaultLoginTimeout = 15;
    static std::shared_ptr<OdbcConnection> open(const QString& connectionString, int queryTimeoutSeconds,
                                                int loginTimeoutSeconds = DefaultLoginTimeout);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Runs one statement; a statement without a result set gives an empty ResultData.
    ResultData query(const QString& sql);
    // Runs one statement with bound parameters; returns the rows it matched.
    long long execute(const QString& sql, const std::vector<QVariant>& params);
    QStringList primaryKey(const QString& table);
    QVariant lastInsertId();
    int queryTimeout() const { return queryTimeout_; }
    const QString& serverVersion() const { return serverVersion_; }
    StatementTimeoutKind timeoutKind() const { return timeoutKind_; }

private:
    OdbcConnection() = default;
    QStringList primaryKeyFromCatalogue(const QString& table);
    void noteStatement(QStringView sql);
    ResultData run(const QString& sql);
    void* dbc_ = nullptr;
    int queryTimeout_ = 0;
    QString database_;  // the database the connection string names, for the test hook
    QString serverVersion_;
    StatementTimeoutKind timeoutKind_ = StatementTimeoutKind::None;
    // Set once a statement may have left a transaction or session state behind; with pooled
    // connections the next caller would inherit it.
    bool mayHoldTransaction_ = false;
    class Statement;
};

// A process-wide test hook: the next `times` statements whose text matches `pattern` (a regular
// expression, letter case ignored) on connections to the database `database` (empty: any) fail
// with DbError, as a real failure would. Opening a connection counts as the statement "CONNECT".
// Only statements run on the thread that armed the rule fail, so servers that tests run in
// background threads are not hit. Costs one atomic load per statement while nothing is armed.
void failStatements(const QString& pattern, int times = 1, const QString& database = {});
void clearStatementFailures();
// A process-wide test hook: `observer` sees the database and the text of every statement run on
// the thread that set it, before it runs ("CONNECT" as above); an empty observer ends it.
void observeStatements(std::function<void(const QString& database, const QString& sql)> observer);

// Brace-quotes a connection-string value where ODBC would otherwise split or misread it.
QString odbcValue(const QString& value);

}  // namespace tarvelo::data
