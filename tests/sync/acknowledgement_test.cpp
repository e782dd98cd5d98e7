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
