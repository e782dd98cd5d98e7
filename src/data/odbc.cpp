#include "data/odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

namespace tarvelo::data {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC API must be UTF-16");

std::u16string wide(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size());
}

SQLWCHAR* wptr(std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

// The driver's diagnostic records as one text; the first record's state and code as values.
QString diagnostics(SQLSMALLINT type, SQLHANDLE handle, QString* firstState = nullptr, int* firstNative = nullptr)
{
    QString out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024] = {};
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text, 1024, &len);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (!out.isEmpty())
            out += "; ";
        else if (firstState) {
            *firstState = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
            *firstNative = int(native);
        }
        out += QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5) + QStringLiteral(" (%1) ").arg(native)
               + QString::fromUtf16(reinterpret_cast<const char16_t*>(text), std::min<int>(len, 1023));
    }
    return out.isEmpty() ? QStringLiteral("unknown database error") : out;
}

[[noreturn]] void throwDiagnostics(const QString& what, SQLSMALLINT type, SQLHANDLE handle)
{
    QString state;
    int native = 0;
    const QString text = diagnostics(type, handle, &state, &native);
    throw DbError(what + ": " + text, state, native);
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        throwDiagnostics(QString::fromLatin1(what), type, handle);
}

bool isBinaryType(SQLSMALLINT t)
{
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// Native errors and states by which the driver says the session itself is gone.
bool linkLost(SQLSMALLINT type, SQLHANDLE handle)
{
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, nullptr, 0, &len)))
            return false;
        if (native == 2006 || native == 2013 || native == 2055 || (state[0] == u'0' && state[1] == u'8'))
            return true;
    }
}

thread_local OdbcCounters t_counters;

struct FailureRule {
    QRegularExpression pattern;
    int left;
    QString database;
    std::thread::id thread;
};

std::atomic<bool> g_rulesArmed{false};
std::mutex g_rulesMutex;
std::vector<FailureRule> g_rules;
std::atomic<bool> g_observed{false};
std::function<void(const QString&, const QString&)> g_observer;  // under g_rulesMutex
std::thread::id g_observerThread;

thread_local bool t_observing = false;  // what the observer runs itself is not observed

void failIfArmed(const QString& sql, const QString& database)
{
    if (g_observed.load(std::memory_order_relaxed) && !t_observing) {
        std::function<void(const QString&, const QString&)> observer;
        {
            std::lock_guard lock(g_rulesMutex);
            if (g_observerThread == std::this_thread::get_id())
                observer = g_observer;
        }
        // Outside the lock, so that the observer may run statements of its own.
        if (observer) {
            t_observing = true;
            struct Done {
                ~Done() { t_observing = false; }
            } done;
            observer(database, sql);
        }
    }
    if (!g_rulesArmed.load(std::memory_order_relaxed))
        return;
    std::lock_guard lock(g_rulesMutex);
    for (auto it = g_rules.begin(); it != g_rules.end(); ++it) {
        if (it->thread != std::this_thread::get_id())
            continue;
        if (!it->database.isEmpty() && it->database.compare(database, Qt::CaseInsensitive) != 0)
            continue;
        if (!it->pattern.match(sql).hasMatch())
            continue;
        const QString pattern = it->pattern.pattern();
        if (--it->left <= 0)
            g_rules.erase(it);
        g_rulesArmed.store(!g_rules.empty());
        throw DbError("HY000 failure made on purpose for statements matching " + pattern, QStringLiteral("HY000"));
    }
}

QString databaseOf(const QString& connectionString)
{
    static const QRegularExpression re(QStringLiteral("(?:^|;)\\s*Database=\\{?([^;}]*)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(connectionString);
    return m.hasMatch() ? m.captured(1) : QString();
}

bool isTextType(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR
           || t == SQL_WLONGVARCHAR;
}

// Narrow on purpose: the driver answers these in ASCII, and its wide variant opens a character
// converter on every call.
QString infoText(SQLHDBC dbc, SQLUSMALLINT what)
{
    SQLCHAR buf[256] = {};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, what, buf, sizeof buf, &len)))
        return {};
    return QString::fromLatin1(reinterpret_cast<const char*>(buf), std::clamp<int>(len, 0, 255));
}

QStringView firstWord(QStringView sql)
{
    qsizetype i = 0;
    while (i < sql.size() && (sql[i].isSpace() || sql[i] == u'('))
        ++i;
    qsizetype j = i;
    while (j < sql.size() && sql[j].isLetter())
        ++j;
    return sql.mid(i, j - i);
}

bool isOneOf(QStringView word, std::initializer_list<const char16_t*> words)
{
    for (const char16_t* w : words)
        if (word.compare(QStringView(w), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Statements that run in autocommit mode and leave nothing behind in the session.
bool leavesNoSessionState(QStringView sql)
{
    return isOneOf(firstWord(sql), {u"select", u"insert", u"update", u"delete", u"replace", u"show"});
}

}  // namespace

void failStatements(const QString& pattern, int times, const QString& database)
{
    if (times <= 0)
        return;
    std::lock_guard lock(g_rulesMutex);
    g_rules.push_back({QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption), times, database,
                       std::this_thread::get_id()});
    g_rulesArmed.store(true);
}

void clearStatementFailures()
{
    std::lock_guard lock(g_rulesMutex);
    g_rules.clear();
    g_rulesArmed.store(false);
}

void observeStatements(std::function<void(const QString& database, const QString& sql)> observer)
{
    std::lock_guard lock(g_rulesMutex);
    g_observed.store(bool(observer));
    g_observer = std::move(observer);
    g_observerThread = std::this_thread::get_id();
}

StatementTimeoutKind statementTimeoutKind(QStringView versionText)
{
    const bool mariadb = versionText.contains(u"mariadb", Qt::CaseInsensitive);
    QStringView v = versionText;
    // MariaDB 10 and later present themselves to old clients as "5.5.5-<real version>".
    if (mariadb && v.startsWith(u"5.5.5-"))
        v = v.mid(6);
    int parts[3] = {0, 0, 0};
    int n = 0;
    qsizetype i = 0;
    while (i < v.size() && !v[i].isDigit())
        ++i;
    while (n < 3 && i < v.size() && v[i].isDigit()) {
        int x = 0;
        for (; i < v.size() && v[i].isDigit(); ++i)
            x = std::min(x * 10 + v[i].digitValue(), 1000000);
        parts[n++] = x;
        if (i + 1 < v.size() && v[i] == u'.' && v[i + 1].isDigit())
            ++i;
        else
            break;
    }
    if (n < 2)
        return StatementTimeoutKind::None;
    const auto atLeast = [&](int a, int b, int c) {
        return std::tie(parts[0], parts[1], parts[2]) >= std::make_tuple(a, b, c);
    };
    if (mariadb)
        return atLeast(10, 1, 1) ? StatementTimeoutKind::MariaDb : StatementTimeoutKind::None;
    // Anything numbered from 10 on that does not say MariaDB is no MySQL we know.
    return atLeast(5, 7, 8) && !atLeast(10, 0, 0) ? StatementTimeoutKind::MySql : StatementTimeoutKind::None;
}

QString sessionSetupStatement(StatementTimeoutKind kind, int queryTimeoutSeconds)
{
    // From the server's default, so that a reused session comes back to the same mode whatever
    // its previous user set; the commas around the list make the removal exact at any position.
    QString sql = QStringLiteral(
        "SET SESSION sql_mode = TRIM(BOTH ',' FROM REPLACE(CONCAT(',', @@GLOBAL.sql_mode, ','), "
        "',NO_BACKSLASH_ESCAPES,', ',')), autocommit = 1");
    const int seconds = std::max(queryTimeoutSeconds, 0);
    if (kind == StatementTimeoutKind::MariaDb)
        sql += QStringLiteral(", max_statement_time = %1").arg(seconds);
    else if (kind == StatementTimeoutKind::MySql)
        sql += QStringLiteral(", max_execution_time = %1").arg(qint64(seconds) * 1000);
    return sql;
}

OdbcCounters odbcCounters()
{
    return t_counters;
}

class OdbcConnection::Statement {
public:
    explicit Statement(OdbcConnection& c) : c_(c)
    {
        if (!c.connected_)
            throw DbError(QStringLiteral("the connection has no open session"));
        ok(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc_, &h), "allocating a statement", SQL_HANDLE_DBC, c.dbc_);
        if (c.queryTimeout_ > 0)
            SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(c.queryTimeout_)), 0);
        ++t_counters.statements;
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, h); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    void ok(SQLRETURN rc, const char* what) { ok(rc, what, SQL_HANDLE_STMT, h); }
    SQLHSTMT h = SQL_NULL_HSTMT;

private:
    void ok(SQLRETURN rc, const char* what, SQLSMALLINT type, SQLHANDLE handle)
    {
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA && linkLost(type, handle))
            c_.lost_ = true;
        check(rc, type, handle, what);
    }
    OdbcConnection& c_;
};

std::shared_ptr<OdbcConnection> OdbcConnection::open(const QString& connectionString, int queryTimeoutSeconds,
                                                     int loginTimeoutSeconds)
{
    std::shared_ptr<OdbcConnection> c(new OdbcConnection);
    c->queryTimeout_ = queryTimeoutSeconds;
    c->loginTimeout_ = loginTimeoutSeconds;
    failIfArmed(QStringLiteral("CONNECT"), databaseOf(connectionString));
    // One environment for the process, never freed: setting one up reads the driver manager's
    // configuration.
    static SQLHENV env = [] {
        SQLHENV e = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e)))
            return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return e;
    }();
    if (env == SQL_NULL_HENV)
        throw DbError(QStringLiteral("cannot allocate an ODBC environment"));
    check(SQLAllocHandle(SQL_HANDLE_DBC, env, &c->dbc_), SQL_HANDLE_ENV, env, "allocating a connection");
    if (loginTimeoutSeconds > 0)
        SQLSetConnectAttr(c->dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeoutSeconds)), 0);
    c->connect(connectionString);
    return c;
}

void OdbcConnection::connect(const QString& connectionString)
{
    disconnect();
    // This driver ignores the ODBC time-out attributes; its own keys enforce them instead: the
    // opening time-out, and a client-side bound on each network read so that a server that goes
    // silent mid-statement cannot hold the UI thread beyond the command time-out.
    QString text = connectionString;
    if (!text.endsWith(u';'))
        text += u';';
    if (loginTimeout_ > 0)
        text += QStringLiteral("CONN_TIMEOUT=%1;").arg(loginTimeout_);
    if (queryTimeout_ > 0)
        text += QStringLiteral("READ_TIMEOUT=%1;WRITE_TIMEOUT=%1;").arg(queryTimeout_ + 5);
    // The driver takes the last CharSet: a narrower one turns every character it lacks into '?'.
    text += QStringLiteral("CharSet=utf8mb4;");
    std::u16string cs = wide(text);
    ++t_counters.connects;
    SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, wptr(cs), SQLSMALLINT(cs.size()), nullptr, 0, nullptr,
                                     SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
        throwDiagnostics(QStringLiteral("connecting"), SQL_HANDLE_DBC, dbc_);
    connected_ = true;
    lost_ = false;
    static std::atomic<quint64> sessions{0};
    session_ = ++sessions;
    mayHoldTransaction_ = false;
    connectionString_ = connectionString;
    database_ = databaseOf(connectionString);
    // Decided by what the server said about itself in the handshake: no round trip, no trial.
    serverVersion_ = infoText(dbc_, SQL_DBMS_NAME) + u' ' + infoText(dbc_, SQL_DBMS_VER);
    timeoutKind_ = statementTimeoutKind(serverVersion_);
    // The server-side bound ends a statement that outruns the command time-out, lock waits included.
    try {
        run(sessionSetupStatement(timeoutKind_, queryTimeout_));
    } catch (...) {
        disconnect();
        throw;
    }
}

void OdbcConnection::disconnect()
{
    if (!connected_)
        return;
    if (mayHoldTransaction_ && !lost_) {
        // Never leave a transaction to the server's judgement when the session ends.
        SQLHSTMT st = SQL_NULL_HSTMT;
        if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) {
            std::u16string rollback = u"ROLLBACK";
            SQLExecDirectW(st, wptr(rollback), SQLINTEGER(rollback.size()));
            SQLFreeHandle(SQL_HANDLE_STMT, st);
        }
    }
    SQLDisconnect(dbc_);
    connected_ = false;
}

bool OdbcConnection::answersPing()
{
    // The driver pings the server for this; a server that does not answer within the read
    // time-out counts as gone.
    ++t_counters.pings;
    SQLUINTEGER dead = SQL_CD_TRUE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_FALSE;
}

bool OdbcConnection::alive()
{
    if (!connected_ || lost_)
        return false;
    if (!answersPing())
        lost_ = true;
    return !lost_;
}

void OdbcConnection::readyForCall(const QString& connectionString)
{
    failIfArmed(QStringLiteral("CONNECT"), databaseOf(connectionString));
    if (connected_ && !lost_ && connectionString == connectionString_) {
        QElapsedTimer waited;
        waited.start();
        if (!answersPing()) {
            lost_ = true;  // nothing is rolled back on a session that is gone
            // A ping that ran into the read time-out met a server that hangs: opening a session
            // there would only add the opening time-out to the wait.
            if (queryTimeout_ > 0 && waited.elapsed() >= qint64(queryTimeout_ + 5) * 1000 - 500) {
                disconnect();
                throw DbError(QStringLiteral("the server did not answer within the read time-out"), QStringLiteral("HYT00"));
            }
        }
    }
    if (!connected_ || lost_ || connectionString != connectionString_) {
        lost_ = true;
        connect(connectionString);
        return;
    }
    if (!mayHoldTransaction_)
        return;
    try {
        run(QStringLiteral("ROLLBACK"));
        run(sessionSetupStatement(timeoutKind_, queryTimeout_));
        mayHoldTransaction_ = false;
    } catch (const DbError&) {
        if (!lost_)
            throw;
        connect(connectionString);
    }
}

OdbcConnection::~OdbcConnection()
{
    if (dbc_) {
        disconnect();
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
}

void OdbcConnection::noteStatement(QStringView sql, bool writes)
{
    if (beforeWrite && (writes || !isOneOf(firstWord(sql), {u"select", u"show"})))
        beforeWrite();
    if (!leavesNoSessionState(sql))
        mayHoldTransaction_ = true;
}

ResultData OdbcConnection::query(const QString& sql)
{
    failIfArmed(sql, database_);
    noteStatement(sql, false);
    return run(sql);
}

ResultData OdbcConnection::run(const QString& sql)
{
    Statement st(*this);
    std::u16string text = wide(sql);
    st.ok(SQLExecDirectW(st.h, wptr(text), SQLINTEGER(text.size())), "running the statement");

    ResultData out;
    SQLSMALLINT ncols = 0;
    st.ok(SQLNumResultCols(st.h, &ncols), "reading the result");
    // Text columns come as the connection's UTF-8 bytes: the driver's own conversion to wide
    // characters stops at the first NUL a value holds.
    enum class Fetch { Wide, Utf8, Binary };
    std::vector<Fetch> fetch;
    for (SQLSMALLINT i = 1; i <= ncols; ++i) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        st.ok(SQLDescribeColW(st.h, i, name, 256, &nameLen, &type, &size, &digits, &nullable), "describing a column");
        out.columns.push_back({QString::fromUtf16(reinterpret_cast<const char16_t*>(name), std::min<int>(nameLen, 255)),
                               isBinaryType(type)});
        fetch.push_back(isBinaryType(type) ? Fetch::Binary : isTextType(type) ? Fetch::Utf8 : Fetch::Wide);
    }
    if (ncols == 0)
        return out;

    // Kept between statements: zeroing new buffers for every statement costs more than the
    // statement's round trip.
    constexpr size_t wsize = 8192, bsize = 65536;
    static thread_local const std::unique_ptr<char16_t[]> wbuf(new char16_t[wsize]);
    static thread_local const std::unique_ptr<char[]> bbuf(new char[bsize]);
    for (;;) {
        SQLRETURN rc = SQLFetch(st.h);
        if (rc == SQL_NO_DATA)
            break;
        st.ok(rc, "fetching a row");
        std::vector<QVariant> row;
        row.reserve(ncols);
        for (SQLSMALLINT i = 1; i <= ncols; ++i) {
            const Fetch how = fetch[size_t(i - 1)];
            const bool wideChars = how == Fetch::Wide;
            QString text;
            QByteArray bytes;
            bool isNull = false;
            for (;;) {
                SQLLEN ind = 0;
                SQLRETURN g = wideChars
                                  ? SQLGetData(st.h, i, SQL_C_WCHAR, wbuf.get(), SQLLEN(wsize * sizeof(char16_t)), &ind)
                                  : SQLGetData(st.h, i, SQL_C_BINARY, bbuf.get(), SQLLEN(bsize), &ind);
                if (g == SQL_NO_DATA)
                    break;
                st.ok(g, "reading a value");
                if (ind == SQL_NULL_DATA) {
                    isNull = true;
                    break;
                }
                // A truncated chunk fills the buffer (less the terminator for text); the last one says its length.
                const bool more = g == SQL_SUCCESS_WITH_INFO
                                  && (ind == SQL_NO_TOTAL
                                      || ind >= SQLLEN(wideChars ? (wsize - 1) * sizeof(char16_t) : bsize));
                if (wideChars) {
                    qsizetype n = more ? qsizetype(wsize - 1) : qsizetype(ind / sizeof(char16_t));
                    text.append(QStringView(wbuf.get(), n));
                } else {
                    bytes.append(bbuf.get(), more ? qsizetype(bsize) : qsizetype(ind));
                }
                if (!more)
                    break;
            }
            if (isNull)
                row.emplace_back();
            else if (how == Fetch::Binary)
                row.emplace_back(bytes);
            else if (how == Fetch::Utf8)
                row.emplace_back(QString::fromUtf8(bytes));
            else
                row.emplace_back(text);
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

long long OdbcConnection::execute(const QString& sql, const std::vector<QVariant>& params)
{
    failIfArmed(sql, database_);
    noteStatement(sql, true);
    Statement st(*this);
    std::vector<std::u16string> texts(params.size());
    std::vector<QByteArray> blobs(params.size());
    std::vector<SQLLEN> inds(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        const QVariant& v = params[i];
        const SQLUSMALLINT n = SQLUSMALLINT(i + 1);
        if (v.isNull() || !v.isValid()) {
            inds[i] = SQL_NULL_DATA;
            st.ok(SQLBindParameter(st.h, n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0, &inds[i]),
                  "binding a value");
        } else if (v.typeId() == QMetaType::QByteArray) {
            blobs[i] = v.toByteArray();
            inds[i] = blobs[i].size();
            st.ok(SQLBindParameter(st.h, n, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                                   SQLULEN(std::max<qsizetype>(blobs[i].size(), 1)), 0, blobs[i].data(),
                                   blobs[i].size(), &inds[i]),
                  "binding a value");
        } else {
            texts[i] = wide(v.toString());
            inds[i] = SQLLEN(texts[i].size() * sizeof(char16_t));
            const SQLSMALLINT sqlType = texts[i].size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
            st.ok(SQLBindParameter(st.h, n, SQL_PARAM_INPUT, SQL_C_WCHAR, sqlType,
                                   SQLULEN(std::max<size_t>(texts[i].size(), 1)), 0, texts[i].data(), inds[i],
                                   &inds[i]),
                  "binding a value");
        }
    }
    std::u16string text = wide(sql);
    st.ok(SQLExecDirectW(st.h, wptr(text), SQLINTEGER(text.size())), "running the statement");
    SQLLEN count = 0;
    st.ok(SQLRowCount(st.h, &count), "reading the row count");
    return count;
}

QStringList OdbcConnection::primaryKey(const QString& table)
{
    // The schema is made outside the program and does not change while it runs; asking the
    // catalogue for every saved recordset cost more than the save itself.
    static std::mutex cacheMutex;
    static std::map<QString, QStringList> cache;
    const QString cacheKey = database_.toLower() + u'\n' + table.toLower();
    {
        std::lock_guard lock(cacheMutex);
        if (auto it = cache.find(cacheKey); it != cache.end() && !database_.isEmpty())
            return it->second;
    }
    QStringList key = primaryKeyFromCatalogue(table);
    std::lock_guard lock(cacheMutex);
    if (!database_.isEmpty() && !key.isEmpty())
        cache[cacheKey] = key;
    return key;
}

QStringList OdbcConnection::primaryKeyFromCatalogue(const QString& table)
{
    Statement st(*this);
    std::u16string t = wide(table);
    st.ok(SQLPrimaryKeysW(st.h, nullptr, 0, nullptr, 0, wptr(t), SQLSMALLINT(t.size())), "reading the primary key");
    std::vector<std::pair<int, QString>> cols;
    for (;;) {
        SQLRETURN rc = SQLFetch(st.h);
        if (rc == SQL_NO_DATA)
            break;
        st.ok(rc, "reading the primary key");
        SQLWCHAR name[256] = {};
        SQLLEN ind = 0;
        SQLSMALLINT seq = 0;
        SQLLEN seqInd = 0;
        st.ok(SQLGetData(st.h, 4, SQL_C_WCHAR, name, sizeof(name), &ind), "reading the primary key");
        st.ok(SQLGetData(st.h, 5, SQL_C_SSHORT, &seq, 0, &seqInd), "reading the primary key");
        if (ind > 0)
            cols.emplace_back(seq, QString::fromUtf16(reinterpret_cast<const char16_t*>(name), int(ind / sizeof(SQLWCHAR))));
    }
    std::sort(cols.begin(), cols.end());
    QStringList out;
    for (auto& c : cols)
        out << c.second;
    return out;
}

QVariant OdbcConnection::lastInsertId()
{
    ResultData r = query(QStringLiteral("SELECT LAST_INSERT_ID()"));
    if (r.rows.empty() || r.rows[0].empty())
        return {};
    return r.rows[0][0];
}

QString odbcValue(const QString& value)
{
    if (!value.contains(u';') && !value.contains(u'{') && !value.contains(u'}'))
        return value;
    QString escaped = value;
    escaped.replace(u"}"_qs, u"}}"_qs);
    return u'{' + escaped + u'}';
}

}  // namespace tarvelo::data
