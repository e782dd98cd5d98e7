// Exchanges between branches that stalled or lost data before: each ends with every database and
// ledger checked.
#include "data/odbc.h"
#include "data/error_log.h"
#include "support/sync_rig.h"
#include "sync/engine.h"

#include <QFile>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

qint64 ledgerRows(const ScratchDatabase& db, const QString& where = {})
{
    return db.scalar("SELECT COUNT(*) FROM atten_rec" + (where.isEmpty() ? QString() : " WHERE " + where)).toLongLong();
}

void expectLedgersEmpty(const SyncRig& rig)
{
    EXPECT_EQ(ledgerRows(rig.server), 0) << "server ledger";
    for (const auto& b : rig.branches)
        EXPECT_EQ(ledgerRows(b->db), 0) << "ledger of branch " << b->number.toStdString();
}

void expectEverywhere(const SyncRig& rig, const QString& table, const QString& noRec, const QString& column,
                      const QString& value)
{
    EXPECT_EQ(rig.serverValue(table, noRec, column), value) << "server " << column.toStdString();
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->value(table, noRec, column), value) << "branch " << b->number.toStdString() << " "
                                                         << column.toStdString();
}

struct LedgerFaults : ::testing::Test {
    void TearDown() override { data::clearStatementFailures(); }
};

}  // namespace

TEST_F(LedgerFaults, ClosingLeavesAnEditMadeAfterTheSendPassToBeSent)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Ne_Rec", "old"}});
    rig.round();  // sent and answered
    // Edited while the closing is due, and queued only later.
    rig.A().db.exec("UPDATE city_tab SET Ne_Rec = 'new', SynAdd = '1' WHERE no_rec = '0100001'");
    rig.A().cycle();
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "1");
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "SynAdd"), "4") << "the announced version is closed";

    rig.A().queue("city_tab", "Edit");
    ASSERT_GT(rig.settle(), 0);
    expectEverywhere(rig, "city_tab", "0100001", "Ne_Rec", "new");
    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AFailedBranchListNeverMakesARecordCloseWithoutAnswers)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.A().cycle();  // sent; nobody has answered yet
    data::failStatements("from branch_tab", 1000, rig.A().db.name());
    rig.A().cycle();
    data::clearStatementFailures();
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "0");
    EXPECT_EQ(rig.web.requestsTo("delete_syn.php").size(), 0);

    ASSERT_GT(rig.settle(), 0);
    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    EXPECT_EQ(rig.B().value("city_tab", "0100001", "SynAdd"), "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AnswersOfAnInactiveBranchDoNotHoldTheExchangeOpen)
{
    SyncRig rig;
    // C is disabled in every branch list but still runs and answers.
    for (const ScratchDatabase* db : {&rig.server, &rig.A().db, &rig.B().db, &rig.C().db})
        db->exec("UPDATE branch_tab SET DesEna = '1' WHERE no_rec = '03'");
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "4");
    EXPECT_EQ(rig.B().value("city_tab", "0100001", "SynAdd"), "4");
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "SynAdd"), "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ARefusalFromAnInactiveBranchStillRefuses)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    for (const ScratchDatabase* db : {&rig.server, &rig.A().db, &rig.B().db, &rig.C().db})
        db->exec("UPDATE branch_tab SET DesEna = '1' WHERE no_rec = '03'");
    rig.C().db.exec("INSERT INTO user_tab (no_rec, No_Branch, SynAdd, SynDele, so3) "
                    "VALUES ('0300001', '03', '0', '0', '0100001')");
    rig.A().remove("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "SynDele", "0");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ClosingARecordExchangeKeepsADeletionAnnouncedForTheSameVersion)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.round();  // sent and answered
    rig.round();  // closing posted and answered
    // Deleted before A finishes the record exchange: both families share the version.
    rig.A().remove("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->count("city_tab"), 0) << b->number.toStdString();
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ANewerVersionGivesBackARecordWhoseDeletionItSupersedes)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Ne_Rec", "old"}});
    ASSERT_GT(rig.settle(), 0);
    // A deletes the record while B, not knowing, edits it.
    rig.A().remove("city_tab", "0100001");
    rig.B().edit("city_tab", "0100001", {{"Ne_Rec", "new"}});
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "Ne_Rec", "new");
    expectEverywhere(rig, "city_tab", "0100001", "SynDele", "0");
    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ABranchStillHoldingAnOlderCopyAnswersADeletionOnlyOnceTheAnnouncedVersionArrived)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Ne_Rec", "old"}});
    ASSERT_GT(rig.settle(), 0);
    rig.A().edit("city_tab", "0100001", {{"Ne_Rec", "new"}});
    rig.A().cycle();
    rig.A().remove("city_tab", "0100001");
    rig.A().cycle();
    // B cannot store the new version in this cycle, so it still holds the old one when it meets the deletion.
    data::failStatements("^UPDATE `city_tab`", 1, rig.B().db.name());
    rig.B().cycle();
    data::clearStatementFailures();
    EXPECT_EQ(rig.B().value("city_tab", "0100001", "Ne_Rec"), "old");
    EXPECT_EQ(ledgerRows(rig.server, "branch = '02' AND kin1 = '3'"), 0) << "no answer about another version";

    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->count("city_tab"), 0) << b->number.toStdString();
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ManyNewRowsStillRemoveEveryOlderVersionAWhereClauseMatches)
{
    SyncRig rig;
    RigBranch& b = rig.B();
    b.startSync();
    const QString columns = "(NoRec, treco, branch, SynLast, kin1, kin2, kin3, mainbranch, DTNow)";
    const auto newRows = [&](const QString& first, const QString& stamp) {
        QStringList rows{first};
        for (int i = 1; i <= 9; ++i)
            rows << QStringLiteral("('02%1', 'city_tab', '01', '2', '0', '0', '0', '0', '%2%1')").arg(i).arg(stamp);
        rig.server.exec("INSERT INTO atten_rec " + columns + " VALUES " + rows.join(u','));
    };
    // Older versions written as only the database's comparison takes them for the same record.
    b.db.exec("INSERT INTO atten_rec " + columns
              + " VALUES ('ab7 ', 'CITY_TAB', '01', '1', '0', '0', '1', '0', '1'), "
                "('AB7', 'city_tab', '03', '1', '3', '0', '0', '0', '2')");
    newRows("('ab7', 'city_tab', '01', '2', '0', '0', '0', '0', '300')", "3");
    ASSERT_TRUE(sync::UpDate_Atten(b.ctx));
    EXPECT_EQ(ledgerRows(b.db, "SynLast = '1'"), 0);
    EXPECT_EQ(ledgerRows(b.db, "SynLast = '2'"), 10);

    // A key no plain comparison can judge ('ß' equals 's' here) leaves the search to the database.
    b.db.exec("INSERT INTO atten_rec " + columns + " VALUES ('xß', 'city_tab', '01', '1', '0', '0', '1', '0', '4')");
    rig.server.exec("DELETE FROM atten_rec");
    newRows("('xs', 'city_tab', '01', '2', '0', '0', '0', '0', '500')", "5");
    ASSERT_TRUE(sync::UpDate_Atten(b.ctx));
    EXPECT_EQ(ledgerRows(b.db, "SynLast = '1'"), 0);
}

TEST_F(LedgerFaults, ARecordNumberWithQuotesClosesAndLedgerRowsOfUnknownTablesAreLeftAlone)
{
    SyncRig rig;
    rig.server.exec("INSERT INTO atten_rec (NoRec, treco, branch, SynLast, kin1, kin2, mainbranch, DTNow) VALUES "
                    "('x', 'city_tab where 1=1 or no_rec', '02', '1', '2', '0', '0', '00000001')");
    rig.A().add("city_tab", "01'0\\1");
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "01'0\\1", "SynAdd", "4");
    EXPECT_EQ(ledgerRows(rig.server), 1) << "only the foreign row";
    for (const auto& b : rig.branches)
        EXPECT_EQ(ledgerRows(b->db), 0) << b->number.toStdString();
}

TEST_F(LedgerFaults, TheResolutionStopsAfterItsStepLimitAndTheRestFollowsNextCycle)
{
    SyncRig rig;
    for (const char* no : {"0100001", "0100002", "0100003"})
        rig.A().add("city_tab", no);
    rig.round();  // sent and answered
    rig.A().state.Cnt_Check = 999;
    rig.A().cycle();
    EXPECT_EQ(rig.A().count("city_tab", "SynAdd = '4'"), 1);
    EXPECT_EQ(rig.A().branch.Chk_Rec, 1);

    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.A().count("city_tab", "SynAdd = '4'"), 3);
    EXPECT_EQ(rig.C().count("city_tab", "SynAdd = '4'"), 3);
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ManyNewRowsFindTheRowOfTheirKeyAsTheDatabaseComparesIt)
{
    SyncRig rig;
    RigBranch& b = rig.B();
    const QString columns = "(NoRec, treco, branch, SynLast, kin1, kin2, kin3, mainbranch, DTNow)";
    const auto closingAmongMany = [&](const QString& noRec, const QString& stamp) {
        QStringList rows{QStringLiteral("('%1', 'city_tab', '01', '5', '0', '1', '0', '0', '%2')").arg(noRec, stamp)};
        for (int i = 1; i <= 9; ++i)
            rows << QStringLiteral("('02%1', 'city_tab', '01', '5', '0', '0', '0', '0', '%2%1')").arg(i).arg(stamp);
        rig.server.exec("INSERT INTO atten_rec " + columns + " VALUES " + rows.join(u','));
    };
    // The announcements, held in another letter case and with trailing blanks, then in a form only
    // the database's comparison takes for the same ('ß' equals 's' here).
    b.db.exec("INSERT INTO atten_rec " + columns + " VALUES ('AB7 ', 'CITY_TAB', '01', '5 ', '0', '0', '0', '0', '1')");
    closingAmongMany("ab7", "3");
    ASSERT_TRUE(sync::UpDate_Atten(b.ctx));
    EXPECT_EQ(ledgerRows(b.db, "NoRec = 'ab7'"), 1);
    EXPECT_EQ(ledgerRows(b.db, "NoRec = 'ab7' AND kin2 = '1'"), 1) << "the closing is taken into the announcement's row";

    b.db.exec("INSERT INTO atten_rec " + columns + " VALUES ('xß', 'city_tab', '01', '5', '0', '0', '0', '0', '4')");
    rig.server.exec("DELETE FROM atten_rec");
    closingAmongMany("xs", "5");
    ASSERT_TRUE(sync::UpDate_Atten(b.ctx));
    EXPECT_EQ(ledgerRows(b.db, "NoRec = 'xs'"), 1);
    EXPECT_EQ(ledgerRows(b.db, "NoRec = 'xs' AND kin2 = '1'"), 1);
}

TEST_F(LedgerFaults, AnswersAreCountedAsTheDatabaseComparesTheirRecord)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    const QString columns = "(NoRec, treco, branch, SynLast, kin1, kin2, kin3, mainbranch, DTNow)";
    const auto closed = [&](const QString& noRec) {
        return a.db.scalar("SELECT kin3 FROM atten_rec WHERE kin1 = '0' AND NoRec = '" + noRec + "'") == u"1";
    };
    // Answers held in another letter case and with trailing blanks, then in a form only the
    // database's comparison takes for the same record ('ß' equals 's' here).
    a.db.exec("INSERT INTO atten_rec " + columns
              + " VALUES ('ab7', 'city_tab', '01', '5', '0', '0', '0', '0', '1'), "
                "('AB7 ', 'city_tab', '02', '5', '1', '0', '0', '0', '2'), "
                "('ab7', 'CITY_TAB ', '03', '5 ', '1', '0 ', '0', '0', '3'), "
                "('cd8', 'city_tab', '01', '5', '0', '0', '0', '0', '4'), "
                "('cd8', 'city_tab', '02', '6', '1', '0', '0', '0', '5'), "
                "('cd8', 'city_tab', '03', '5', '1', '0', '0', '0', '6')");
    sync::Check_Send(a.ctx);
    EXPECT_TRUE(closed("ab7"));
    EXPECT_FALSE(closed("cd8")) << "an answer to another version does not count";

    a.db.exec("INSERT INTO atten_rec " + columns
              + " VALUES ('xs', 'city_tab', '01', '5', '0', '0', '0', '0', '7'), "
                "('xß', 'city_tab', '02', '5', '1', '0', '0', '0', '8'), "
                "('XS', 'city_tab', '03', '5', '1', '0', '0', '0', '9')");
    sync::Check_Send(a.ctx);
    EXPECT_TRUE(closed("xs"));
    EXPECT_FALSE(closed("cd8"));
}

TEST_F(LedgerFaults, RecordsDeletedBeforeTheirFirstSendEndDeletedEverywhere)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    // An invoice whose line went out while its own announcement was refused.
    a.add("rowvoi_tab", "0100004", {{"NRS1", "0100091"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100091", {{"CRS1", "1"}, {"CRS2", "0"}, {"CRS3", "0"}, {"DRS1", "R1"}});
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::httpError());
    rig.round();
    ASSERT_EQ(rig.C().count("rowvoi_tab"), 1);
    a.remove("invoice_tab", "0100091");
    // A record whose announcement was stored but whose reply was lost.
    a.add("city_tab", "0100002");
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::lostReply());
    a.cycle();
    a.remove("city_tab", "0100002");
    // And one added and deleted between two cycles.
    a.add("city_tab", "0100001");
    a.remove("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);

    for (const char* table : {"invoice_tab", "rowvoi_tab", "city_tab"}) {
        EXPECT_EQ(rig.serverCount(table), 0) << table;
        for (const auto& b : rig.branches)
            EXPECT_EQ(b->count(table), 0) << table << " in " << b->number.toStdString();
    }
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AnUnsentEditRefusesAnotherBranchsDeletionAndGoesOut)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Ne_Rec", "old"}});
    ASSERT_GT(rig.settle(), 0);
    // B edits the record; the edit is queued only after A's deletion has reached B.
    rig.B().db.exec("UPDATE city_tab SET Ne_Rec = 'new', SynAdd = '1', No_Branch = '02', DatTim1 = "
                    + QStringLiteral("'%1'").arg(localStamp()) + " WHERE no_rec = '0100001'");
    rig.A().remove("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    rig.B().queue("city_tab", "Edit");
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "Ne_Rec", "new");
    expectEverywhere(rig, "city_tab", "0100001", "SynDele", "0");
    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ABranchJoiningWhileExchangesAreOpenLetsThemClose)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.round();      // sent and answered by B and C
    rig.A().cycle();  // its closing posted
    rig.A().add("city_tab", "0100002");
    rig.round();      // sent and answered by B and C
    rig.addNewBranch(QStringLiteral("04"));
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectEverywhere(rig, "city_tab", "0100002", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AFailedCleanUpHoldsUpOnlyItsOwnRow)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    a.add("city_tab", "0100001", {{"Ne_Rec", "v1"}});
    a.cycle();
    a.edit("city_tab", "0100001", {{"Ne_Rec", "v2"}});
    // Releasing v1's announcement fails in this cycle and the next.
    rig.web.failNext("delete_syn.php", 2, RefWebService::Fault::httpError());
    a.cycle();
    rig.B().add("city_tab", "0200001");
    rig.B().cycle();
    a.cycle();
    EXPECT_EQ(a.count("city_tab", "no_rec = '0200001'"), 1) << "later ledger rows are still copied";

    ASSERT_GT(rig.settle(), 0);
    expectEverywhere(rig, "city_tab", "0100001", "Ne_Rec", "v2");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AClosingAnswerPostedAgainAfterTheExchangeEndedIsRemoved)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.round();         // sent and answered
    rig.A().cycle();     // closing posted
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::lostReply());
    rig.B().cycle();     // B's answer to the closing is stored, its reply lost
    rig.C().cycle();
    rig.A().cycle();     // every answer in: A finishes
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AnswersToAnotherBranchsDeletionClosingStayOutOfTheLedgers)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    rig.A().remove("city_tab", "0100001");
    rig.round(QStringLiteral("ABCABCB"));
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ASerialStateRepairedFromAnotherBranchsHistoryReachesEveryBranch)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    // S1's earlier history, written by branch 02 and held everywhere.
    for (const ScratchDatabase* db : {&rig.server, &a.db, &rig.B().db, &rig.C().db})
        db->exec("INSERT INTO seri_tab (no_rec, No_seri, NRS1, DRS1, kin, No_Branch, SynAdd, DatTim1, DatTim2) "
                 "VALUES ('0200001', 'S1', '0200090', 'R0', '1', '02', '4', '20240101000000', '20240101000000')");
    a.add("seri_tab", "0100002", {{"No_seri", "S1"}, {"NRS1", "0100091"}, {"DRS1", "R1"}, {"kin", "2"},
                                   {"DatTim1", "20240201000000"}});
    a.add("rowvoi_tab", "0100004", {{"NRS1", "0100091"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100091", {{"CRS1", "1"}, {"CRS2", "1"}, {"DRS1", "R1"}});
    a.add("serim_tab", "0100005", {{"No_seri", "S1"}, {"NRS1", "0100091"}, {"kin", "2"}});
    ASSERT_GT(rig.settle(), 0);
    a.remove("invoice_tab", "0100091");
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "serim_tab", "0100005", "kin", "1");
    expectEverywhere(rig, "serim_tab", "0100005", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, ADeletionEndsTheCreationExchangeOfABranchThatNeverReceivedTheRecord)
{
    SyncRig rig;
    rig.C().add("city_tab", "0300001");
    rig.C().cycle();
    rig.B().cycle();  // received and answered
    rig.C().remove("city_tab", "0300001");
    rig.C().cycle();
    // A cannot read the server's records until the deletion has been carried out.
    data::failStatements("from city_tab where No_Branch", 1000, rig.server.name());
    rig.A().cycle();
    data::clearStatementFailures();
    rig.round(QStringLiteral("BC"));
    ASSERT_EQ(rig.serverCount("city_tab"), 0);
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->count("city_tab"), 0) << b->number.toStdString();
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, LedgerRowsNothingCanActOnAreLoggedOnceAndDropped)
{
    SyncRig rig;
    const QString columns = "(NoRec, treco, branch, SynLast, kin1, kin2, mainbranch, DTNow)";
    rig.server.exec("INSERT INTO atten_rec " + columns + " VALUES ('x', 'nosuch_tab', '02', '1', '0', '0', '0', "
                    "'00000001'), ('y', 'city_tab', '02', '', '0', '0', '0', '00000002')");
    rig.A().db.exec("INSERT INTO atten_rec " + columns + " VALUES ('z', 'city_tab', '03', '', '2', '0', '0', '00000000')");
    rig.round();
    ASSERT_GT(rig.settle(), 0);

    for (const auto& b : rig.branches) {
        EXPECT_EQ(ledgerRows(b->db), 0) << b->number.toStdString();
        QFile log(b->errors.path());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << b->number.toStdString();
        const QString text = QString::fromUtf8(log.readAll());
        EXPECT_EQ(text.count(u"nosuch_tab"), 1) << b->number.toStdString();
        EXPECT_EQ(text.count(u"NoRec y"), 1) << b->number.toStdString();
        EXPECT_EQ(text.count(u"NoRec z"), b->number == u"01" ? 1 : 0) << b->number.toStdString();
    }
}

TEST_F(LedgerFaults, PurgingAFinishedVersionKeepsTheNewerVersionsOpenExchange)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    // The first version's exchange is finished here; the edit's announcement is already copied back.
    a.db.exec("INSERT INTO atten_rec (NoRec, treco, branch, SynLast, kin1, kin2, kin3, mainbranch, DTNow) VALUES "
              "('0100007', 'city_tab', '01', '202612010000000001', '0', '1', '2', '0', '1'), "
              "('0100007', 'city_tab', '02', '202612010000000001', '1', '1', '0', '01', '2'), "
              "('0100007', 'city_tab', '01', '202612010000000002', '0', '0', '0', '0', '3')");
    a.cycle();
    EXPECT_EQ(ledgerRows(a.db, "SynLast = '202612010000000001'"), 0) << "the finished exchange is purged";
    EXPECT_EQ(ledgerRows(a.db, "SynLast = '202612010000000002' AND kin1 = '0'"), 1)
        << "the newer version's announcement stays, or its answers could never close it";
}

TEST_F(LedgerFaults, ADeletionClosingOverwrittenByALateAnnouncementIsPostedAgain)
{
    using namespace std::chrono_literals;
    SyncRig rig(3, 400ms);
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    rig.A().remove("city_tab", "0100001");
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::lostReply());
    rig.A().cycle();  // announced, the reply lost: it is posted again
    rig.B().cycle();
    rig.C().cycle();  // both accept
    // The announcement posted again times out and does its work only after A's closing.
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::delayed(3000ms));
    rig.A().cycle();
    const QString unclosed = "branch = '01' AND kin1 = '2' AND kin2 = '0'";
    for (int i = 0; i < 80 && ledgerRows(rig.server, unclosed) == 0; ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_EQ(ledgerRows(rig.server, unclosed), 1) << "the late announcement landed over the closing";

    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->count("city_tab"), 0) << b->number.toStdString();
}

TEST_F(LedgerFaults, AnAnswerLandingLateOverTheClosingAnswerIsAnsweredAgain)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.round();      // sent and answered by B and C
    rig.A().cycle();  // closing posted
    rig.round(QStringLiteral("BCBC"));  // answered, and finished with in B and C
    const QString version = rig.server.scalar("SELECT SynLast FROM atten_rec WHERE branch = '01'");
    // B's first answer, delayed, does its work only now, over its answer to the closing.
    ASSERT_EQ(rig.B().web.Web_Save_Syn("city_tab", version, "0100001", 1, 0, "0"), "OK");
    ASSERT_GT(rig.settle(), 0);

    expectEverywhere(rig, "city_tab", "0100001", "SynAdd", "4");
    expectLedgersEmpty(rig);
}

TEST_F(LedgerFaults, AReferenceCountThatFailsLeavesTheDeletionUnansweredForTheNextCycle)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    rig.A().remove("city_tab", "0100001");
    rig.A().cycle();
    data::failStatements("from side_tab where No_City", 1, rig.B().db.name());
    rig.B().cycle();
    EXPECT_EQ(ledgerRows(rig.server, "branch = '02' AND kin1 = '3'"), 0) << "neither a refusal nor an acceptance";
    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->count("city_tab"), 0) << b->number.toStdString();
    expectLedgersEmpty(rig);
}
