#include "data/odbc.h"
#include "support/sync_rig.h"
#include "sync/engine.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

struct Deletion : ::testing::Test {
    SyncRig rig{1};
    RigBranch& a = rig.A();
    void TearDown() override { data::clearStatementFailures(); }
};

}  // namespace

TEST_F(Deletion, InvoiceDeletionSetsSerialStatesBackToTheRemainingHistoryOrDeletesThem)
{
    a.db.exec("INSERT INTO invoice_tab (no_rec, SynDele) VALUES ('INV1', '2')");
    a.db.exec("INSERT INTO seri_tab (no_rec, No_seri, NRS1, DatTim1, kin, No_Store, No_Branch, No_UseEdi) VALUES "
              "('H1', 'S1', 'INV0', '20240101000000', '1', 'ST1', '02', 'U7'),"
              "('H2', 'S1', 'INV1', '20240201000000', '2', 'ST2', '01', 'U1'),"
              "('H3', 'S2', 'INV1', '20240201000000', '2', 'ST2', '01', 'U1')");
    a.db.exec("INSERT INTO serim_tab (no_rec, No_seri, No_stock, NRS1, kin, No_Store, SynAdd, DatTim2) VALUES "
              "('M1', 'S1', 'K1', 'INV1', '2', 'ST2', '0', '20240201000000'),"
              "('M2', 'S2', 'K1', 'INV1', '2', 'ST2', '0', '20240201000000'),"
              "('M3', 'S3', 'K1', 'INV9', '2', 'ST2', '0', '20240201000000')");
    const int slot = a.tables.slotOf(u"serim_tab");
    a.tables.Tab_Send[size_t(slot)] = 0;

    ASSERT_TRUE(sync::Delete_Reco_Loc(a.ctx, "invoice_tab", "INV1"));

    EXPECT_EQ(a.count("invoice_tab"), 0);
    EXPECT_EQ(a.count("seri_tab"), 1);
    // S1 is back at its earlier history row, marked to be sent.
    EXPECT_EQ(a.value("serim_tab", "M1", "NRS1"), "INV0");
    EXPECT_EQ(a.value("serim_tab", "M1", "kin"), "1");
    EXPECT_EQ(a.value("serim_tab", "M1", "No_Store"), "ST1");
    EXPECT_EQ(a.value("serim_tab", "M1", "No_Branch"), "01") << "the repaired state is this branch's to send";
    EXPECT_EQ(a.value("serim_tab", "M1", "No_UseEdi"), "U7");
    EXPECT_EQ(a.value("serim_tab", "M1", "No_stock"), "K1");
    EXPECT_EQ(a.value("serim_tab", "M1", "SynAdd"), "5");
    EXPECT_EQ(a.value("serim_tab", "M1", "DatTim2"), "--");
    EXPECT_EQ(a.value("serim_tab", "M1", "NoBra2"), "--");
    // S2 had no other history.
    EXPECT_EQ(a.count("serim_tab", "no_rec = 'M2'"), 0);
    EXPECT_EQ(a.value("serim_tab", "M3", "NRS1"), "INV9");
    EXPECT_GT(a.tables.Tab_Send[size_t(slot)], 0) << "the repaired rows are due to be sent now";
}

TEST_F(Deletion, AFailedHistoryReadLeavesTheInvoiceDeletionToBeRunAgain)
{
    a.db.exec("INSERT INTO invoice_tab (no_rec, SynDele) VALUES ('INV1', '2')");
    a.db.exec("INSERT INTO seri_tab (no_rec, No_seri, NRS1, DatTim1, kin) VALUES "
              "('H1', 'S1', 'INV0', '20240101000000', '1'), ('H2', 'S1', 'INV1', '20240201000000', '2')");
    a.db.exec("INSERT INTO serim_tab (no_rec, No_seri, NRS1, kin) VALUES ('M1', 'S1', 'INV1', '2')");

    data::failStatements("from seri_tab where No_seri", 1, a.db.name());
    EXPECT_FALSE(sync::Delete_Reco_Loc(a.ctx, "invoice_tab", "INV1"));
    EXPECT_EQ(a.value("serim_tab", "M1", "NRS1"), "INV1");

    EXPECT_TRUE(sync::Delete_Reco_Loc(a.ctx, "invoice_tab", "INV1"));
    EXPECT_EQ(a.value("serim_tab", "M1", "NRS1"), "INV0");
}

TEST_F(Deletion, ReferenceCheckRefusesWhenACountFails)
{
    ASSERT_TRUE(sync::Check_Dele_Other(a.ctx, "city_tab", "C1"));
    data::failStatements("from side_tab", 1, a.db.name());
    EXPECT_FALSE(sync::Check_Dele_Other(a.ctx, "city_tab", "C1"));
}

TEST_F(Deletion, ReferenceCheckTakesOnlyAMissingTableOrColumnAsNoReference)
{
    // This database has no inscon_tab and a docum_tab without No_City.
    a.db.exec("DROP TABLE inscon_tab");
    a.db.exec("ALTER TABLE docum_tab DROP COLUMN No_City");
    EXPECT_TRUE(sync::Check_Dele_Other(a.ctx, "city_tab", "C1"));
    a.db.exec("INSERT INTO branch_tab (no_rec, No_City) VALUES ('09', 'C1')");
    EXPECT_FALSE(sync::Check_Dele_Other(a.ctx, "city_tab", "C1"));
    // Not knowing whether a table is there refuses as well.
    sync::SyncState fresh;
    std::swap(a.state.Ref_Exists, fresh.Ref_Exists);
    a.db.exec("DELETE FROM branch_tab WHERE no_rec = '09'");
    data::failStatements("information_schema", 1, a.db.name());
    EXPECT_FALSE(sync::Check_Dele_Other(a.ctx, "city_tab", "C1"));
}

TEST_F(Deletion, ReferenceCheckNamesAQuotedRecordNumberSafely)
{
    a.db.exec("INSERT INTO user_tab (no_rec, so3) VALUES ('U1', 'C''1')");
    EXPECT_FALSE(sync::Check_Dele_Other(a.ctx, "city_tab", "C'1"));
    EXPECT_TRUE(sync::Check_Dele_Other(a.ctx, "city_tab", "C' or '1'='1"));
}

TEST_F(Deletion, SendDeleteCountsARowItCannotAnnounceAndGoesOn)
{
    a.db.exec("INSERT INTO city_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim2) VALUES "
              "('C1', '01', '0', '1', NULL), ('C2', '01', '0', '1', '20240101000000')");
    // C1 was never sent, and the server can't be asked what of it left the branch.
    data::failStatements("from city_tab where No_Rec", 1, rig.server.name());
    EXPECT_EQ(sync::Send_Delete(a.ctx, "city_tab"), 1);
    EXPECT_EQ(a.value("city_tab", "C1", "SynDele"), "1");
    EXPECT_EQ(a.value("city_tab", "C2", "SynDele"), "2");
    EXPECT_EQ(rig.server.scalar("SELECT CONCAT(NoRec, kin1, kin2) FROM atten_rec"), "C220");
}

TEST_F(Deletion, AnUnreadableLedgerLeavesResolutionWorkPending)
{
    data::failStatements("^select \\* from atten_rec $", 1, a.db.name());
    EXPECT_EQ(sync::Check_Send(a.ctx), 1);
    EXPECT_EQ(sync::Check_Send(a.ctx), 0);
}
