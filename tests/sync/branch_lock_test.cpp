// One synchronising copy per branch database: two engines over one branch database, as two
// copies of the program pointed at it.
#include "support/sync_rig.h"
#include "sync/engine.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

RigBranch& secondEngine(SyncRig& rig, RigBranch& of)
{
    rig.branches.push_back(std::make_unique<RigBranch>(of.number, of.db, rig.server, rig.web.baseUrl()));
    rig.branches.back()->startSync();
    return *rig.branches.back();
}

QString holderOf(const RigBranch& b)
{
    return b.db.scalar("SELECT IS_USED_LOCK('" + sync::branchLockName(b.db.name()) + "')");
}

}  // namespace

TEST(BranchLock, CyclesOverlappingInTimeLeaveEveryRecordEqualEveryExchangeClosedEveryLedgerEmpty)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    RigBranch& second = secondEngine(rig, a);
    const QStringList plain{"0100001", "0100002", "0100003"};
    for (const QString& no : plain)
        a.add("city_tab", no, {{"Ne_Rec", "v0"}});
    a.add("rowvoi_tab", "0100005", {{"NRS1", "0100004"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100004", {{"DRS1", "R1"}, {"CRS1", "1"}, {"CRS2", "0"}, {"CRS3", "0"}});

    // While the first engine waits for its first record's reply, the second runs whole cycles.
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::delayed(std::chrono::milliseconds(1500)));
    int overlapped = 0;
    a.onPump = [&] {
        if (overlapped < 2 && !rig.web.requestsTo("save_syn.php").isEmpty()) {
            ++overlapped;
            second.cycle();
        }
    };
    a.cycle();
    a.onPump = nullptr;
    ASSERT_EQ(overlapped, 2);
    ASSERT_GT(rig.settle(), 0);

    std::vector<const ScratchDatabase*> all{&rig.server};
    for (const auto& b : rig.branches)
        all.push_back(&b->db);
    const QList<QPair<QString, QString>> records{{"city_tab", "0100001"}, {"city_tab", "0100002"},
                                                  {"city_tab", "0100003"}, {"invoice_tab", "0100004"},
                                                  {"rowvoi_tab", "0100005"}};
    for (const auto& [table, no] : records) {
        const QString select = "SELECT CONCAT_WS('|', Ne_Rec, DatTim2, SynDele), SynAdd FROM " + table
                               + " WHERE no_rec = '" + no + "'";
        const std::string first = rig.server.scalar(select).toStdString();
        EXPECT_FALSE(first.empty()) << qPrintable(no);
        for (const ScratchDatabase* db : all) {
            EXPECT_EQ(db->scalar(select).toStdString(), first) << qPrintable(db->name() + " " + no);
            if (table != u"rowvoi_tab")  // a detail row keeps its sender's mark on the server
                EXPECT_EQ(db->query(select).rows.at(0).at(1).toString().toStdString(), "4") << qPrintable(db->name() + " " + no);
        }
    }
    for (const ScratchDatabase* db : all)
        EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM atten_rec").toStdString(), "0") << qPrintable(db->name());
}

TEST(BranchLock, SecondCopyRunsNoCycleAndSaysSo)
{
    SyncRig rig(2);
    RigBranch& a = rig.A();
    RigBranch& second = secondEngine(rig, a);
    a.cycle();
    a.add("city_tab", "0100001");
    second.cycle();

    EXPECT_EQ(second.window.Label2.text(7), sync::kBranchBusy);
    EXPECT_EQ(rig.serverCount("city_tab", "no_rec = '0100001'"), 0);
    QFile log(second.errors.reasons.path());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains("another copy of the program synchronises the database " + a.db.name()));
}

TEST(BranchLock, LockGoesWithTheHoldersSessionAndItsReopenedSessionFindsItTaken)
{
    SyncRig rig(2);
    RigBranch& a = rig.A();
    RigBranch& second = secondEngine(rig, a);
    a.cycle();
    a.db.exec("KILL " + holderOf(a));

    a.add("city_tab", "0100001");
    second.cycle();
    EXPECT_FALSE(second.state.Branch_Lock.busy());
    EXPECT_EQ(rig.serverCount("city_tab", "no_rec = '0100001'"), 1);
    a.cycle();
    EXPECT_TRUE(a.state.Branch_Lock.busy());
    EXPECT_EQ(holderOf(a), second.database.Conn_Loc->query("SELECT CONNECTION_ID()").rows.at(0).at(0).toString());
}
