#include "data/database.h"

#include "data/sql_text.h"


namespace tarvelo::data {

namespace {
const QString kSettingsApp = QStringLiteral("Veld");
const QString kSettingsSection = QStringLiteral("Settings");

QString selectText(const QString& columns, const QString& table, const QString& clause)
{
    return "select " + columns + " from " + table + (clause.isEmpty() ? QString() : u' ' + clause);
}
}  // namespace

QString connectionString(const DbSettings& s)
{
    return "Driver={mySQL ODBC 3.51 Driver};Server=" + odbcValue(s.host) + ";Port=" + odbcValue(s.port)
           + ";Database=" + odbcValue(s.name) + ";uid=" + odbcValue(s.user) + ";Pwd=" + odbcValue(s.password)
           + "; OPTION=3;CharSet=cp1256;";
}

bool isHostOrAddress(QStringView host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    const auto isAscii = [](QChar c, QStringView extra) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || extra.contains(c);
    };
    if (host.contains(u':')) {  // IPv6, possibly with a zone
        const qsizetype zone = host.indexOf(u'%');
        const QStringView address = zone < 0 ? host : host.left(zone);
        for (QChar c : address)
            if (!(c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f') || c == u':' || c == u'.'))
                return false;
        if (zone >= 0) {
            const QStringView name = host.mid(zone + 1);
            if (name.isEmpty())
                return false;
            for (QChar c : name)
                if (!isAscii(c, u"-_."))
                    return false;
        }
        return address.count(u':') >= 2;
    }
    QStringView name = host.endsWith(u'.') ? host.chopped(1) : host;
    for (QStringView label : name.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (QChar c : label)
            if (!isAscii(c, u"-_"))
                return false;
    }
    return true;
}

Database::Database(RunState& run, LampsModel& LabD, EventPump pump, ServerFailureSink* sink)
    : run_(run), lamps_(LabD), pump_(std::move(pump)), sink_(sink)
{
}

void Database::pump() const
{
    if (pump_)
        pump_();
}

void Database::Read_DB_Set(const SettingsStore& store)
{
    try {
        DB_User_Loc = store.read(kSettingsApp, kSettingsSection, QStringLiteral("SaveInUser_Databes"));
        DB_Server_Loc = store.read(kSettingsApp, kSettingsSection, QStringLiteral("SaveInServer_Databes"));
        DB_Name_Loc = store.read(kSettingsApp, kSettingsSection, QStringLiteral("SaveInName_Databes"));
        DB_Pas_Loc = store.read(kSettingsApp, kSettingsSection, QStringLiteral("SaveInPas_Databes"));
        DB_Port_Loc = store.read(kSettingsApp, kSettingsSection, QStringLiteral("SaveInPort"));
        DB_Port_Ser = DB_Port_Loc;
    } catch (...) {
        // A settings store that cannot be read leaves what was read so far; the connection then fails visibly.
    }
}

DbSettings Database::localSettings() const
{
    return {DB_Server_Loc, DB_Port_Loc, DB_Name_Loc, DB_User_Loc, DB_Pas_Loc};
}

DbSettings Database::serverSettings() const
{
    const StartupConfig& c = run_.config;
    return {c.DB_Server_Ser, DB_Port_Ser, c.DB_Name_Ser, c.DB_User_Ser, c.DB_Pas_Ser};
}

void Database::Show_Conn_Err()
{
    try {
        for (int i = 1; i <= 4; ++i)
            lamps_.paint(i, LampsModel::DarkRed);
    } catch (...) {
        // A painting error ends the painting silently.
    }
}

namespace {

// The settings a database failure points at, from the driver's native code and SQLSTATE.
QString settingsToCheck(const QString& why, const QString& state, int native, bool server, bool connecting,
                        const QString& file)
{
    const char* host = server ? "DB_Server_Ser" : "SaveInServer_Databes";
    const QString where = " in " + file;
    if (why.contains(QLatin1String(host)))
        return host + where;
    if (native == 1045 || native == 1044 || state == u"28000")
        return (server ? QStringLiteral("DB_User_Ser / DB_Pas_Ser") : QStringLiteral("SaveInUser_Databes / SaveInPas_Databes")) + where;
    if (native == 1049)
        return (server ? QStringLiteral("DB_Name_Ser") : QStringLiteral("SaveInName_Databes")) + where;
    if ((native >= 2002 && native <= 2006) || native == 2013 || state.startsWith(u"08") || state == u"HYT00")
        return (server ? QStringLiteral("DB_Server_Ser in %1 and SaveInPort in the Veld settings").arg(file)
                       : QStringLiteral("SaveInServer_Databes / SaveInPort") + where)
               + QStringLiteral(", and that the database server runs");
    if (connecting)
        return (server ? QStringLiteral("DB_Server_Ser / DB_User_Ser / DB_Pas_Ser / DB_Name_Ser")
                       : QStringLiteral("SaveInServer_Databes / SaveInPort / SaveInName_Databes / SaveInUser_Databes / "
                                        "SaveInPas_Databes"))
               + where;
    return (server ? QStringLiteral("the tables of the server database DB_Name_Ser")
                   : QStringLiteral("the tables of the local database SaveInName_Databes"))
           + where;
}

}  // namespace

void Database::noteError(Side side, bool connecting, const QString& table)
{
    lastSqlState.clear();
    lastNativeCode = 0;
    try {
        throw;
    } catch (const DbError& e) {
        lastError = QString::fromUtf8(e.what());
        lastSqlState = e.sqlState();
        lastNativeCode = e.nativeCode();
    } catch (const std::exception& e) {
        lastError = QString::fromUtf8(e.what());
    } catch (...) {
        lastError = QStringLiteral("unknown error");
    }
    if (connecting)
        failed_[side == Side::Local ? 0 : 1] = true;
    if (!reasonLog)
        return;
    const bool server = side == Side::Server;
    try {
        // A key the Veld file lacks reads as empty and fails far from its cause ("No database
        // selected"): named first. The file serves other programs, so only these keys count.
        QStringList missing;
        if (!server) {
            const std::pair<const char*, const QString*> keys[] = {{"SaveInServer_Databes", &DB_Server_Loc},
                                                                   {"SaveInPort", &DB_Port_Loc},
                                                                   {"SaveInName_Databes", &DB_Name_Loc},
                                                                   {"SaveInUser_Databes", &DB_User_Loc},
                                                                   {"SaveInPas_Databes", &DB_Pas_Loc}};
            for (const auto& [key, value] : keys)
                // A database user may have no password: only a refused login makes an empty one suspect.
                if (value->trimmed().isEmpty() && (value != &DB_Pas_Loc || lastNativeCode == 1045))
                    missing << QString::fromLatin1(key);
        }
        if (!missing.isEmpty())
            reasonLog->reason(stepName(side, connecting, table),
                              missing.join(", ") + " missing or empty in the Veld settings: " + lastError,
                              missing.join(" / ") + " in " + localSettingsFile);
        else
            reasonLog->reason(stepName(side, connecting, table), lastError,
                              settingsToCheck(lastError, lastSqlState, lastNativeCode, server, connecting,
                                              server ? run_.config.file : localSettingsFile));
    } catch (...) {
    }
}

QString Database::stepName(Side side, bool connecting, const QString& table)
{
    QString step = (side == Side::Server ? QStringLiteral("server database ") : QStringLiteral("local database "))
                   + (connecting ? QStringLiteral("connection") : QStringLiteral("call"));
    if (!connecting && !table.isEmpty())
        step += " on " + table;
    return step;
}

void Database::stepWorks(Side side, bool connecting, const QString& table)
{
    if (reasonLog && reasonLog->reasons.anyFailing())
        reasonLog->works(stepName(side, connecting, table));
}

void Database::succeeded(Side side)
{
    failed_[side == Side::Local ? 0 : 1] = false;
    stepWorks(side, true);
}

void Database::paintGreen(int from, int to)
{
    if (failed_[0] || failed_[1])
        return;
    for (int i = from; i <= to; ++i)
        lamps_.paint(i, LampsModel::Green);
}

void Database::connectionFailed(Side side)
{
    if (side == Side::Server)
        run_.Syn_Stop = true;
    Show_Conn_Err();
    if (side != Side::Server || !sink_)
        return;
    // Each step on its own: a status line that cannot be shown must not cost the retry.
    try {
        sink_->MsgboxViw(0, QStringLiteral("خطاء باتصال السيرفر"));
    } catch (...) {
    }
    try {
        sink_->Report_Error(1, 39, 1, QStringLiteral("Server connectivity"));
    } catch (...) {
    }
}

bool Database::openConnection(Side side)
{
    const bool local = side == Side::Local;
    auto& conn = local ? Conn_Loc : Conn_Ser;
    try {
        pump();
        conn.reset();  // set again once the connection is ready for this call
        pump();
        pump();
        pump();
        const DbSettings settings = local ? localSettings() : serverSettings();
        if (!isHostOrAddress(settings.host))
            throw DbError(QStringLiteral("the %1 \"%2\" is not a host name or an address")
                              .arg(local ? QStringLiteral("local database host setting SaveInServer_Databes")
                                         : QStringLiteral("server database host DB_Server_Ser"),
                                   settings.host));
        const QString cs = connectionString(settings);
        pump();
        auto& held = held_[local ? 0 : 1];
        if (freshConnectionPerCall)
            held.reset();  // the old one lives on in its recordsets
        if (held)
            held->readyForCall(cs);
        else {
            held = OdbcConnection::open(cs, local ? LocalTimeout : ServerTimeout);
            held->beforeWrite = [this, local] {
                if (beforeWrite)
                    beforeWrite(!local);
            };
        }
        if (local && held->session() != localSession_) {
            if (onNewLocalSession)
                onNewLocalSession(*held);
            localSession_ = held->session();
        }
        conn = held;
    } catch (...) {
        noteError(side, true);
        connectionFailed(side);
        return false;
    }
    succeeded(side);
    try {
        paintGreen(0, local ? 4 : 0);
    } catch (...) {
        // The connection is open: the failure path runs, the result stays true.
        noteError(side, false);
        connectionFailed(side);
    }
    return true;
}

bool Database::Open_Conn_Loc()
{
    return openConnection(Side::Local);
}

bool Database::Open_Conn_Ser()
{
    return openConnection(Side::Server);
}

bool Database::run(Side side, RecordsetVar& rs, const QString& sql, const QString& table, OnFailure onFailure,
                   bool paintOnSuccess)
{
    if (!openConnection(side))
        return false;
    try {
        pump();
        rs = std::make_shared<Recordset>();
        // Whatever connection the side holds now: a handler run by the pump may have replaced it.
        const auto& conn = side == Side::Local ? Conn_Loc : Conn_Ser;
        if (!conn)
            throw DbError(QStringLiteral("no open connection"));
        rs->open(conn, sql, table);
        stepWorks(side, false, table);
    } catch (...) {
        noteError(side, false, table);
        try {
            if (onFailure == OnFailure::ConnErr)
                Show_Conn_Err();
            else
                lamps_.paint(0, LampsModel::Orange);
        } catch (...) {
        }
        return false;
    }
    if (paintOnSuccess) {
        try {
            paintGreen(0, 0);
        } catch (...) {
            noteError(side, false, table);
        }
    }
    return true;
}

bool Database::Open_Rs_Loc_Where_Order(RecordsetVar& rs, const QString& table, const QString& clause,
                                       const QString& orderColumn)
{
    return run(Side::Local, rs, "select * from " + table + u' ' + clause + " order by " + orderColumn + " ASC",
               table, OnFailure::ConnErr, true);
}

bool Database::Open_Rs_Loc(RecordsetVar& rs, const QString& table, const QString& clause)
{
    return run(Side::Local, rs, "select * from " + table + u' ' + clause, table, OnFailure::ConnErr, true);
}

bool Database::Open_Rs_Ser_Where_Order(RecordsetVar& rs, const QString& table, const QString& clause,
                                       const QString& orderColumn)
{
    return run(Side::Server, rs, "select * from " + table + u' ' + clause + " order by " + orderColumn + " ASC",
               table, OnFailure::ConnErr, true);
}

bool Database::Open_Rs_Ser(RecordsetVar& rs, const QString& table, const QString& clause)
{
    return run(Side::Server, rs, "select * from " + table + u' ' + clause, table, OnFailure::ConnErr, true);
}

bool Database::Open_Tab_Loc(RecordsetVar& rs, const QString& table)
{
    return run(Side::Local, rs, "select * from " + table, table, OnFailure::ConnErr, true);
}

bool Database::Select_Loc(RecordsetVar& rs, const QString& columns, const QString& table, const QString& clause)
{
    return run(Side::Local, rs, selectText(columns, table, clause), table, OnFailure::ConnErr, true);
}

bool Database::Select_Ser(RecordsetVar& rs, const QString& columns, const QString& table, const QString& clause)
{
    return run(Side::Server, rs, selectText(columns, table, clause), table, OnFailure::ConnErr, true);
}

qint64 Database::Count_Rec_Loc(RecordsetVar& rs, const QString& table, const QString& clause)
{
    const QString sql = clause.isEmpty() ? "select * from " + table : "select * from " + table + u' ' + clause + u'\'';
    if (!run(Side::Local, rs, sql, table, OnFailure::Orange, false))
        return 0;
    return rs->recordCount();
}

std::optional<qint64> Database::countLoc(const QString& sql)
{
    RecordsetVar rs;
    if (!run(Side::Local, rs, sql, QString(), OnFailure::Orange, false))
        return std::nullopt;
    try {
        bool ok = false;
        const qint64 n = rs->recordCount() == 1 ? rs->value(rs->columnNames().value(0)).toLongLong(&ok) : 0;
        if (ok)
            return n;
        lastError = "no count from: " + sql;
        lamps_.paint(0, LampsModel::Orange);
    } catch (...) {
        noteError(Side::Local, false);
    }
    return std::nullopt;
}

std::optional<qint64> Database::Count_Rows_Loc(const QString& table, const QString& clause)
{
    return countLoc("select COUNT(*) from " + table + (clause.isEmpty() ? QString() : u' ' + clause));
}

namespace {
// Table names compare as the server stores them: exactly where lower_case_table_names is 0.
QString tableNameIs(const QString& table)
{
    const QString name = sqlLiteral(table);
    return "TABLE_NAME = " + name + " AND (@@lower_case_table_names <> 0 OR CAST(TABLE_NAME AS BINARY) = CAST(" + name
           + " AS BINARY))";
}
}  // namespace

std::optional<bool> Database::Table_Exists_Loc(const QString& table)
{
    const auto n = countLoc("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
                            + tableNameIs(table));
    return n ? std::optional<bool>(*n > 0) : std::nullopt;
}

std::optional<bool> Database::Column_Exists_Loc(const QString& table, const QString& column)
{
    const auto n = countLoc("SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND "
                            + tableNameIs(table) + " AND COLUMN_NAME = " + sqlLiteral(column));
    return n ? std::optional<bool>(*n > 0) : std::nullopt;
}

bool Database::Update_Loc(RecordsetVar& rs, const QString& assignments, const QString& table, const QString& clause)
{
    return run(Side::Local, rs, "UPDATE " + table + " set " + assignments + u' ' + clause, table, OnFailure::Orange,
               true);
}

bool Database::Update_Ser(RecordsetVar& rs, const QString& assignments, const QString& table, const QString& clause)
{
    return run(Side::Server, rs, "UPDATE " + table + " set " + assignments + u' ' + clause, table,
               OnFailure::Orange, true);
}

bool Database::Delete_Loc(RecordsetVar& rs, const QString& table, const QString& clause)
{
    return run(Side::Local, rs, "Delete from  " + table + u' ' + clause, table, OnFailure::ConnErr, true);
}

bool Database::Delete_Ser(RecordsetVar& rs, const QString& table, const QString& clause)
{
    return run(Side::Server, rs, "Delete from  " + table + u' ' + clause, table, OnFailure::ConnErr, true);
}

}  // namespace tarvelo::data
