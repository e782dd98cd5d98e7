#include "data/database.h"
#include "data/sql_text.h"
#include "support/test_db.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <stdexcept>
#include <gtest/gtest.h>

using namespace tarvelo;
using data::LampsModel;
using data::RecordsetVar;

namespace {

// Stands in for the main window's status line and start-up retry.
struct SinkDouble : data::ServerFailureSink {
    QStringList status;
    QStringList messageLog;
    int retries = 0;
    bool statusThrows = false;
    void MsgboxViw(qint16 picture, const QString& text) override
    {
        status << QString::number(picture) + ":" + text;
        if (statusThrows)
            throw std::runtime_error("the status line is gone");
    }
    void Report_Error(qint16 retryOnly, qint16 errorNumber, qint16 kind, const QString& title) override
    {
        EXPECT_EQ(retryOnly, 1);
        EXPECT_EQ(errorNumber, 39);
        EXPECT_EQ(kind, 1);
        EXPECT_EQ(title, "Server connectivity");
        ++retries;
        messageLog << QStringLiteral("المحاولة القادمة بعد دقيقة");
    }
};

class DatabaseCalls : public ::testing::Test {
protected:
    test::ScratchDatabase branch{"branch"};
    test::ScratchDatabase server{"server"};
    data::RunState run;
    LampsModel lamps;
    SinkDouble sink;
    int pumps = 0;
    data::Database db{run, lamps, [this] { ++pumps; }, &sink};

    void SetUp() override
    {
        const data::DbSettings s = server.settings();
        test::pointAt(db, run, branch.settings(), &s);
    }
    std::vector<quint32> colours() const
    {
        std::vector<quint32> out;
        for (int i = 0; i < LampsModel::Count; ++i)
            out.push_back(lamps.colour(i));
        return out;
    }
    void addBranches(const test::ScratchDatabase& d)
    {
        d.exec("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd, Ntel) VALUES "
               "('01','01','1','111'), ('02','02','0','222'), ('03','03','1','333')");
    }
};

constexpr quint32 G = LampsModel::Green, R = LampsModel::DarkRed, O = LampsModel::Orange, U = LampsModel::Unpainted;

TEST_F(DatabaseCalls, StatementTextsAreExactAndRun)
{
    addBranches(branch);
    addBranches(server);
    RecordsetVar rs;

    ASSERT_TRUE(db.Open_Rs_Loc_Where_Order(rs, "branch_tab", "where SynAdd = '1'", "no_rec"));
    EXPECT_EQ(rs->source(), "select * from branch_tab where SynAdd = '1' order by no_rec ASC");
    EXPECT_EQ(rs->recordCount(), 2);

    ASSERT_TRUE(db.Open_Rs_Loc_Where_Order(rs, "branch_tab", "", "no_rec"));
    EXPECT_EQ(rs->source(), "select * from branch_tab  order by no_rec ASC");
    EXPECT_EQ(rs->recordCount(), 3);

    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = '02'"));
    EXPECT_EQ(rs->source(), "select * from branch_tab where no_rec = '02'");
    EXPECT_EQ(rs->text("Ntel"), "222");

    ASSERT_TRUE(db.Open_Rs_Ser_Where_Order(rs, "branch_tab", "", "Ntel"));
    EXPECT_EQ(rs->source(), "select * from branch_tab  order by Ntel ASC");
    ASSERT_TRUE(db.Open_Rs_Ser(rs, "branch_tab", "where no_rec = '03'"));
    EXPECT_EQ(rs->source(), "select * from branch_tab where no_rec = '03'");
    EXPECT_EQ(rs->text("Ntel"), "333");

    ASSERT_TRUE(db.Open_Tab_Loc(rs, "branch_tab"));
    EXPECT_EQ(rs->source(), "select * from branch_tab");

    EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", "where no_rec = '01"), 1);
    EXPECT_EQ(rs->source(), "select * from branch_tab where no_rec = '01'");
    EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", ""), 3);
    EXPECT_EQ(rs->source(), "select * from branch_tab");

    ASSERT_TRUE(db.Update_Loc(rs, "Ntel = '999'", "branch_tab", "where no_rec = '01'"));
    EXPECT_EQ(rs->source(), "UPDATE branch_tab set Ntel = '999' where no_rec = '01'");
    EXPECT_EQ(branch.scalar("SELECT Ntel FROM branch_tab WHERE no_rec='01'"), "999");
    ASSERT_TRUE(db.Update_Ser(rs, "Ntel = '888'", "branch_tab", "where no_rec = '01'"));
    EXPECT_EQ(server.scalar("SELECT Ntel FROM branch_tab WHERE no_rec='01'"), "888");

    ASSERT_TRUE(db.Delete_Loc(rs, "branch_tab", "where no_rec = '02'"));
    EXPECT_EQ(rs->source(), "Delete from  branch_tab where no_rec = '02'");
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab"), "2");
    ASSERT_TRUE(db.Delete_Ser(rs, "branch_tab", "where no_rec = '03'"));
    EXPECT_EQ(rs->source(), "Delete from  branch_tab where no_rec = '03'");
    EXPECT_EQ(server.scalar("SELECT COUNT(*) FROM branch_tab"), "2");

    // Swapped update arguments make a statement that fails.
    EXPECT_FALSE(db.Update_Loc(rs, "branch_tab", "Ntel = '1'", ""));
}

TEST_F(DatabaseCalls, UpdateOrDeleteMatchingNoRowSucceeds)
{
    RecordsetVar rs;
    EXPECT_TRUE(db.Update_Loc(rs, "Ntel = 'x'", "branch_tab", "where no_rec = 'none'"));
    EXPECT_TRUE(db.Delete_Ser(rs, "branch_tab", "where no_rec = 'none'"));
    EXPECT_EQ(rs->recordCount(), 0);
}

TEST_F(DatabaseCalls, LampsFollowConnectionsAndCalls)
{
    ASSERT_TRUE(db.Open_Conn_Loc());
    EXPECT_EQ(colours(), (std::vector<quint32>{G, G, G, G, G}));

    RecordsetVar rs;
    EXPECT_FALSE(db.Open_Rs_Loc(rs, "no_such_tab", ""));
    EXPECT_EQ(colours(), (std::vector<quint32>{G, R, R, R, R}));

    EXPECT_FALSE(db.Update_Loc(rs, "nothing = 1", "branch_tab", ""));
    EXPECT_EQ(lamps.colour(0), O);

    EXPECT_EQ(db.Count_Rec_Loc(rs, "no_such_tab", "where a = '1"), 0);
    EXPECT_EQ(lamps.colour(0), O);

    // A successful count paints nothing of its own; a successful select paints lamp 0 green.
    EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", ""), 0);
    EXPECT_EQ(lamps.colour(0), G);  // the connection painted it
    EXPECT_FALSE(db.Delete_Loc(rs, "no_such_tab", ""));
    EXPECT_EQ(lamps.colour(1), R);
}

TEST_F(DatabaseCalls, FailedStatementLeavesAnUnopenedRecordset)
{
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Tab_Loc(rs, "branch_tab"));
    RecordsetVar before = rs;
    EXPECT_FALSE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = 'unpaired"));
    ASSERT_NE(rs, before);
    EXPECT_FALSE(rs->isOpen());
    EXPECT_THROW(rs->recordCount(), data::DbError);
    EXPECT_THROW(rs->value(u"no_rec"), data::DbError);
}

TEST_F(DatabaseCalls, ClosedLocalPortFailsAndLeavesTheCallersRecordset)
{
    addBranches(branch);
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = '01'"));
    RecordsetVar held = rs;

    db.DB_Port_Loc = test::kClosedPort;
    EXPECT_FALSE(db.Open_Conn_Loc());
    EXPECT_EQ(colours(), (std::vector<quint32>{G, R, R, R, R}));
    EXPECT_FALSE(db.Open_Rs_Loc(rs, "branch_tab", ""));
    EXPECT_FALSE(db.Open_Rs_Loc_Where_Order(rs, "branch_tab", "", "no_rec"));
    EXPECT_FALSE(db.Open_Tab_Loc(rs, "branch_tab"));
    EXPECT_FALSE(db.Update_Loc(rs, "Ntel = '1'", "branch_tab", ""));
    EXPECT_FALSE(db.Delete_Loc(rs, "branch_tab", ""));
    EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", ""), 0);
    EXPECT_EQ(rs, held);
    EXPECT_EQ(rs->text("Ntel"), "111");
    // A failed local connection shows nothing but the lamps.
    EXPECT_TRUE(sink.status.isEmpty());
    EXPECT_EQ(sink.retries, 0);
    EXPECT_FALSE(run.Syn_Stop);
}

TEST_F(DatabaseCalls, ClosedServerPortStopsSynchronisationOnce)
{
    addBranches(server);
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Ser(rs, "branch_tab", "where no_rec = '01'"));
    RecordsetVar held = rs;

    db.DB_Port_Ser = test::kClosedPort;
    EXPECT_FALSE(db.Open_Rs_Ser(rs, "branch_tab", ""));
    EXPECT_TRUE(run.Syn_Stop);
    EXPECT_EQ(rs, held);
    EXPECT_EQ(rs->text("Ntel"), "111");
    EXPECT_EQ(sink.status, QStringList{"0:خطاء باتصال السيرفر"});
    EXPECT_EQ(sink.messageLog, QStringList{"المحاولة القادمة بعد دقيقة"});
    EXPECT_EQ(lamps.colour(1), R);
    EXPECT_EQ(lamps.colour(4), R);

    // Server success repaints only lamp 0.
    db.DB_Port_Ser = db.DB_Port_Loc;
    ASSERT_TRUE(db.Open_Conn_Ser());
    EXPECT_EQ(colours(), (std::vector<quint32>{G, R, R, R, R}));
    EXPECT_TRUE(db.Update_Ser(rs, "Ntel = '5'", "branch_tab", "where no_rec = '01'"));
    EXPECT_EQ(colours(), (std::vector<quint32>{G, R, R, R, R}));
}

TEST_F(DatabaseCalls, EveryCallGetsTheSidesHeldConnectionAndLetsEventsRun)
{
    ASSERT_TRUE(db.Open_Conn_Loc());
    auto first = db.Conn_Loc;
    EXPECT_EQ(pumps, 5);
    ASSERT_TRUE(db.Open_Conn_Loc());
    EXPECT_EQ(db.Conn_Loc, first);
    ASSERT_TRUE(db.Open_Conn_Ser());
    EXPECT_NE(db.Conn_Ser, first);
    db.freshConnectionPerCall = true;
    ASSERT_TRUE(db.Open_Conn_Loc());
    EXPECT_NE(db.Conn_Loc, first);
    RecordsetVar rs;
    pumps = 0;
    ASSERT_TRUE(db.Open_Tab_Loc(rs, "branch_tab"));
    EXPECT_EQ(pumps, 6);
}

TEST_F(DatabaseCalls, KeptRecordsetIsEditableAfterLaterCallsReplacedTheConnection)
{
    addBranches(branch);
    RecordsetVar walk;
    ASSERT_TRUE(db.Open_Rs_Loc_Where_Order(walk, "branch_tab", "", "no_rec"));
    RecordsetVar other;
    int seen = 0;
    for (walk->moveFirst(); !walk->eof(); walk->moveNext()) {
        // Calls for each row replace the side's connection while the walk goes on.
        ASSERT_TRUE(db.Open_Rs_Loc(other, "branch_tab", "where no_rec = " + data::sqlLiteral(walk->text(u"no_rec"))));
        walk->setValue(u"Ntel", "T" + other->text(u"no_rec"));
        walk->setValue(u"SynAdd", "0");
        walk->update();
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    db.Conn_Loc.reset();
    EXPECT_EQ(branch.scalar("SELECT GROUP_CONCAT(Ntel ORDER BY no_rec) FROM branch_tab"), "T01,T02,T03");
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab WHERE SynAdd='0'"), "3");

    // Rows added through the recordset are inserted.
    walk->addNew();
    walk->setValue(u"no_rec", "04");
    walk->setValue(u"Ntel", "444");
    walk->update();
    EXPECT_EQ(branch.scalar("SELECT Ntel FROM branch_tab WHERE no_rec='04'"), "444");
}

TEST_F(DatabaseCalls, ArabicTextSurvivesTheCp1256ConnectionAsProperUtf8)
{
    const QString arabic = QStringLiteral("بدء المزامنه في");
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "notic_tab", "where no_rec = '0'"));
    rs->addNew();
    rs->setValue(u"no_rec", "010000001");
    rs->setValue(u"Na_Rec", arabic);
    rs->update();
    // And once through statement text.
    ASSERT_TRUE(db.Update_Loc(rs, "Ne_Rec = " + data::sqlLiteral(arabic), "notic_tab", "where no_rec = '010000001'"));

    ASSERT_TRUE(db.Open_Rs_Loc(rs, "notic_tab", "where Na_Rec = " + data::sqlLiteral(arabic)));
    ASSERT_EQ(rs->recordCount(), 1);
    EXPECT_EQ(rs->text(u"Na_Rec"), arabic);
    EXPECT_EQ(rs->text(u"Ne_Rec"), arabic);
    const QString hex = QString::fromLatin1(arabic.toUtf8().toHex().toUpper());
    EXPECT_EQ(branch.scalar("SELECT HEX(Na_Rec) FROM notic_tab"), hex);
    EXPECT_EQ(branch.scalar("SELECT HEX(Ne_Rec) FROM notic_tab"), hex);
}

TEST_F(DatabaseCalls, QuotedValuesCannotChangeTheStatement)
{
    addBranches(branch);
    const QString nasty = QStringLiteral("0'1\\' OR '1'='1");
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = '0'"));
    rs->addNew();
    rs->setValue(u"no_rec", nasty);
    rs->setValue(u"Ntel", "n");
    rs->update();

    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = " + data::sqlLiteral(nasty)));
    ASSERT_EQ(rs->recordCount(), 1);
    EXPECT_EQ(rs->text(u"no_rec"), nasty);
    EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", "where no_rec = " + data::sqlLiteralOpen(nasty)), 1);
    ASSERT_TRUE(db.Update_Loc(rs, "Ntel = " + data::sqlLiteral(nasty), "branch_tab",
                              "where no_rec = " + data::sqlLiteral(nasty)));
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab WHERE Ntel = 'n' OR Ntel LIKE '0%'"), "1");
    ASSERT_TRUE(db.Delete_Loc(rs, "branch_tab", "where no_rec = " + data::sqlLiteral(nasty)));
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab"), "3");
}

TEST_F(DatabaseCalls, CountAboveSixteenBitsIsExact)
{
    branch.exec("INSERT INTO work_tab (no_rec, Ne_KinTab, Ne_Rec) SELECT seq, 'stock_tab', 'Add' FROM seq_1_to_33000");
    RecordsetVar rs;
    EXPECT_EQ(db.Count_Rec_Loc(rs, "work_tab", ""), 33000);
    EXPECT_EQ(db.Count_Rec_Loc(rs, "work_tab", "where Ne_KinTab = 'stock_tab"), 33000);
    EXPECT_EQ(lamps.colour(0), G);
}

TEST_F(DatabaseCalls, SettingsComeFromTheStore)
{
    QTemporaryDir dir;
    data::IniSettingsStore store(dir.path());
    const data::DbSettings s = branch.settings();
    store.write("Veld", "Settings", "SaveInServer_Databes", s.host);
    store.write("Veld", "Settings", "SaveInPort", s.port);
    store.write("Veld", "Settings", "SaveInName_Databes", s.name);
    store.write("Veld", "Settings", "SaveInUser_Databes", s.user);
    store.write("Veld", "Settings", "SaveInPas_Databes", s.password);

    data::Database fresh(run, lamps, {}, &sink);
    fresh.Read_DB_Set(store);
    EXPECT_EQ(fresh.DB_Pas_Loc, s.password);
    EXPECT_EQ(fresh.DB_Port_Ser, s.port);
    EXPECT_TRUE(fresh.Open_Conn_Loc());

    QTemporaryDir empty;
    data::Database unset(run, lamps, {}, &sink);
    unset.Read_DB_Set(data::IniSettingsStore(empty.path()));
    EXPECT_TRUE(unset.DB_Server_Loc.isEmpty());
    EXPECT_EQ(data::connectionString(unset.localSettings()),
              "Driver={mySQL ODBC 3.51 Driver};Server=;Port=;Database=;uid=;Pwd=; OPTION=3;CharSet=cp1256;");
    EXPECT_FALSE(unset.Open_Conn_Loc());
    EXPECT_EQ(lamps.colour(1), R);
}

TEST_F(DatabaseCalls, HostileValuesRoundTripAndNeverLeaveTheirLiteral)
{
    const QStringList hostile = {"it's",       "back\\slash", "trailing\\", QStringLiteral("nul") + QChar(0) + "end",
                                 "two\nlines", "\\'",         "\\",         QStringLiteral("بدء المزامنه في"),
                                 "zz' OR 1=1 -- "};
    addBranches(branch);  // rows a clause that broke out of its literal would match
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where 1 = 0"));
    for (int i = 0; i < hostile.size(); ++i) {
        rs->addNew();
        rs->setValue(u"no_rec", "h" + QString::number(i));
        rs->setValue(u"Ntel", hostile[i]);
        rs->update();
    }

    // The calls' connections drop NO_BACKSLASH_ESCAPES whatever the server's own mode, so every
    // literal means exactly its value.
    for (const QString& v : hostile) {
        ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where Ntel = " + data::sqlLiteral(v)));
        ASSERT_EQ(rs->recordCount(), 1) << v.toStdString();
        EXPECT_EQ(rs->text(u"Ntel"), v);
        EXPECT_EQ(db.Count_Rec_Loc(rs, "branch_tab", "where Ntel = " + data::sqlLiteralOpen(v)), 1);
    }
    EXPECT_EQ(db.Conn_Loc->query("SELECT @@SESSION.sql_mode LIKE '%NO_BACKSLASH_ESCAPES%'").rows[0][0], "0");

    // On a session that has the mode, a backslash escape is no longer exact, but every value stays
    // one literal: it matches its own row or none, never more.
    auto raw = branch.connect();
    raw->query("SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'NO_BACKSLASH_ESCAPES')");
    for (const QString& v : hostile) {
        const data::ResultData r = raw->query("SELECT Ntel FROM branch_tab WHERE Ntel = " + data::sqlLiteral(v));
        const bool plain = !v.contains(u'\\') && !v.contains(QChar(0)) && !v.contains(u'\n');
        ASSERT_EQ(r.rows.size(), plain ? 1u : 0u) << v.toStdString();
        if (plain) {
            EXPECT_EQ(r.rows.at(0).at(0).toString(), v);
        }
    }
}

TEST_F(DatabaseCalls, EveryCharacterSurvivesLiteralsAndBoundValues)
{
    branch.exec("CREATE TABLE chars_tab (no_rec VARCHAR(8) PRIMARY KEY, u TEXT CHARACTER SET utf8mb4, "
                "c TEXT CHARACTER SET cp1256)");
    // Persian yeh, CJK and emoji are not in cp1256; the second text is all in it.
    const QString beyond = QStringLiteral("پیام 中文 😀 ۀ");
    const QString cp1256 = QStringLiteral("بدء المزامنه في ؟،؛ پچژگ é");
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "chars_tab", "where 1 = 0"));
    rs->addNew();
    rs->setValue(u"no_rec", "bound");
    rs->setValue(u"u", beyond);
    rs->setValue(u"c", cp1256);
    rs->addNew();
    rs->setValue(u"no_rec", "literal");
    rs->update();
    ASSERT_TRUE(db.Update_Loc(rs, "u = " + data::sqlLiteral(beyond) + ", c = " + data::sqlLiteral(cp1256), "chars_tab",
                              "where no_rec = 'literal'"));

    const QString utf8Hex = QString::fromLatin1(beyond.toUtf8().toHex().toUpper());
    const QString cp1256Hex = branch.scalar("SELECT HEX(CONVERT(CAST(X'" + QString::fromLatin1(cp1256.toUtf8().toHex())
                                            + "' AS CHAR CHARACTER SET utf8mb4) USING cp1256))");
    ASSERT_EQ(cp1256Hex.size(), 2 * cp1256.size());
    for (const char* key : {"bound", "literal"}) {
        EXPECT_EQ(branch.scalar(QStringLiteral("SELECT HEX(u) FROM chars_tab WHERE no_rec = '%1'").arg(key)), utf8Hex);
        EXPECT_EQ(branch.scalar(QStringLiteral("SELECT HEX(c) FROM chars_tab WHERE no_rec = '%1'").arg(key)), cp1256Hex);
        ASSERT_TRUE(db.Open_Rs_Loc(rs, "chars_tab", QStringLiteral("where no_rec = '%1'").arg(key)));
        EXPECT_EQ(rs->text(u"u"), beyond);
        EXPECT_EQ(rs->text(u"c"), cp1256);
    }
}

TEST_F(DatabaseCalls, ArabicUserNameLogsIn)
{
    const QString user = QStringLiteral("مستخدم_%1").arg(QRandomGenerator::global()->bounded(100000));
    const QString password = QStringLiteral("كلمة;سر");
    const QString account = data::sqlLiteral(user) + "@'%'";
    branch.exec("CREATE USER " + account + " IDENTIFIED BY " + data::sqlLiteral(password));
    struct Drop {
        const test::ScratchDatabase& d;
        QString account;
        ~Drop() { d.exec("DROP USER IF EXISTS " + account); }
    } drop{branch, account};
    branch.exec("GRANT ALL ON `" + branch.name() + "`.* TO " + account);
    addBranches(branch);

    db.DB_User_Loc = user;
    db.DB_Pas_Loc = password;
    RecordsetVar rs;
    ASSERT_TRUE(db.Open_Rs_Loc(rs, "branch_tab", "where no_rec = '01'")) << db.lastError.toStdString();
    EXPECT_EQ(rs->text(u"Ntel"), "111");
    EXPECT_EQ(db.Conn_Loc->query("SELECT CURRENT_USER()").rows[0][0].toString(), user + "@%");
}

TEST_F(DatabaseCalls, AnyExceptionInsideACallIsItsFailure)
{
    int pumped = 0, throwAt = 0;
    bool standard = true;
    data::Database calls{run, lamps, [&] {
                             if (++pumped == throwAt) {
                                 if (standard)
                                     throw std::runtime_error("thrown by a window event");
                                 throw 42;
                             }
                         },
                         &sink};
    const data::DbSettings s = server.settings();
    test::pointAt(calls, run, branch.settings(), &s);

    throwAt = 2;  // while the server connection opens
    EXPECT_FALSE(calls.Open_Conn_Ser());
    EXPECT_TRUE(run.Syn_Stop);
    EXPECT_EQ(sink.retries, 1);
    EXPECT_EQ(sink.status, QStringList{"0:خطاء باتصال السيرفر"});
    EXPECT_EQ(colours(), (std::vector<quint32>{U, R, R, R, R}));
    EXPECT_EQ(calls.lastError, "thrown by a window event");
    // A failing status line does not cost the retry.
    sink.statusThrows = true;
    pumped = 0;
    EXPECT_FALSE(calls.Open_Conn_Ser());
    EXPECT_EQ(sink.retries, 2);
    sink.statusThrows = false;

    RecordsetVar rs;
    ASSERT_TRUE(calls.Open_Tab_Loc(rs, "branch_tab"));
    const RecordsetVar held = rs;
    standard = false;
    pumped = 0;
    throwAt = 6;  // after the connection, before the statement
    EXPECT_FALSE(calls.Open_Rs_Loc(rs, "branch_tab", ""));
    EXPECT_EQ(rs, held);
    // The server has not been reached since it failed: nothing turns green.
    EXPECT_EQ(colours(), (std::vector<quint32>{U, R, R, R, R}));
    pumped = 0;
    EXPECT_FALSE(calls.Update_Loc(rs, "Ntel = '1'", "branch_tab", ""));
    EXPECT_EQ(lamps.colour(0), O);
    pumped = 0;
    EXPECT_EQ(calls.Count_Rows_Loc("branch_tab", ""), std::nullopt);
}

TEST_F(DatabaseCalls, CountsAndLookupsSayWhetherTheyFailed)
{
    addBranches(branch);
    server.exec("CREATE TABLE only_on_server (a INT)");
    EXPECT_EQ(db.Count_Rows_Loc("branch_tab", "where SynAdd = '1'"), 2);
    EXPECT_EQ(db.Count_Rows_Loc("work_tab", ""), 0);
    EXPECT_EQ(db.Table_Exists_Loc("branch_tab"), true);
    EXPECT_EQ(db.Table_Exists_Loc("Branch_Tab"), true);  // the servers fold table names
    EXPECT_EQ(db.Table_Exists_Loc("only_on_server"), false);
    EXPECT_EQ(db.Table_Exists_Loc("x' OR '1'='1"), false);
    EXPECT_EQ(db.Column_Exists_Loc("branch_tab", "NTEL"), true);
    EXPECT_EQ(db.Column_Exists_Loc("branch_tab", "no_such_column"), false);
    EXPECT_EQ(db.Column_Exists_Loc("only_on_server", "a"), false);
    EXPECT_EQ(lamps.colour(0), G);

    EXPECT_EQ(db.Count_Rows_Loc("no_such_tab", ""), std::nullopt);
    EXPECT_EQ(lamps.colour(0), O);
    db.DB_Port_Loc = test::kClosedPort;
    EXPECT_EQ(db.Count_Rows_Loc("branch_tab", ""), std::nullopt);
    EXPECT_EQ(db.Table_Exists_Loc("branch_tab"), std::nullopt);
    EXPECT_EQ(db.Column_Exists_Loc("branch_tab", "Ntel"), std::nullopt);
    EXPECT_EQ(lamps.colour(1), R);
}

TEST_F(DatabaseCalls, HostSettingThatIsNoHostNameFailsWithoutConnectingElsewhere)
{
    for (const QString& host : {QStringLiteral("nohost.invalid;Server=127.0.0.1"), QStringLiteral("127.0.0.2;x"),
                                QStringLiteral("127.0.0.1 "), QStringLiteral("{127.0.0.1}")}) {
        db.DB_Server_Loc = host;
        EXPECT_FALSE(db.Open_Conn_Loc()) << host.toStdString();
        EXPECT_FALSE(db.Conn_Loc);
        EXPECT_TRUE(db.lastError.contains(u"SaveInServer_Databes")) << db.lastError.toStdString();
        run.config.DB_Server_Ser = host;
        EXPECT_FALSE(db.Open_Conn_Ser());
        EXPECT_TRUE(db.lastError.contains(u"DB_Server_Ser")) << db.lastError.toStdString();
    }
    EXPECT_EQ(sink.retries, 4);
    for (const char* good : {"127.0.0.1", "db-1.branch.example", "srv_2", "::1", "fe80::1%eth0", "db.example."})
        EXPECT_TRUE(data::isHostOrAddress(QString::fromLatin1(good))) << good;
    for (const char* bad : {"", "a b", "a=b", "-x", "a..b", ":"})
        EXPECT_FALSE(data::isHostOrAddress(QString::fromLatin1(bad))) << bad;
}

TEST(ConnectionString, QuotesOnlyValuesOdbcWouldMisread)
{
    EXPECT_EQ(data::connectionString({"10.0.0.5", "3306", "shop", "admin", "secret"}),
              "Driver={mySQL ODBC 3.51 Driver};Server=10.0.0.5;Port=3306;Database=shop;uid=admin;Pwd=secret; "
              "OPTION=3;CharSet=cp1256;");
    EXPECT_EQ(data::odbcValue("a;b"), "{a;b}");
    EXPECT_EQ(data::odbcValue("a}b{"), "{a}}b{}");
    EXPECT_EQ(data::odbcValue("p@ss=&"), "p@ss=&");
}

TEST(SqlText, EscapesQuotesBackslashesAndControls)
{
    EXPECT_EQ(data::sqlLiteral(u"plain"), "'plain'");
    EXPECT_EQ(data::sqlLiteral(u"it's"), "'it''s'");
    EXPECT_EQ(data::sqlLiteral(u"a\\b"), "'a\\\\b'");
    EXPECT_EQ(data::sqlLiteralOpen(u"x'"), "'x''");
    EXPECT_EQ(data::sqlLiteral(QString(QChar(0)) + "\n"), "'\\0\\n'");
}

}  // namespace
