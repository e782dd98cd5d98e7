// The branch database's lock as the program holds it: the stop and start buttons pressed anywhere,
// and a second copy started beside a running one, each with the rig's engine over the same
// database as the other copy.
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

// Presses at the kth event pump of `run` (a start-up or a cycle tick of `copy`, after `ready`), for
// every k and each of `presses` (1 stop, 0 start, 2 stop then start), where the other copy runs a
// cycle at once, and again after the run: the rows changed without the lock, and the runs that left
// the copy otherwise than the last press said (synchronising and holding the lock, or stopped and
// letting the other copy have it).
QString pressedAtEveryPump(RigBranch& other, RigCopy& copy, std::initializer_list<int> presses,
                           const std::function<void()>& ready, const std::function<void()>& run)
{
    UnlockedWrites unlocked(other.db);
    auto otherCycle = [&] {
        other.cycle();
        const bool held = other.state.Branch_Lock.held();
        other.state.Branch_Lock.release(other.database);
        return held;
    };
    QString seen;
    for (const int press : presses) {
        int pumps = 0;
        for (int k = 0; k <= pumps; ++k) {
            ready();
            unlocked.take();
            int n = 0;
            copy.onPump = [&] {
                if (++n != k)
                    return;
                if (press > 0)
                    copy.program->Bott1_Click(1);
                if (press != 1)
                    copy.program->Bott1_Click(0);
                otherCycle();
            };
            run();
            while (n < k)  // a run with fewer pumps this time: pressed after it
                copy.onPump();
            copy.onPump = nullptr;
            pumps = k == 0 ? n : pumps;
            const app::Program& p = *copy.program;
            const bool on = press != 1, held = p.sync.Branch_Lock.held();
            if (k > 0 && (p.run.Syn_Run != on || (on && !p.ui.Timer1.isOn()) || held != on || otherCycle() == on))
                seen += QStringLiteral("press %1 at pump %2 of %3: lock %4; ").arg(press).arg(k).arg(pumps).arg(held);
            seen += unlocked.take();
        }
        EXPECT_GT(pumps, 10);
    }
    return seen;
}

// Send cycles of one record each, `presses` made at every pump of their ticks; then the rounds settle.
void pressedAnywhereInSendCycles(std::initializer_list<int> presses)
{
    SyncRig rig;
    RigBranch& other = rig.A();
    RigCopy copy(rig, other);
    app::Program& p = *copy.program;
    int records = 0;
    auto ready = [&] {
        if (!p.run.Syn_Run)
            p.Bott1_Click(0);
        p.tables.setAllCounters(0);  // the start's pass over every table finds nothing to do here
        other.add("city_tab", QStringLiteral("01%1").arg(++records, 5, 10, QChar(u'0')));
    };
    const QString seen = pressedAtEveryPump(other, copy, presses, ready, [&] { tickUntilCycle(p); });
    p.Bott1_Click(1);
    EXPECT_TRUE(seen.isEmpty()) << qPrintable(seen);
    expectSettled(rig, records);
}

TEST(BranchLockInProgram, StopPressedAnywhereInASendCycleLetsGoOfTheLockOnlyOnceTheCycleHasEnded)
{
    pressedAnywhereInSendCycles({1});
}

TEST(BranchLockInProgram, StartPressedAnywhereInACycleTickRunsOnceTheTickHasEndedWhicheverWayItLeft)
{
    pressedAnywhereInSendCycles({0, 2});
}

TEST(BranchLockInProgram, StopPressedAnywhereInAFirstStartUpTakesNoLockAndKeepsNoOtherCopyOut)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    const QString seen = pressedAtEveryPump(rig.A(), copy, {1, 0, 2}, [&] { killLockHolder(rig.A().db), copy.renew(); },
                                            [&] { copy.program->Form1_Form_Load(); });
    EXPECT_TRUE(seen.isEmpty()) << qPrintable(seen);
}

TEST(BranchLockInProgram, StopPressedAnywhereInARestartsStartUpLetsGoOfTheLockEvenWhileTheConnectionReopens)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    app::Program& p = *copy.program;
    const QString seen = pressedAtEveryPump(rig.A(), copy, {1, 0, 2}, [&] { p.run.Syn_Run || (p.Bott1_Click(0), true); },
                                            [&] { p.Bott1_Click(0); });
    EXPECT_TRUE(seen.isEmpty()) << qPrintable(seen);
}

TEST(BranchLockInProgram, RestartWhoseStartUpFailsLetsGoWhileItsRetryWaitsAndTakesItAgainWhenOnePasses)
{
    SyncRig rig;
    RigBranch& other = rig.A();
    RigCopy copy(rig, other);
    app::Program& p = *copy.program;
    tickUntilCycle(p);
    copy.reach.answers = false;
    p.Bott1_Click(0);
    ASSERT_TRUE(p.ui.Timer4.isOn());
    other.cycle();
    EXPECT_TRUE(other.state.Branch_Lock.held());
    other.state.Branch_Lock.release(other.database);
    copy.reach.answers = true;
    for (int i = 0; i < 60; ++i)
        p.Timer4_Timer();
    other.cycle();
    EXPECT_TRUE(p.sync.Branch_Lock.held() && !other.state.Branch_Lock.held());
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
    EXPECT_EQ(p.ui.Label3.text(6), app::kIdle);
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
