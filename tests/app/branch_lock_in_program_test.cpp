// The branch database's lock as the program holds it: a stop during a cycle, and a second copy
// started beside a running one, each with the rig's engine over the same database as the other copy.
#include "app_world.h"

#include "data/odbc.h"
#include "sync/engine.h"

#include <gtest/gtest.h>

namespace tarvelo::test {
namespace {

// After the rounds: every record equal everywhere, every exchange closed.
void expectSettled(SyncRig& rig, int records)
{
    ASSERT_GT(rig.settle(), 0);
    const QString server = recordsAndExchanges(rig.server);
    EXPECT_TRUE(server.endsWith(u"open 0 ledger 0")) << qPrintable(server);
    EXPECT_EQ(rig.serverCount("city_tab"), records);
    for (const auto& b : rig.branches)
        EXPECT_EQ(recordsAndExchanges(b->db).toStdString(), server.toStdString()) << qPrintable(b->db.name());
}

TEST(BranchLockInProgram, StopPressedAnywhereInASendCycleLetsGoOfTheLockOnlyOnceTheCycleHasEnded)
{
    SyncRig rig;
    RigBranch& other = rig.A();
    UnlockedWrites unlocked(other.db);
    RigCopy copy(rig, other);
    app::Program& p = *copy.program;
    // The start's pass over every table finds nothing to do here: left out.
    auto leanStart = [&] { p.tables.setAllCounters(0); };
    leanStart();
    int records = 0;
    // A cycle sending one record, stopped at its `stopAt`th event pump (or after it), where the
    // other copy runs a cycle at once; the pumps it ran.
    auto sendCycle = [&](int stopAt) {
        other.add("city_tab", QStringLiteral("01%1").arg(++records, 5, 10, QChar(u'0')));
        unlocked.take();
        int n = 0;
        copy.onPump = [&] {
            if (++n == stopAt) {
                p.Bott1_Click(1);
                other.cycle();
            }
        };
        tickUntilCycle(p);
        copy.onPump = nullptr;
        if (n < stopAt)
            p.Bott1_Click(1);
        return n;
    };
    const int pumps = sendCycle(0);
    ASSERT_GT(pumps, 20);
    QString seen;
    for (int k = 1; k <= pumps; ++k) {
        p.Bott1_Click(0);
        leanStart();
        sendCycle(k);
        seen += unlocked.take();
        EXPECT_FALSE(p.sync.Branch_Lock.held());
        other.cycle();  // takes over what the stopped cycle left
        other.state.Branch_Lock.release(other.database);
    }
    p.Bott1_Click(1);
    EXPECT_TRUE(seen.isEmpty()) << qPrintable(seen);
    expectSettled(rig, records);
}

TEST(BranchLockInProgram, SecondCopyStartedBesideARunningOneWritesNothingThereUntilItTakesOver)
{
    SyncRig rig(3, std::chrono::seconds(5), Tick::Program);
    RigBranch& running = rig.A();
    running.add("city_tab", "0100001");
    running.cycle();
    const QString holder = running.db.scalar("SELECT IS_USED_LOCK('" + sync::branchLockName(running.db.name()) + "')");
    UnlockedWrites unlocked(running.db);
    RigCopy copy(rig, running, QStringLiteral("7"));  // its start-up would write the database number too
    app::Program& p = *copy.program;
    EXPECT_EQ(p.ui.Label3.text(6), u"الرجاء الانتظار ...");
    tickUntilCycle(p);
    EXPECT_EQ(p.ui.Label3.text(6), sync::kBranchBusy);
    EXPECT_TRUE(copy.reasons().contains("on local database connection " + holder + ")")) << qPrintable(copy.reasons());
    data::failStatements(QStringLiteral("GET_LOCK"));
    tickUntilCycle(p);
    EXPECT_TRUE(copy.reasons().contains(u"branch database lock: HY000 failure made on purpose"));
    EXPECT_EQ(p.ui.Label3.text(6), u"خطاء بالقاعدة المحلية");  // the lock statement failed there
    const QString seen = unlocked.take();
    EXPECT_TRUE(seen.isEmpty()) << qPrintable(seen);
    EXPECT_EQ(running.value("proj_tab", "1", "NoDat"), QString());

    // The running copy's session ends: the second takes over, its start-up's books with it.
    killLockHolder(running.db);
    tickUntilCycle(p);
    EXPECT_TRUE(p.sync.Branch_Lock.held());
    EXPECT_EQ(running.value("proj_tab", "1", "NoDat"), u"07");
    EXPECT_EQ(running.value("branchsyn_tab", "01", "FromD"), p.window.Label2.text(4));
    EXPECT_TRUE(unlocked.take().isEmpty());
    p.Bott1_Click(1);
    expectSettled(rig, 1);
}

}  // namespace
}  // namespace tarvelo::test
