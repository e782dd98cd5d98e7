#include "data/web_service.h"
#include "support/ref_web_service.h"
#include "support/test_db.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace std::chrono_literals;
using data::WebService;
using test::RefWebService;
using Fault = RefWebService::Fault;

namespace {

const QStringList kDetailTables = {"rst_tab",    "sreport_tab", "sheftrow_tab", "rowvoi_tab",  "rowacc_tab",
                                   "seri_tab",   "stocinf_tab", "stocgro_tab",  "kinregr_tab", "rowbud_tab"};

// A web service, a program state pointing at it and an error log folder. The server database
// credentials are made up (the service's connection is refused), so the targets can be spelled out.
class WebRequests : public ::testing::Test {
protected:
    RefWebService web;
    data::RunState run;
    QTemporaryDir folder;
    data::ErrorLog log{folder.path()};
    int pumps = 0;
    qsizetype requestsAtPump = -1;
    WebService ws{run, log,
                  [this] {
                      ++pumps;
                      requestsAtPump = web.requests().size();
                  },
                  5s};

    static constexpr const char* kCredentials =
        "host=127.0.0.1&user=sync%20user&pasw=p%26w%3D1%20%23x&datb=%D9%81%D8%B1%D8%B9_db";

    void SetUp() override
    {
        ws.isDetailTable = [](const QString& table) { return kDetailTables.contains(table); };
        run.config.Url_Web = web.baseUrl();
        run.config.My_Branch = "3";
        run.config.DB_Server_Ser = "127.0.0.1";
        run.config.DB_User_Ser = "sync user";
        run.config.DB_Pas_Ser = "p&w=1 #x";
        run.config.DB_Name_Ser = "فرع_db";
    }

    QString errorLogText() const
    {
        QFile f(log.path());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(f.readAll());
    }

    // Points the requests at a port where nothing listens.
    void serviceDown() { run.config.Url_Web = QStringLiteral("http://127.0.0.1:%1/test1/").arg(test::kClosedPort); }
};

TEST_F(WebRequests, EachRequestSendsItsKeysInOrderWithEveryValuePercentEncoded)
{
    run.Snd_Pass = 7;
    run.Rec_Pass = 40;
    const QString reply = ws.Web_Save_Syn("invoice_tab", "20240102030405", "3-24/0001 +&=#", 0, 1, "فرع 2");
    EXPECT_TRUE(reply.startsWith("Error")) << "the made-up credentials must be refused: " << reply.toStdString();
    EXPECT_EQ(run.Snd_Pass, 8);
    EXPECT_EQ(run.Rec_Pass, 41);
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(requestsAtPump, 0) << "events run before the request goes out";

    ws.Web_Delete_Syn("invoice_tab", "20240102030405", "a~b.c_d-e", 0);
    ws.Int_Branx();
    ws.Get_TimeDiff();
    EXPECT_EQ(pumps, 1) << "only the acknowledgement post lets events run";
    EXPECT_EQ(run.Snd_Pass, 8);
    EXPECT_EQ(run.Rec_Pass, 41);

    const QString credentials = QString::fromLatin1(kCredentials);
    EXPECT_EQ(web.requests(),
              QStringList({"/test1/save_syn.php?" + credentials
                               + "&treco=invoice_tab&SynLast=20240102030405&norec=3-24%2F0001%20%2B%26%3D%23&branch=3"
                                 "&kin1=0&kin2=1&mainbranch=%D9%81%D8%B1%D8%B9%202",
                           "/test1/delete_syn.php?" + credentials
                               + "&treco=invoice_tab&SynLast=20240102030405&norec=a~b.c_d-e&kin1=0",
                           "/test1/intBranx.php?" + credentials, "/test1/getnow.php"}));
}

TEST_F(WebRequests, NegativeAndLargeKindsAreWrittenAsPlainDecimals)
{
    ws.Web_Save_Syn("branch_tab", "1", "2", 0, -3, "");
    ws.Web_Save_Syn("branch_tab", "", "", 3, 32767, "");
    const QStringList sent = web.requestsTo("save_syn.php");
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(sent[0].endsWith("&treco=branch_tab&SynLast=1&norec=2&branch=3&kin1=0&kin2=-3&mainbranch="))
        << sent[0].toStdString();
    EXPECT_TRUE(sent[1].endsWith("&treco=branch_tab&SynLast=&norec=&branch=3&kin1=3&kin2=32767&mainbranch="))
        << sent[1].toStdString();
}

TEST_F(WebRequests, RowsTheServerNeverKeepsAreAcceptedWithoutARequest)
{
    run.Snd_Pass = 5;
    run.Rec_Pass = 6;
    for (qint16 kin1 = 0; kin1 <= 3; ++kin1) {
        for (const QString& table : kDetailTables)
            EXPECT_EQ(ws.Web_Save_Syn(table, "20240101000000", "1", kin1, 0, "3"), "OK") << table.toStdString();
        if (kin1 != 0) {
            EXPECT_EQ(ws.Web_Save_Syn("branchsyn_tab", "20240101000000", "1", kin1, 1, "3"), "OK");
            EXPECT_EQ(ws.Web_Save_Syn("notic_tab", "20240101000000", "1", kin1, 1, "3"), "OK");
        }
    }
    run.Syn_First = 1;
    for (qint16 kin1 = 0; kin1 <= 3; ++kin1)
        for (const char* table : {"invoice_tab", "branch_tab", "branchsyn_tab", "notic_tab", "RST_TAB"})
            EXPECT_EQ(ws.Web_Save_Syn(table, "20240101000000", "1", kin1, 0, "3"), "OK");

    EXPECT_TRUE(web.requests().isEmpty()) << web.requests().join('\n').toStdString();
    EXPECT_EQ(run.Snd_Pass, 5);
    EXPECT_EQ(run.Rec_Pass, 6);
    EXPECT_EQ(pumps, 0);
}

TEST_F(WebRequests, AnnouncementsOfSettingsAndNoticesAndNamesDifferingInCaseAreSent)
{
    ws.Web_Save_Syn("branchsyn_tab", "20240101000000", "1", 0, 0, "3");
    ws.Web_Save_Syn("notic_tab", "20240101000000", "2", 0, 2, "3");
    ws.Web_Save_Syn("RST_TAB", "20240101000000", "3", 1, 0, "3");
    ws.Web_Save_Syn("Notic_tab", "20240101000000", "4", 1, 0, "3");
    const QStringList sent = web.requestsTo("save_syn.php");
    ASSERT_EQ(sent.size(), 4);
    EXPECT_TRUE(sent[0].contains("&treco=branchsyn_tab&"));
    EXPECT_TRUE(sent[1].contains("&treco=notic_tab&"));
    EXPECT_TRUE(sent[2].contains("&treco=RST_TAB&"));
    EXPECT_TRUE(sent[3].contains("&treco=Notic_tab&"));
    EXPECT_EQ(run.Snd_Pass, 4);
    EXPECT_EQ(run.Rec_Pass, 4);
    EXPECT_EQ(pumps, 4);
}

TEST_F(WebRequests, RepliesComeBackExactlyAsReceived)
{
    web.failNext("save_syn.php", 1, Fault::reply("OK\r\n"));
    web.failNext("save_syn.php", 1, Fault::reply("OK\n"));
    web.failNext("save_syn.php", 1, Fault::reply("ok"));
    web.failNext("save_syn.php", 1, Fault::reply("OK"));
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK\r\n");
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK\n");
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "ok");
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK");

    web.failNext("delete_syn.php", 1, Fault::reply("1"));
    web.failNext("delete_syn.php", 1, Fault::reply("1\n"));
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "1");
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "1\n");
}

TEST_F(WebRequests, AnEmptyAnswerIsHandedBackAndNotTakenAsAccepted)
{
    web.failNext("save_syn.php", 1, Fault::emptyBody());
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "");
    web.failNext("delete_syn.php", 1, Fault::emptyBody());
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "");
    EXPECT_EQ(errorLogText(), "") << "an answer, however wrong, is no failure of the request";
}

TEST_F(WebRequests, AnErrorStatusAfterRedirectsOrAnOverlongAnswerIsAFailedRequest)
{
    // Whatever the body says: a 500 or an unresolved redirect saying "OK" stored nothing.
    web.failNext("save_syn.php", 1, Fault::httpError(500, "OK"));
    web.failNext("save_syn.php", 1, Fault::httpError(503, ""));
    web.failNext("save_syn.php", 1, Fault::redirect(web.baseUrl() + "missing.php", 302, "OK"));
    web.failNext("save_syn.php", 1, Fault::streamed(2 << 20));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "") << i;
    EXPECT_EQ(run.Snd_Pass, 4);
    EXPECT_EQ(run.Rec_Pass, 4);
    // A redirect to an answer is followed.
    web.setVerNum("OK");
    web.failNext("save_syn.php", 1, Fault::redirect(web.baseUrl() + "VerNum.php"));
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK");

    web.failNext("delete_syn.php", 1, Fault::httpError(500, "1"));
    web.failNext("delete_syn.php", 1, Fault::redirect(web.baseUrl() + "missing.php", 302, "1"));
    web.failNext("delete_syn.php", 1, Fault::streamed(2 << 20));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "NotOk") << i;
    EXPECT_EQ(errorLogText(), "");

    web.failNext("intBranx.php", 1, Fault::httpError(500, "1"));
    web.failNext("getnow.php", 1, Fault::streamed(2 << 20));
    EXPECT_EQ(ws.Int_Branx(), 0);
    EXPECT_FALSE(ws.Get_TimeDiff());
    EXPECT_EQ(errorLogText(), "Error SYN027(0)\r\nError SYN016(0)\r\n");
}

TEST_F(WebRequests, AFailedRequestGivesTheFailureResultAndKeepsTheCount)
{
    serviceDown();
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "");
    EXPECT_EQ(run.Snd_Pass, 1);
    EXPECT_EQ(run.Rec_Pass, 1);
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "NotOk");
    EXPECT_EQ(errorLogText(), "") << "the ledger requests write no error line";
}

TEST_F(WebRequests, ARequestThatOutlastsTheTimeOutFails)
{
    ws.setTimeout(300ms);
    web.failNext("save_syn.php", 1, Fault::delayed(3s));
    web.failNext("delete_syn.php", 1, Fault::delayed(3s));
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "");
    EXPECT_EQ(run.Snd_Pass, 1);
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "NotOk");

    // The next request, on a fresh connection, is answered again.
    web.failNext("save_syn.php", 1, Fault::reply("OK"));
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK");
}

TEST_F(WebRequests, TheClockOffsetFollowsTheServersClock)
{
    // The server's answer has whole seconds; a second boundary may pass between its reading and ours.
    web.setClockOffset(90);
    ASSERT_TRUE(ws.Get_TimeDiff());
    EXPECT_TRUE(run.Time_Diff == "90" || run.Time_Diff == "89") << run.Time_Diff.toStdString();
    EXPECT_EQ(run.Err_Fields[12].size(), 19) << run.Err_Fields[12].toStdString();
    EXPECT_TRUE(data::parseServerTime(run.Err_Fields[12]).has_value());

    web.setClockOffset(-5);
    ASSERT_TRUE(ws.Get_TimeDiff());
    EXPECT_TRUE(run.Time_Diff == "-5" || run.Time_Diff == "-6") << run.Time_Diff.toStdString();

    web.setClockOffset(-3 * 3600);
    ASSERT_TRUE(ws.Get_TimeDiff());
    EXPECT_TRUE(run.Time_Diff == "-10800" || run.Time_Diff == "-10801") << run.Time_Diff.toStdString();
    EXPECT_EQ(errorLogText(), "");
}

TEST_F(WebRequests, AClockReplyThatIsNoDateFailsAndLeavesTheOffset)
{
    run.Time_Diff = "17";
    web.failNext("getnow.php", 1, Fault::reply("No input file specified."));
    EXPECT_FALSE(ws.Get_TimeDiff());
    EXPECT_EQ(run.Time_Diff, "17");
    EXPECT_EQ(run.Err_Fields[12], "No input file specified.");
    EXPECT_EQ(errorLogText(), "Error SYN016(0)\r\n");

    web.failNext("getnow.php", 1, Fault::httpError(500));
    EXPECT_FALSE(ws.Get_TimeDiff());
    EXPECT_EQ(run.Time_Diff, "17");
    EXPECT_EQ(errorLogText(), "Error SYN016(0)\r\nError SYN016(0)\r\n");
}

TEST_F(WebRequests, AnEmptyClockReplyFailsWithoutAnErrorLine)
{
    run.Time_Diff = "-4";
    run.Err_Fields[12] = "earlier";
    web.failNext("getnow.php", 1, Fault::emptyBody());
    EXPECT_FALSE(ws.Get_TimeDiff());
    EXPECT_EQ(run.Time_Diff, "-4");
    EXPECT_EQ(run.Err_Fields[12], "");
    EXPECT_EQ(errorLogText(), "");
}

TEST_F(WebRequests, AClockServiceThatIsDownOrTooSlowFailsWithTheErrorLine)
{
    run.Time_Diff = "12";
    ws.setTimeout(300ms);
    web.failNext("getnow.php", 1, Fault::delayed(3s));
    EXPECT_FALSE(ws.Get_TimeDiff());
    serviceDown();
    EXPECT_FALSE(ws.Get_TimeDiff());
    EXPECT_EQ(run.Time_Diff, "12");
    EXPECT_EQ(errorLogText(), "Error SYN016(0)\r\nError SYN016(0)\r\n");
}

TEST_F(WebRequests, ServerTimeAcceptsTheUsualWritings)
{
    const QDateTime expected(QDate(2024, 3, 9), QTime(7, 5, 2));
    for (const char* text : {"2024-03-09 07:05:02", "2024-03-09 7:05:02", "2024/03/09 07:05:02",
                             "2024-03-09T07:05:02", "2024-03-09 07:05:02\n", " 2024-03-09 07:05:02\r\n"}) {
        const auto parsed = data::parseServerTime(QString::fromLatin1(text));
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, expected) << text;
    }
    EXPECT_EQ(*data::parseServerTime("2024-03-09 07:05:02.750"), expected.addMSecs(750));
    for (const char* text : {"", "OK", "2024-13-01 00:00:00", "2024-02-30 10:00:00", "2024-03-09", "10:00:00",
                             "2024-03-09 25:00:00"})
        EXPECT_FALSE(data::parseServerTime(QString::fromLatin1(text)).has_value()) << text;
}

TEST_F(WebRequests, OffsetsCountWholeSecondsBetweenSecondBoundaries)
{
    const QDateTime local(QDate(2024, 1, 1), QTime(12, 0, 0, 999));
    EXPECT_EQ(data::clockOffsetSeconds(local, QDateTime(QDate(2024, 1, 1), QTime(12, 1, 30))), 90);
    EXPECT_EQ(data::clockOffsetSeconds(local, QDateTime(QDate(2024, 1, 1), QTime(11, 59, 55))), -5);
    EXPECT_EQ(data::clockOffsetSeconds(local, QDateTime(QDate(2024, 1, 1), QTime(12, 0, 0))), 0);
    EXPECT_EQ(data::clockOffsetSeconds(local, QDateTime(QDate(2023, 12, 31), QTime(12, 0, 0))), -86400);
}

TEST_F(WebRequests, TheCycleAnnouncementKeepsItsReplyAndGoesOnWhenTheServiceIsDown)
{
    web.failNext("intBranx.php", 1, Fault::reply("1"));
    EXPECT_EQ(ws.Int_Branx(), 1);
    EXPECT_EQ(run.Err_Fields[6], "1");

    web.failNext("intBranx.php", 1, Fault::reply("busy"));
    EXPECT_EQ(ws.Int_Branx(), 0);
    EXPECT_EQ(run.Err_Fields[6], "busy");
    EXPECT_EQ(errorLogText(), "") << "intBranx.php's answer is not looked at";

    serviceDown();
    EXPECT_EQ(ws.Int_Branx(), 0);
    EXPECT_EQ(run.Err_Fields[6], "busy") << "no reply, nothing stored";
    EXPECT_EQ(errorLogText(), "Error SYN027(0)\r\n");
    EXPECT_EQ(log.Err_Step, 0);

    // The cycle's next step runs as usual once the service is back.
    run.config.Url_Web = web.baseUrl();
    web.failNext("save_syn.php", 1, Fault::reply("OK"));
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK");
}

// Against the server database: the reference scripts really keep the ledger.
class WebLedger : public ::testing::Test {
protected:
    test::ScratchDatabase server{"server"};
    RefWebService web;
    data::RunState run;
    QTemporaryDir folder;
    data::ErrorLog log{folder.path()};
    WebService ws{run, log, [] {}, 10s};

    void SetUp() override
    {
        const data::DbSettings s = server.settings();
        run.config.Url_Web = web.baseUrl();
        run.config.My_Branch = "3";
        run.config.DB_Server_Ser = s.host;
        run.config.DB_User_Ser = s.user;
        run.config.DB_Pas_Ser = s.password;
        run.config.DB_Name_Ser = s.name;
    }

    QString rows(const QString& where = "1=1") const
    {
        const data::ResultData r = server.query(
            "SELECT NoRec, treco, branch, SynLast, kin1, kin2, kin3, mainbranch FROM atten_rec WHERE " + where
            + " ORDER BY id");
        QStringList out;
        for (const auto& row : r.rows) {
            QStringList cells;
            for (const QVariant& v : row)
                cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
            out << cells.join(u'|');
        }
        return out.join(u'\n');
    }
};

TEST_F(WebLedger, SaveStoresOneRowPerKeyAndARepeatRefreshesIt)
{
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 0, 0, "3"), "OK");
    const QString firstStamp = server.scalar("SELECT DTNow FROM atten_rec");
    EXPECT_EQ(firstStamp.size(), 20) << firstStamp.toStdString();
    EXPECT_EQ(rows(), "3-24-000001|invoice_tab|3|20240101101010|0|0|0|3");

    // Same record, branch, table, stamp and kind: the row is refreshed, not doubled.
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 0, 5, "3"), "OK");
    EXPECT_EQ(rows(), "3-24-000001|invoice_tab|3|20240101101010|0|5|0|3");
    EXPECT_GT(server.scalar("SELECT DTNow FROM atten_rec"), firstStamp);

    // Another kind, another branch, another stamp: rows of their own.
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 2, 0, "3"), "OK");
    run.config.My_Branch = "4";
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 1, 1, "3"), "OK");
    EXPECT_EQ(ws.Web_Save_Syn("invoice_tab", "20240202101010", "3-24-000001", 1, 1, "3"), "OK");
    EXPECT_EQ(server.scalar("SELECT COUNT(*) FROM atten_rec"), "4");
    // Posting order is the order of DTNow.
    EXPECT_EQ(server.scalar("SELECT GROUP_CONCAT(kin1 ORDER BY DTNow SEPARATOR ',') FROM atten_rec"), "0,2,1,1");
    EXPECT_EQ(server.scalar("SELECT GROUP_CONCAT(SynLast ORDER BY DTNow SEPARATOR ',') FROM atten_rec"),
              "20240101101010,20240101101010,20240101101010,20240202101010");
}

TEST_F(WebLedger, ValuesWithQuerySignsAndArabicArriveIntact)
{
    const QString norec = "3-24 #1&x=2+y%20/?";
    const QString treco = "جدول_tab";
    EXPECT_EQ(ws.Web_Save_Syn(treco, "2024 01", norec, 0, 1, "فرع"), "OK");
    EXPECT_EQ(server.scalar("SELECT HEX(NoRec) FROM atten_rec"), QString::fromLatin1(norec.toUtf8().toHex().toUpper()));
    EXPECT_EQ(server.scalar("SELECT HEX(treco) FROM atten_rec"), QString::fromLatin1(treco.toUtf8().toHex().toUpper()));
    EXPECT_EQ(server.scalar("SELECT HEX(mainbranch) FROM atten_rec"),
              QString::fromLatin1(QStringLiteral("فرع").toUtf8().toHex().toUpper()));
    EXPECT_EQ(server.scalar("SELECT SynLast FROM atten_rec"), "2024 01");

    EXPECT_EQ(ws.Web_Delete_Syn(treco, "2024 01", norec, 0), "1");
    EXPECT_EQ(server.scalar("SELECT COUNT(*) FROM atten_rec"), "0");
}

TEST_F(WebLedger, DeleteRemovesOneFamilyOfOneRecordVersionAndNothingElse)
{
    ASSERT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 0, 0, "3"), "OK");
    ASSERT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 2, 0, "3"), "OK");
    run.config.My_Branch = "4";
    ASSERT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000001", 1, 1, "3"), "OK");
    ASSERT_EQ(ws.Web_Save_Syn("invoice_tab", "20240202101010", "3-24-000001", 0, 0, "4"), "OK");
    ASSERT_EQ(ws.Web_Save_Syn("invoice_tab", "20240101101010", "3-24-000002", 0, 0, "4"), "OK");
    ASSERT_EQ(ws.Web_Save_Syn("store_tab", "20240101101010", "3-24-000001", 0, 0, "4"), "OK");

    // The record exchange goes; the deletion announced for the same version stays.
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "20240101101010", "3-24-000001", 0), "1");
    EXPECT_EQ(rows(), "3-24-000001|invoice_tab|3|20240101101010|2|0|0|3\n"
                      "3-24-000001|invoice_tab|4|20240202101010|0|0|0|4\n"
                      "3-24-000002|invoice_tab|4|20240101101010|0|0|0|4\n"
                      "3-24-000001|store_tab|4|20240101101010|0|0|0|4");
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "20240101101010", "3-24-000001", 2), "1");
    EXPECT_EQ(rows("kin1 = '2'"), "");
    // Nothing left to remove is still done.
    EXPECT_EQ(ws.Web_Delete_Syn("invoice_tab", "20240101101010", "3-24-000001", 0), "1");
}

TEST_F(WebLedger, WrongCredentialsOrAMissingKeyAreNotAcceptedAndStoreNothing)
{
    run.config.DB_Pas_Ser = run.config.DB_Pas_Ser + "x";
    const QString saved = ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3");
    EXPECT_NE(saved, "OK");
    EXPECT_FALSE(saved.isEmpty());
    EXPECT_NE(ws.Web_Delete_Syn("invoice_tab", "1", "1", 0), "1");
    EXPECT_NE(ws.Int_Branx(), 1);

    run.config.DB_Pas_Ser = server.settings().password;
    run.config.DB_Name_Ser = server.name() + "_missing";
    EXPECT_NE(ws.Web_Save_Syn("invoice_tab", "1", "1", 0, 0, "3"), "OK");

    run.config.DB_Name_Ser = server.name();
    EXPECT_EQ(ws.Int_Branx(), 1);
    EXPECT_EQ(run.Err_Fields[6], "1");

    // A request without all of its keys, as another client might send it.
    data::HttpClient http;
    const data::HttpReply reply = http.get(data::webRequestUrl(
        web.baseUrl(), "save_syn.php",
        {{"host", run.config.DB_Server_Ser}, {"user", run.config.DB_User_Ser}, {"pasw", run.config.DB_Pas_Ser},
         {"datb", run.config.DB_Name_Ser}, {"treco", "invoice_tab"}}));
    ASSERT_TRUE(reply.ok);
    EXPECT_NE(reply.body, "OK");
    EXPECT_EQ(server.scalar("SELECT COUNT(*) FROM atten_rec"), "0");
}

}  // namespace
