// One synchronising copy per branch database: two engines over one, as two copies of the program.
#include "support/sync_rig.h"
#include "sync/engine.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

RigBranch& secondEngine(SyncRig& rig, RigBranch& of)
{
    rig.branches.push_back(std::make_unique<RigBranch>(of.number, nullptr, rig.server, rig.web.baseUrl(),
                                                       std::chrono::seconds(5), of.tick, &of.db));
    rig.branches.back()->startSync();
    return *rig.branches.back();
}

// The records with their versions, then the exchanges not closed and the ledger rows.
std::string endState(const ScratchDatabase& d)
{
    return d.scalar("SELECT CONCAT_WS(' ', (SELECT GROUP_CONCAT(no_rec, Ne_Rec, DatTim2, SynDele ORDER BY no_rec) FROM "
                    "city_tab), (SELECT GROUP_CONCAT(no_rec, DatTim2) FROM invoice_tab), (SELECT GROUP_CONCAT(no_rec, "
                    "NRS1, DatTim2) FROM rowvoi_tab), 'open', (SELECT COUNT(*) FROM city_tab WHERE SynAdd <> '4') + "
                    "(SELECT COUNT(*) FROM invoice_tab WHERE SynAdd <> '4'), 'ledger', (SELECT COUNT(*) FROM atten_rec))")
        .toStdString();
}

}  // namespace

TEST(BranchLock, CyclesOverlappingInTimeLeaveEveryRecordEqualEveryExchangeClosedEveryLedgerEmpty)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    RigBranch& second = secondEngine(rig, a);
    for (const char* no : {"0100001", "0100002", "0100003"})
        a.add("city_tab", no, {{"Ne_Rec", "v0"}});
    a.add("rowvoi_tab", "0100005", {{"NRS1", "0100004"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100004", {{"DRS1", "R1"}, {"CRS1", "1"}, {"CRS2", "0"}, {"CRS3", "0"}});

    // While the first engine waits for its first record's reply, the second runs whole cycles.
    rig.web.failNext("save_syn.php", 1, RefWebService::Fault::delayed(std::chrono::milliseconds(1500)));
    int overlapped = 0;
    a.onPump = [&] {
        if (overlapped < 2 && !rig.web.requestsTo("save_syn.php").isEmpty() && ++overlapped)
            second.cycle();
    };
    a.cycle();
    ASSERT_EQ(overlapped, 2);
    ASSERT_GT(rig.settle(), 0);

    const std::string server = endState(rig.server);
    EXPECT_TRUE(server.find("0100004") != std::string::npos && server.ends_with("open 0 ledger 0")) << server;
    for (const auto& b : rig.branches)
        EXPECT_EQ(endState(b->db), server) << qPrintable(b->db.name());
}

TEST(BranchLock, SecondCopyRunsNoCycleAndSaysSoUntilTheHoldersSessionEnds)
{
    SyncRig rig(2);
    RigBranch& a = rig.A();
    RigBranch& second = secondEngine(rig, a);
    a.cycle();
    a.add("city_tab", "0100001");
    second.cycle();
    EXPECT_EQ(second.window.Label2.text(7), sync::kBranchBusy);
    EXPECT_EQ(rig.serverCount("city_tab"), 0);
    QFile log(second.errors.reasons.path());
    EXPECT_TRUE(log.open(QIODevice::ReadOnly) && log.readAll().contains("another copy of the program synchronises the"));

    // The server drops the lock with the holder's session; the holder's reopened session finds it taken.
    a.db.exec("KILL " + a.db.scalar("SELECT IS_USED_LOCK('" + sync::branchLockName(a.db.name()) + "')"));
    second.cycle();
    EXPECT_EQ(rig.serverCount("city_tab"), 1);
    EXPECT_EQ(second.window.Label2.text(7), QString()) << "the second-copy text goes once this copy holds the lock";
    log.seek(0);
    EXPECT_TRUE(log.readAll().contains("branch database lock: works again"));
    a.cycle();
    EXPECT_TRUE(a.state.Branch_Lock.busy());
}
