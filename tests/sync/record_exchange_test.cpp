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

}  // namespace

TEST(RecordExchange, RecordAddedInOneBranchReachesServerAndEveryOtherBranchWhichAnswer)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Na_Rec", "الرياض"}, {"Ne_Rec", "Riyadh"}});
    rig.round();

    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "Ne_Rec"), "Riyadh");
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "No_Branch"), "01");
    const QString stamp = rig.serverValue("city_tab", "0100001", "DatTim2");
    EXPECT_GE(stamp.size(), 14);
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "0");
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "DatTim2"), stamp);
    for (RigBranch* b : {&rig.B(), &rig.C()}) {
        EXPECT_EQ(b->value("city_tab", "0100001", "Na_Rec"), "الرياض") << b->number.toStdString();
        EXPECT_EQ(b->value("city_tab", "0100001", "DatTim2"), stamp);
        EXPECT_EQ(b->value("city_tab", "0100001", "No_Branch"), "01");
        // One answer of receipt each, for this version.
        EXPECT_EQ(ledgerRows(rig.server, "kin1 = '1' AND kin2 = '0' AND SynLast = '" + stamp + "' AND branch = '"
                                             + b->number + "'"),
                  1);
    }
    EXPECT_EQ(ledgerRows(rig.server, "kin1 = '0' AND branch = '01' AND NoRec = '0100001'"), 1);
    EXPECT_EQ(rig.A().logs.MSFG1.textMatrix(1, 0), "ارسال 0100001 : الرياض");
}
