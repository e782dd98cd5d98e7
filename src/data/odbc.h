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
// A database failure: the driver's text, and, when the driver gave them, the SQLSTATE and native
// error code of its first diagnostic record (empty and 0 for failures found by this program).
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& message, QString sqlState = {}, int nativeCode = 0)
        : std::runtime_error(message.toStdString()), sqlState_(std::move(sqlState)), nativeCode_(nativeCode)
    {
    }
    const QString& sqlState() const { return sqlState_; }
    int nativeCode() const { return nativeCode_; }

private:
    QString sqlState_;
    int nativeCode_;
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
// and every recordset made on it, so a recordset stays usable after the caller has moved on.
//
// A held connection keeps its one connection handle for its whole life and opens its session
// again on it when needed: allocating handles is what leaks in the driver manager.
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

    // Hands the connection to the next call in the state a new one has: a session that the server
    // closed while idle, or that failed, is opened again on the same handle; a transaction left
    // open is rolled back and the session set-up runs again. Throws DbError when no session can
    // be had. Getting a connection this way counts as the statement "CONNECT" for the test hook.
    void readyForCall(const QString& connectionString);
    bool isConnected() const { return connected_; }
    // A number no other physical session of this process had: it changes whenever the session
    // is opened again, which drops whatever the server kept for the old one (named locks).
    quint64 session() const { return session_; }
    // Whether the session still answers, by one ping; one that does not is taken as gone, so the
    // next call opens it again.
    bool alive();
    // Asked before every statement that may change data (all but SELECT and SHOW); what it throws
    // fails the statement before it is sent.
    std::function<void()> beforeWrite;
    // Ends the session (its transaction rolled back); the next call opens another on this handle.
    void disconnect();

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
    void connect(const QString& connectionString);
    bool answersPing();
    QStringList primaryKeyFromCatalogue(const QString& table);
    void noteStatement(QStringView sql, bool writes);
    ResultData run(const QString& sql);
    void* dbc_ = nullptr;
    bool connected_ = false;
    bool lost_ = false;  // a statement failed for the link: the session is gone
    quint64 session_ = 0;
    int queryTimeout_ = 0;
    int loginTimeout_ = DefaultLoginTimeout;
    QString connectionString_;
    QString database_;  // the database the connection string names, for the test hook
    QString serverVersion_;
    StatementTimeoutKind timeoutKind_ = StatementTimeoutKind::None;
    // Set once a statement may have left a transaction or session state behind, which the next
    // call must not inherit.
    bool mayHoldTransaction_ = false;
    class Statement;
};

// What the connections of the calling thread have done: physical sessions opened, statements
// sent (session set-up and roll-backs included) and liveness pings. For the benchmarks.
struct OdbcCounters {
    long long connects = 0;
    long long statements = 0;
    long long pings = 0;
};
OdbcCounters odbcCounters();

// A process-wide test hook: the next `times` statements whose text matches `pattern` (a regular
// expression, letter case ignored) on connections to the database `database` (empty: any) fail
// with DbError, as a real failure would. Opening a connection, or getting a held one for a call,
// counts as the statement "CONNECT".
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
