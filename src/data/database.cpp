#include "data/database.h"

namespace tarvelo::data {

namespace {
const QString kSettingsApp = QStringLiteral("Veld");
const QString kSettingsSection = QStringLiteral("Settings");
}  // namespace

QString connectionString(const DbSettings& s)
{
    return "Driver={mySQL ODBC 3.51 Driver};Server=" + odbcValue(s.host) + ";Port=" + odbcValue(s.port)
           + ";Database=" + odbcValue(s.name) + ";uid=" + odbcValue(s.user) + ";Pwd=" + odbcValue(s.password)
           + "; OPTION=3;CharSet=cp1256;";
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
        Rs_CursorType = 3;
        Rs_LockType = QStringLiteral("3");
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
    for (int i = 1; i <= 4; ++i)
        lamps_.paint(i, LampsModel::DarkRed);
}

bool Database::Open_Conn_Loc()
{
    try {
        pump();
        Conn_Loc.reset();  // a new connection on every call; the old one lives on in its recordsets
        pump();
        pump();
        pump();
        const QString cs = connectionString(localSettings());
        pump();
        Conn_Loc = OdbcConnection::open(cs, LocalTimeout);
    } catch (const DbError& e) {
        lastError = QString::fromStdString(e.what());
        Show_Conn_Err();
        return false;
    }
    for (int i = 0; i <= 4; ++i)
        lamps_.paint(i, LampsModel::Green);
    return true;
}

bool Database::Open_Conn_Ser()
{
    try {
        pump();
        Conn_Ser.reset();
        pump();
        pump();
        pump();
        const QString cs = connectionString(serverSettings());
        pump();
        Conn_Ser = OdbcConnection::open(cs, ServerTimeout);
    } catch (const DbError& e) {
        lastError = QString::fromStdString(e.what());
        run_.Syn_Stop = true;
        Show_Conn_Err();
        if (sink_) {
            sink_->MsgboxViw(0, QStringLiteral("خطاء باتصال السيرفر"));
            sink_->Report_Error(1, 39, 1, QStringLiteral("Server connectivity"));
        }
        return false;
    }
    lamps_.paint(0, LampsModel::Green);
    return true;
}

bool Database::run(Side side, RecordsetVar& rs, const QString& sql, const QString& table, OnFailure onFailure,
                   bool paintOnSuccess)
{
    if (!(side == Side::Local ? Open_Conn_Loc() : Open_Conn_Ser()))
        return false;
    try {
        pump();
        rs = std::make_shared<Recordset>();
        // Whatever connection the side holds now: a handler run by the pump may have replaced it.
        const auto& conn = side == Side::Local ? Conn_Loc : Conn_Ser;
        if (!conn)
            throw DbError(QStringLiteral("no open connection"));
        rs->open(conn, sql, table);
    } catch (const DbError& e) {
        lastError = QString::fromStdString(e.what());
        if (onFailure == OnFailure::ConnErr)
            Show_Conn_Err();
        else
            lamps_.paint(0, LampsModel::Orange);
        return false;
    }
    if (paintOnSuccess)
        lamps_.paint(0, LampsModel::Green);
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

qint64 Database::Count_Rec_Loc(RecordsetVar& rs, const QString& table, const QString& clause)
{
    const QString sql = clause.isEmpty() ? "select * from " + table : "select * from " + table + u' ' + clause + u'\'';
    if (!run(Side::Local, rs, sql, table, OnFailure::Orange, false))
        return 0;
    return rs->recordCount();
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
