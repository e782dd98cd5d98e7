// The database calls with the driver manager pooling physical connections, against a server of
// the test's own that it stops, freezes and kills. Pooling is process-wide, so these tests have
// their own program and point ODBCSYSINI at a pooling driver list before the first ODBC handle.
#include "data/database.h"
#include "support/private_mariadb.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <set>

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

class PooledConnections : public ::testing::Test {
protected:
    test::PrivateMariaDb server{QStringLiteral("STRICT_TRANS_TABLES,NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION")};
    data::RunState run;
    LampsModel lamps;
    SinkDouble sink;
    data::Database db{run, lamps, {}, &sink};

    void SetUp() override
    {
        // Once per process: the driver manager reads the driver list's place only once.
        static const QTemporaryDir odbc = [] {
            QTemporaryDir d;
            test::writeOdbcInst(d.path(), true);
            ::setenv("ODBCSYSINI", d.path().toLocal8Bit().constData(), 1);
            return d;
        }();
        server.rootSql(QStringLiteral("CREATE DATABASE pooled; CREATE TABLE pooled.branch_tab (no_rec VARCHAR(64) "
                                      "PRIMARY KEY, Ntel VARCHAR(255)); INSERT INTO pooled.branch_tab VALUES ('01', 'a')"));
        const data::DbSettings s = server.settings(QStringLiteral("pooled"));
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

    // A few calls as callers make them; fewer physical sessions than calls shows pooling is on.
    void callsReuseSessions()
    {
        std::set<QString> sessions;
        RecordsetVar rs;
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(db.Open_Rs_Ser(rs, "branch_tab", "where no_rec = '01'")) << db.lastError.toStdString();
            sessions.insert(db.Conn_Ser->query("SELECT CONNECTION_ID()").rows.at(0).at(0).toString());
        }
        ASSERT_LT(sessions.size(), 4u);
        held = rs;
    }
    RecordsetVar held;
};

TEST_F(PooledConnections, ServerStoppedBetweenCallsFailsTheNextCallAsAConnectionFailure)
{
    callsReuseSessions();
    server.kill();

    QElapsedTimer t;
    t.start();
    RecordsetVar rs = held;
    EXPECT_FALSE(db.Open_Rs_Ser(rs, "branch_tab", ""));
    std::cout << "call on a stopped server failed after " << t.elapsed() << " ms\n";
    EXPECT_EQ(rs, held);
    EXPECT_TRUE(run.Syn_Stop);
    EXPECT_EQ(sink.status, QStringList{"0:خطاء باتصال السيرفر"});
    EXPECT_EQ(sink.retries, 1);
    EXPECT_EQ(lamps.colour(4), LampsModel::DarkRed);
    EXPECT_FALSE(db.Open_Conn_Ser());
    EXPECT_EQ(sink.retries, 2);
    EXPECT_FALSE(db.Open_Conn_Loc());
}

TEST_F(PooledConnections, HungServerFailsTheNextCallWithinTheTimeOutsAndRecovers)
{
    callsReuseSessions();
    server.freeze();

    QElapsedTimer t;
    t.start();
    RecordsetVar rs;
    EXPECT_FALSE(db.Open_Rs_Ser(rs, "branch_tab", ""));
    const qint64 ms = t.elapsed();
    std::cout << "call on a hung server failed after " << ms << " ms: " << db.lastError.toStdString() << "\n";
    EXPECT_TRUE(run.Syn_Stop);
    EXPECT_EQ(sink.retries, 1);
    // The idle pooled session's liveness ping waits the read time-out, then a new session its
    // opening time-out; a few seconds over both is a hang, not a bound.
    EXPECT_LT(ms, (data::Database::ServerTimeout + 5 + data::OdbcConnection::DefaultLoginTimeout + 5) * 1000);

    server.thaw();
    ASSERT_TRUE(db.Open_Rs_Ser(rs, "branch_tab", "")) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "a");
}

TEST_F(PooledConnections, NothingASessionSetReachesTheNextCall)
{
    const QString cs = data::connectionString(server.settings(QStringLiteral("pooled")));
    QString session;
    {
        auto c = data::OdbcConnection::open(cs, 10);
        session = c->query("SELECT CONNECTION_ID()").rows.at(0).at(0).toString();
        c->query("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES,ANSI_QUOTES', max_statement_time = 0, autocommit = 0");
        c->query("INSERT INTO branch_tab VALUES ('02', 'uncommitted')");
    }
    auto c = data::OdbcConnection::open(cs, 10);
    ASSERT_EQ(c->query("SELECT CONNECTION_ID()").rows.at(0).at(0).toString(), session) << "not pooled";
    const data::ResultData r = c->query("SELECT @@SESSION.sql_mode, @@autocommit, @@max_statement_time, @@in_transaction");
    // The server's own mode, less the one mode the literal helper cannot live with.
    EXPECT_EQ(r.rows.at(0).at(0).toString(), "STRICT_TRANS_TABLES,NO_ENGINE_SUBSTITUTION");
    EXPECT_EQ(r.rows.at(0).at(1).toString(), "1");
    EXPECT_EQ(r.rows.at(0).at(2).toDouble(), 10.0);
    EXPECT_EQ(r.rows.at(0).at(3).toString(), "0");
    // The other user's open transaction was rolled back, not committed by the next one.
    EXPECT_EQ(c->query("SELECT COUNT(*) FROM branch_tab").rows.at(0).at(0).toString(), "1");
}

}  // namespace
