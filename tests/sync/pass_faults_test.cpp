#include "support/sync_rig.h"
#include "sync/engine.h"

#include "data/odbc.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;
using Fault = RefWebService::Fault;

namespace {

int slot(RigBranch& b, const char16_t* table)
{
    return b.tables.slotOf(table);
}

qint64 ledgerRows(const ScratchDatabase& db)
{
    return db.scalar("SELECT COUNT(*) FROM atten_rec").toLongLong();
}

// Transfer-log rows of one record in one direction.
int logged(RigBranch& b, const QString& noRec, const QString& direction)
{
    int n = 0;
    for (int r = 1; r < b.logs.MSFG1.rows(); ++r)
        if (b.logs.MSFG1.textMatrix(r, 2) == noRec && b.logs.MSFG1.textMatrix(r, 1) == direction)
            ++n;
    return n;
}

}  // namespace

TEST(PassFaults, WebServiceFailingForAWhileLosesAndDuplicatesNothing)
{
    SyncRig rig;
    QStringList records;
    for (int i = 1; i <= 4; ++i)
        rig.A().add("city_tab", records.emplace_back(QStringLiteral("010000%1").arg(i)));
    for (int i = 1; i <= 2; ++i)
        rig.B().add("city_tab", records.emplace_back(QStringLiteral("020000%1").arg(i)));
    rig.web.failNext("save_syn.php", 2, Fault::reply("NO"));
    rig.web.failNext("save_syn.php", 2, Fault::garbageAfterWork());
    rig.web.failNext("save_syn.php", 2, Fault::httpError(500));
    rig.web.failNext("save_syn.php", 3, Fault::lostReply());
    rig.web.failNext("save_syn.php", 2, Fault::reply("<?php error"));
    rig.web.failNext("delete_syn.php", 2, Fault::lostReply());
    for (int i = 0; i < 4; ++i)
        rig.round();
    ASSERT_GT(rig.settle(), 0);

    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->count("city_tab"), 6) << b->number.toStdString();
        EXPECT_EQ(b->count("city_tab", "SynAdd = '4'"), 6) << b->number.toStdString();
        EXPECT_EQ(ledgerRows(b->db), 0) << b->number.toStdString();
        for (const QString& no : records)
            EXPECT_EQ(logged(*b, no, no.startsWith(b->number) ? "1" : "2"), 1)
                << no.toStdString() << " in " << b->number.toStdString();
    }
    EXPECT_EQ(rig.serverCount("city_tab", "SynAdd = '4'"), 6);
    EXPECT_EQ(ledgerRows(rig.server), 0);
}

TEST(PassFaults, OwnUnsentEditIsNotOverwrittenByAnOlderServerVersion)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Na_Rec", "first"}});
    ASSERT_GT(rig.settle(), 0);

    rig.A().edit("city_tab", "0100001", {{"Na_Rec", "edit in A"}, {"No_Branch", "01"}, {"DatTim1", "20300101000000"}});
    rig.A().cycle();
    rig.B().edit("city_tab", "0100001", {{"Na_Rec", "edit in B"}, {"No_Branch", "02"}, {"DatTim1", "20300101000005"}});
    rig.web.failNext("save_syn.php", 1, Fault::reply("NO"));
    rig.B().cycle();
    EXPECT_EQ(rig.B().value("city_tab", "0100001", "Na_Rec"), "edit in B");
    EXPECT_EQ(rig.B().value("city_tab", "0100001", "SynAdd"), "1");

    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "Na_Rec"), "edit in B");
    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->value("city_tab", "0100001", "Na_Rec"), "edit in B") << b->number.toStdString();
        EXPECT_EQ(ledgerRows(b->db), 0) << b->number.toStdString();
    }
}

TEST(PassFaults, RowWithAnUnreadableStampIsCountedAndTheRowsAfterItGoOn)
{
    SyncRig rig(2);
    rig.A().add("city_tab", "0100001", {{"DatTim1", "20240101000000"}});
    rig.A().add("city_tab", "0100002", {{"DatTim1", "2024-13-01 xx"}});
    rig.A().add("city_tab", "0100003", {{"DatTim1", "20240301000000"}});
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("city_tab"), 2);
    EXPECT_EQ(rig.A().value("city_tab", "0100002", "SynAdd"), "1");
    EXPECT_EQ(rig.A().tables.Tab_Send[size_t(slot(rig.A(), u"city_tab"))], 1);

    rig.server.exec("INSERT INTO city_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2) "
                    "VALUES ('0100009', '01', '0', '0', '20240101000000', NULL)");
    rig.B().cycle();
    EXPECT_EQ(rig.B().count("city_tab"), 2);
    EXPECT_EQ(rig.B().tables.Tab_Rece[size_t(slot(rig.B(), u"city_tab"))], 1);
}

TEST(PassFaults, FailedServerLookUpInTheSendPassLeavesWorkPending)
{
    SyncRig rig(2);
    rig.A().add("city_tab", "0100001");
    data::failStatements("^select \\* from city_tab where No_Rec", 1, rig.server.name());
    rig.A().cycle();
    data::clearStatementFailures();
    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    EXPECT_EQ(rig.A().tables.Tab_Send[size_t(slot(rig.A(), u"city_tab"))], 1);
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("city_tab"), 1);
}

TEST(PassFaults, FailedOrEmptyBranchListKeepsTheLastGoodCount)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    a.cycle();
    ASSERT_EQ(a.state.Ans_Branches, QStringList({"02", "03"}));

    data::failStatements("from branch_tab", 1, a.db.name());
    a.branch.Bra_Only = -1;
    sync::Read_Branch_Set(a.ctx);
    data::clearStatementFailures();
    EXPECT_EQ(a.state.Ans_Branches, QStringList({"02", "03"}));
    EXPECT_EQ(a.window.XXXK.foreColor(), sync::StatusLabelModel::Red);
    EXPECT_EQ(a.window.Label2.text(7), sync::kLocalDbError);

    a.db.exec("DELETE FROM branch_tab");
    sync::Read_Branch_Set(a.ctx);
    EXPECT_EQ(a.state.Ans_Branches, QStringList({"02", "03"}));
    EXPECT_EQ(a.window.XXXK.foreColor(), sync::StatusLabelModel::Orange);
}

TEST(PassFaults, RecordNumberWithAQuoteTravelsAsData)
{
    SyncRig rig;
    const QString tricky = "01'0001\\' or '1'='1";
    rig.A().add("city_tab", tricky, {{"Na_Rec", "a'b"}});
    rig.A().add("city_tab", "0100002");
    ASSERT_GT(rig.settle(), 0);
    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->count("city_tab"), 2) << b->number.toStdString();
        EXPECT_EQ(b->value("city_tab", tricky, "Na_Rec"), "a'b") << b->number.toStdString();
        EXPECT_EQ(b->value("city_tab", tricky, "SynAdd"), "4") << b->number.toStdString();
        EXPECT_EQ(ledgerRows(b->db), 0);
    }
    EXPECT_EQ(ledgerRows(rig.server), 0);
}
