#include "support/sync_rig.h"
#include "sync/engine.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

qint64 ledgerRows(const ScratchDatabase& db, const QString& where = {})
{
    return db.scalar("SELECT COUNT(*) FROM atten_rec" + (where.isEmpty() ? QString() : " WHERE " + where)).toLongLong();
}

// Every exchange finished: nothing left in any ledger.
void expectLedgersEmpty(const SyncRig& rig)
{
    EXPECT_EQ(ledgerRows(rig.server), 0) << "server ledger";
    for (const auto& b : rig.branches)
        EXPECT_EQ(ledgerRows(b->db), 0) << "ledger of branch " << b->number.toStdString();
}

int requestsWith(const SyncRig& rig, const QString& script, const QString& part)
{
    int n = 0;
    for (const QString& r : rig.web.requestsTo(script))
        if (r.contains(part))
            ++n;
    return n;
}

}  // namespace

TEST(Acknowledgement, RecordClosesInTwoStagesAndEveryLedgerEmpties)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Ne_Rec", "Riyadh"}});
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "SynAdd"), "4");
    for (const auto& b : rig.branches)
        EXPECT_EQ(b->value("city_tab", "0100001", "SynAdd"), "4") << b->number.toStdString();
    // A closed once; B and C each answered the closing, addressed to A; A then removed the record rows.
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=01&kin1=0&kin2=1&mainbranch=0"), 1);
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=02&kin1=1&kin2=1&mainbranch=01"), 1);
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=03&kin1=1&kin2=1&mainbranch=01"), 1);
    EXPECT_EQ(requestsWith(rig, "delete_syn.php", "&norec=0100001&kin1=0"), 1);
    expectLedgersEmpty(rig);
}

TEST(Acknowledgement, WithNoOtherActiveBranchARecordClosesInOnePassWithoutAClosing)
{
    SyncRig rig(1);
    rig.A().add("city_tab", "0100001");
    rig.A().cycle();

    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "4");
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "SynAdd"), "4");
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&kin2=1"), 0);
    EXPECT_EQ(requestsWith(rig, "delete_syn.php", "&norec=0100001&kin1=0"), 1);
    expectLedgersEmpty(rig);
}

namespace {

// A report with two detail rows and a picture, added in A and carried to every branch.
void addReportEverywhere(SyncRig& rig)
{
    rig.A().add("sreport_tab", "0100011", {{"NRS1", "0100010"}, {"DRS1", "R1"}});
    rig.A().add("sreport_tab", "0100012", {{"NRS1", "0100010"}, {"DRS1", "R1"}});
    rig.A().add("mreport_tab", "0100010", {{"CRS1", "2"}, {"DRS1", "R1"}});
    rig.A().add("picstream_tab", "0100013", {{"NoID", "0100010"}, {"rec_tab", "mreport_tab"}});
    ASSERT_GT(rig.settle(), 0);
    for (const auto& b : rig.branches) {
        ASSERT_EQ(b->count("sreport_tab", "NRS1 = '0100010'"), 2) << b->number.toStdString();
        ASSERT_EQ(b->count("picstream_tab", "NoID = '0100010'"), 1) << b->number.toStdString();
    }
}

void expectReportGone(const ScratchDatabase& db, const std::string& where)
{
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM mreport_tab"), "0") << where;
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM sreport_tab"), "0") << where;
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM picstream_tab"), "0") << where;
}

}  // namespace

TEST(Acknowledgement, DeletionAcceptedByEveryBranchRemovesRecordWithDetailsAndPicturesEverywhere)
{
    SyncRig rig;
    addReportEverywhere(rig);
    rig.A().remove("mreport_tab", "0100010");
    ASSERT_GT(rig.settle(), 0);

    expectReportGone(rig.server, "server");
    for (const auto& b : rig.branches)
        expectReportGone(b->db, "branch " + b->number.toStdString());
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=01&kin1=2&kin2=1&mainbranch=0"), 1);
    EXPECT_EQ(requestsWith(rig, "delete_syn.php", "&norec=0100010&kin1=2"), 1);
    expectLedgersEmpty(rig);
}

TEST(Acknowledgement, DeletionRefusedByOneBranchRestoresTheRecordEverywhere)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    // Only C still names the city.
    rig.C().db.exec("INSERT INTO user_tab (no_rec, No_Branch, SynAdd, SynDele, so3) "
                    "VALUES ('0300001', '03', '0', '0', '0100001')");
    rig.A().remove("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);

    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "SynDele"), "0");
    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->value("city_tab", "0100001", "SynDele"), "0") << b->number.toStdString();
        EXPECT_EQ(b->value("city_tab", "0100001", "NoBra3"), "--") << b->number.toStdString();
    }
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=03&kin1=3&kin2=1&mainbranch=0"), 1) << "C refused";
    EXPECT_EQ(requestsWith(rig, "save_syn.php", "&branch=01&kin1=2&kin2=2&mainbranch=0"), 1);
    expectLedgersEmpty(rig);
}

TEST(Acknowledgement, InvoiceDeletionSetsSerialStatesBackEverywhere)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    a.add("seri_tab", "0100001", {{"No_seri", "S1"}, {"NRS1", "0100090"}, {"DRS1", "R0"}, {"kin", "1"},
                                   {"DatTim1", "20240101000000"}});
    a.add("seri_tab", "0100002", {{"No_seri", "S1"}, {"NRS1", "0100091"}, {"DRS1", "R1"}, {"kin", "2"},
                                   {"DatTim1", "20240201000000"}});
    a.add("seri_tab", "0100003", {{"No_seri", "S2"}, {"NRS1", "0100091"}, {"DRS1", "R1"}, {"kin", "2"},
                                   {"DatTim1", "20240201000000"}});
    a.add("rowvoi_tab", "0100004", {{"NRS1", "0100091"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100091", {{"CRS1", "1"}, {"CRS2", "2"}, {"DRS1", "R1"}});
    a.add("serim_tab", "0100005", {{"No_seri", "S1"}, {"NRS1", "0100091"}, {"kin", "2"}});
    a.add("serim_tab", "0100006", {{"No_seri", "S2"}, {"NRS1", "0100091"}, {"kin", "2"}});
    ASSERT_GT(rig.settle(), 0);
    ASSERT_EQ(rig.C().count("serim_tab"), 2);
    ASSERT_EQ(rig.C().count("seri_tab"), 3);

    a.remove("invoice_tab", "0100091");
    ASSERT_GT(rig.settle(), 0);

    std::vector<const ScratchDatabase*> all{&rig.server};
    for (const auto& b : rig.branches)
        all.push_back(&b->db);
    for (const ScratchDatabase* db : all) {
        EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM invoice_tab"), "0") << db->name().toStdString();
        EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM rowvoi_tab"), "0") << db->name().toStdString();
        EXPECT_EQ(db->scalar("SELECT GROUP_CONCAT(no_rec) FROM seri_tab"), "0100001") << db->name().toStdString();
        // S1's state is back at its earlier history, repaired in A and sent from there.
        EXPECT_EQ(db->scalar("SELECT CONCAT(kin, ':', SynDele) FROM serim_tab WHERE no_rec = '0100005'"), "1:0")
            << db->name().toStdString();
    }
    EXPECT_EQ(a.value("serim_tab", "0100005", "NRS1"), "0100090");
    EXPECT_EQ(a.count("serim_tab", "No_seri = 'S2'"), 0) << "S2 had no history left";
    expectLedgersEmpty(rig);
}
