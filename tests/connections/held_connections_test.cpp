// The database calls on held connections against a server of the test's own that it stops,
// freezes and restarts, between two calls and during one.
#include "data/database.h"
#include "support/private_mariadb.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>

using namespace tarvelo;
using data::LampsModel;
using data::RecordsetVar;

namespace {

struct SinkDouble : data::ServerFailureSink {
    QStringList status;
    int retries = 0;
    void MsgboxViw(qint16 picture, const QString& text) override { status << QString::number(picture) + ":" + text; }
    void Report_Error(qint16, qint16, qint16, const QString&) override { ++retries; }
};

// The pump a call runs just before its statement, after its connection is ready.
constexpr int kPumpBeforeStatement = 6;

class HeldConnections : public ::testing::Test {
protected:
    test::PrivateMariaDb server{QStringLiteral("STRICT_TRANS_TABLES,NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION")};
    data::RunState run;
    LampsModel lamps;
    SinkDouble sink;
    int pumps = 0;
    std::function<void()> atStatement;  // what happens to the server during the next call
    data::Database db{run, lamps,
                      [this] {
                          if (++pumps == kPumpBeforeStatement && atStatement)
                              std::exchange(atStatement, nullptr)();
                      },
                      &sink};

    void SetUp() override
    {
        // Once per process: the driver manager reads the driver list's place only once.
        static const QTemporaryDir odbc = [] {
            QTemporaryDir d;
            test::writeOdbcInst(d.path());
            ::setenv("ODBCSYSINI", d.path().toLocal8Bit().constData(), 1);
            return d;
        }();
        server.rootSql(QStringLiteral("CREATE DATABASE held; CREATE TABLE held.branch_tab (no_rec VARCHAR(64) "
                                      "PRIMARY KEY, Ntel VARCHAR(255)); INSERT INTO held.branch_tab VALUES ('01', 'a')"));
        const data::DbSettings s = server.settings(QStringLiteral("held"));
        db.DB_Server_Loc = s.host;
        db.DB_Port_Loc = db.DB_Port_Ser = s.port;
        db.DB_Name_Loc = s.name;
        db.DB_User_Loc = s.user;
        db.DB_Pas_Loc = s.password;
        run.config.DB_Server_Ser = s.host;
        run.config.DB_Name_Ser = s.name;
        run.config.DB_User_Ser = s.user;
        run.config.DB_Pas_Ser = s.password;
    }

    bool call(RecordsetVar& rs)
    {
        pumps = 0;
        return db.Open_Rs_Ser(rs, "branch_tab", "where no_rec = '01'");
    }
    QString session() { return db.Conn_Ser->query("SELECT CONNECTION_ID()").rows.at(0).at(0).toString(); }
    void expectNoServerFailure()
    {
        EXPECT_FALSE(run.Syn_Stop);
        EXPECT_TRUE(sink.status.isEmpty());
        EXPECT_EQ(sink.retries, 0);
    }
    void expectServerFailure(int times)
    {
        EXPECT_TRUE(run.Syn_Stop);
        EXPECT_EQ(sink.status.size(), times);
        EXPECT_EQ(sink.status.value(0), "0:خطاء باتصال السيرفر");
        EXPECT_EQ(sink.retries, times);
        EXPECT_EQ(lamps.colour(4), LampsModel::DarkRed);
    }
};

TEST_F(HeldConnections, CallsShareOneSessionEachHandedOverAsANewOne)
{
    RecordsetVar rs;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    const auto connection = db.Conn_Ser;
    const QString first = session();
    connection->query("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES,ANSI_QUOTES', max_statement_time = 0, autocommit = 0");
    connection->query("INSERT INTO branch_tab VALUES ('02', 'uncommitted')");

    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(db.Conn_Ser, connection);
    EXPECT_EQ(session(), first);
    const data::ResultData r = db.Conn_Ser->query("SELECT @@SESSION.sql_mode, @@autocommit, @@max_statement_time, "
                                                  "@@in_transaction, (SELECT COUNT(*) FROM branch_tab)");
    // The server's own mode, less the one mode the literal helper cannot live with.
    EXPECT_EQ(r.rows.at(0).at(0).toString(), "STRICT_TRANS_TABLES,NO_ENGINE_SUBSTITUTION");
    EXPECT_EQ(r.rows.at(0).at(1).toString(), "1");
    EXPECT_EQ(r.rows.at(0).at(2).toDouble(), 10.0);
    EXPECT_EQ(r.rows.at(0).at(3).toString(), "0");
    // The left-over transaction was rolled back, not committed by the next call.
    EXPECT_EQ(r.rows.at(0).at(4).toString(), "1");
    expectNoServerFailure();
}

TEST_F(HeldConnections, SessionTheServerClosedWhileIdleIsReplacedWithoutTheCallFailing)
{
    RecordsetVar rs;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    const auto connection = db.Conn_Ser;
    // Ended by the server, as its idle time-out does.
    server.rootSql("KILL " + session());
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");

    server.restart();
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");
    EXPECT_EQ(db.Conn_Ser, connection);  // the same handle, opened again
    expectNoServerFailure();
}

TEST_F(HeldConnections, ServerStoppedBetweenCallsFailsTheNextCallAsAConnectionFailure)
{
    RecordsetVar rs;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    const RecordsetVar held = rs;
    server.kill();

    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(call(rs));
    std::cout << "call on a stopped server failed after " << t.elapsed() << " ms\n";
    EXPECT_EQ(rs, held);
    expectServerFailure(1);
    EXPECT_FALSE(db.Open_Conn_Loc());

    server.restart();
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");
}

TEST_F(HeldConnections, HungServerBetweenCallsFailsTheNextCallAsAConnectionFailureAndRecovers)
{
    RecordsetVar rs;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    server.freeze();

    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(call(rs));
    std::cout << "call on a hung server failed after " << t.elapsed() << " ms: " << db.lastError.toStdString() << "\n";
    expectServerFailure(1);

    server.thaw();
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");
}

TEST_F(HeldConnections, ServerLostDuringACallFailsThatStatementAndTheNextCallConnectsAgain)
{
    RecordsetVar rs;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();

    // Stopped: the statement fails as a statement does; the next call finds no server.
    atStatement = [&] { server.kill(); };
    EXPECT_FALSE(call(rs));
    EXPECT_FALSE(rs->isOpen());
    EXPECT_EQ(lamps.colour(1), LampsModel::DarkRed);
    expectNoServerFailure();
    EXPECT_FALSE(call(rs));
    expectServerFailure(1);

    // Restarted: the statement on the old session fails, the next call gets a new one.
    server.restart();
    run.Syn_Stop = false;
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    atStatement = [&] { server.restart(); };
    EXPECT_FALSE(call(rs));
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");

    // Hung: the statement ends at the read time-out; once the server answers again, so do calls.
    atStatement = [&] { server.freeze(); };
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(call(rs));
    std::cout << "statement on a server hung during the call failed after " << t.elapsed() << " ms\n";
    server.thaw();
    ASSERT_TRUE(call(rs)) << db.lastError.toStdString();
    EXPECT_FALSE(run.Syn_Stop);
    EXPECT_EQ(sink.retries, 1);
}

}  // namespace
