#pragma once
#include "data/error_log.h"
#include "data/indicators.h"
#include "data/recordset.h"
#include "data/run_state.h"
#include "data/settings_store.h"

#include <functional>
#include <memory>
#include <optional>

namespace tarvelo::data {

// What a lost server connection sets off in the main window: the status line and the
// start-up's one-minute retry.
class ServerFailureSink {
public:
    virtual ~ServerFailureSink() = default;
    virtual void MsgboxViw(qint16 picture, const QString& text) = 0;
    virtual void Report_Error(qint16 retryOnly, qint16 errorNumber, qint16 kind, const QString& title) = 0;
};

struct DbSettings {
    QString host, port, name, user, password;
};

QString connectionString(const DbSettings& s);

// A host name (letters, digits, '-', '_', dot-separated) or an IPv4/IPv6 address. Anything else
// (';', braces, '=', blanks) could smuggle further keys into the connection string, which the
// driver honours even inside braces.
bool isHostOrAddress(QStringView host);

// The two databases: settings, connections and the ten calls through which every statement runs.
// Each side's connection is held between calls and handed to each call as a new one would be;
// each call replaces the caller's recordset variable with a new recordset and paints the lamps.
class Database {
public:
    Database(RunState& run, LampsModel& LabD, EventPump pump, ServerFailureSink* sink);

    void Read_DB_Set(const SettingsStore& store);
    bool Open_Conn_Loc();
    bool Open_Conn_Ser();
    void Show_Conn_Err();

    DbSettings localSettings() const;
    DbSettings serverSettings() const;

    bool Open_Rs_Loc_Where_Order(RecordsetVar& rs, const QString& table, const QString& clause, const QString& orderColumn);
    bool Open_Rs_Loc(RecordsetVar& rs, const QString& table, const QString& clause);
    bool Open_Rs_Ser_Where_Order(RecordsetVar& rs, const QString& table, const QString& clause, const QString& orderColumn);
    bool Open_Rs_Ser(RecordsetVar& rs, const QString& table, const QString& clause);
    bool Open_Tab_Loc(RecordsetVar& rs, const QString& table);
    // "select <columns> from <table> <clause>", for reads that need only a few columns.
    bool Select_Loc(RecordsetVar& rs, const QString& columns, const QString& table, const QString& clause);
    bool Select_Ser(RecordsetVar& rs, const QString& columns, const QString& table, const QString& clause);
    // The number of matching rows; the clause's last literal is left open and closed here.
    // 0 also on failure, with lamp 0 orange.
    qint64 Count_Rec_Loc(RecordsetVar& rs, const QString& table, const QString& clause);
    bool Update_Loc(RecordsetVar& rs, const QString& assignments, const QString& table, const QString& clause);
    bool Update_Ser(RecordsetVar& rs, const QString& assignments, const QString& table, const QString& clause);
    bool Delete_Loc(RecordsetVar& rs, const QString& table, const QString& clause);
    bool Delete_Ser(RecordsetVar& rs, const QString& table, const QString& clause);

    // Counts that say whether they failed, for callers that must not take a failure for "none".
    // `clause` is a complete where clause (its literals closed) or empty; counted with COUNT(*).
    // nullopt on any failure, with lamp 0 orange as after a failed count.
    std::optional<qint64> Count_Rows_Loc(const QString& table, const QString& clause);
    // Whether the local database (the connection's current one) has the table, or the table
    // that column; nullopt on any failure, painted as a failed count.
    std::optional<bool> Table_Exists_Loc(const QString& table);
    std::optional<bool> Column_Exists_Loc(const QString& table, const QString& column);

    // Local settings, as read from the store.
    QString DB_User_Loc, DB_Server_Loc, DB_Name_Loc, DB_Pas_Loc, DB_Port_Loc;
    QString DB_Port_Ser;  // always the local port

    std::shared_ptr<OdbcConnection> Conn_Loc;
    std::shared_ptr<OdbcConnection> Conn_Ser;
    // Every call opens a session of its own and drops it, as before connections were held: for
    // measuring what holding them saves.
    bool freshConnectionPerCall = false;
    // Runs once on each new physical session of the local side, before the call that opened it
    // sends anything; what it throws fails that call as a failed connection does.
    std::function<void(OdbcConnection&)> onNewLocalSession;
    // Asked before every statement that may change data on either side's held connection
    // (`server` true for the server's); what it throws fails that statement before it is sent.
    std::function<void(bool server)> beforeWrite;
    // The physical session the local side holds now (0: none), and whether it still answers: one
    // ping, no statement, no event pump.
    quint64 localSession() const { return held_[0] ? held_[0]->session() : 0; }
    // The local side's connection handle; also while a call opens it again (Conn_Loc is empty then).
    const std::shared_ptr<OdbcConnection>& localConnection() const { return held_[0]; }
    bool localSessionAnswers() { return held_[0] && held_[0]->alive(); }
    // The last database failure as the driver gave it; also written as a reason line, naming the
    // settings to check, when reasonLog is set.
    QString lastError;
    QString lastSqlState;    // the driver's SQLSTATE of that failure; empty when it gave none
    int lastNativeCode = 0;  // the driver's native error code of that failure
    ErrorLog* reasonLog = nullptr;
    QString localSettingsFile = QStringLiteral("Veld/settings.ini");  // holds SaveIn*

    // Whether the side's last connection or call failed; cleared by its next success. While
    // either side has failed, no lamp is painted green, so a failure never looks like success.
    bool serverFailed() const { return failed_[1]; }
    bool localFailed() const { return failed_[0]; }

    static constexpr int LocalTimeout = 15;
    static constexpr int ServerTimeout = 10;

private:
    enum class Side { Local, Server };
    enum class OnFailure { ConnErr, Orange };
    bool openConnection(Side side);
    void connectionFailed(Side side);
    bool run(Side side, RecordsetVar& rs, const QString& sql, const QString& table, OnFailure onFailure, bool paintOnSuccess);
    std::optional<qint64> countLoc(const QString& sql);
    void noteError(Side side, bool connecting, const QString& table = {});
    static QString stepName(Side side, bool connecting, const QString& table = {});
    void stepWorks(Side side, bool connecting, const QString& table = {});
    void succeeded(Side side);
    void paintGreen(int from, int to);
    void pump() const;

    std::shared_ptr<OdbcConnection> held_[2];  // local, server: one connection handle each
    quint64 localSession_ = 0;                 // the session onNewLocalSession last accepted
    bool failed_[2] = {false, false};
    RunState& run_;
    LampsModel& lamps_;
    EventPump pump_;
    ServerFailureSink* sink_;
};

}  // namespace tarvelo::data
