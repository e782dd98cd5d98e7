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

using Presses = std::initializer_list<std::vector<int>>;  // the buttons pressed at one pump
const Presses kStopStartOrBoth{{1}, {0}, {1, 0}};

// `presses` at the kth event pump of `run` (after `ready`), for every k, with the other copy's cycle
// there and after the run: no row is changed without the lock, and the copy ends as the last press
// says (synchronising and holding the lock, or stopped leaving it to the other copy).
void pressedAtEveryPump(RigBranch& other, RigCopy& copy, Presses presses, const std::function<void()>& ready,
                        const std::function<void()>& run)
{
    UnlockedWrites unlocked(other.db);
    auto otherCycle = [&] {
        other.cycle();
        const bool held = other.state.Branch_Lock.held();
        other.state.Branch_Lock.release(other.database);
        return held;
    };
    for (const std::vector<int>& press : presses) {
        int pumps = 0;
        for (int k = 0; k <= pumps; ++k) {
            ready();
            unlocked.take();
            int n = 0;
            copy.onPump = [&] {
                if (++n != k)
                    return;
                for (int button : press)
                    copy.program->Bott1_Click(button);
                otherCycle();
            };
            run();
            while (n < k)  // a run with fewer pumps this time: pressed after it
                copy.onPump();
            copy.onPump = nullptr;
            pumps = k == 0 ? n : pumps;
            const app::Program& p = *copy.program;
            const bool on = press.back() == 0, held = p.sync.Branch_Lock.held();
            EXPECT_FALSE(k > 0 && (p.run.Syn_Run != on || (on && !p.ui.Timer1.isOn()) || held != on || otherCycle() == on))
                << (press.size() > 1 ? "stop, start" : on ? "start" : "stop") << " at pump " << k << " of " << pumps
                << (held ? ": holds the lock" : ": holds no lock");
            EXPECT_EQ(unlocked.take().toStdString(), "");
        }
        EXPECT_GT(pumps, 10);
    }
}

// Send cycles of one record each, the presses made at every pump of their ticks; then the rounds settle.
void pressedAnywhereInSendCycles(Presses presses)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    app::Program& p = *copy.program;
    int records = 0;
    pressedAtEveryPump(rig.A(), copy, presses, [&] {
        if (!p.run.Syn_Run)
            p.Bott1_Click(0);
        p.tables.setAllCounters(0);  // the start's pass over every table finds nothing to do here
        rig.A().add("city_tab", QStringLiteral("01%1").arg(++records, 5, 10, QChar(u'0')));
    }, [&] { tickUntilCycle(p); });
    p.Bott1_Click(1);
    expectSettled(rig, records);
}

TEST(BranchLockInProgram, StopPressedAnywhereInASendCycleLetsGoOfTheLockOnlyOnceTheCycleHasEnded)
{
    pressedAnywhereInSendCycles({{1}});
}

TEST(BranchLockInProgram, StartPressedAnywhereInACycleTickRunsOnceTheTickHasEndedWhicheverWayItLeft)
{
    pressedAnywhereInSendCycles({{0}, {1, 0}});
}

TEST(BranchLockInProgram, StopOrStartPressedAnywhereInAFirstStartUpIsObeyedAndAStoppedOneTakesNoLock)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    pressedAtEveryPump(rig.A(), copy, kStopStartOrBoth, [&] { killLockHolder(rig.A().db), copy.renew(); },
                       [&] { copy.program->Form1_Form_Load(); });
}

TEST(BranchLockInProgram, StopOrStartPressedAnywhereInARestartsStartUpIsObeyedAndAStopLetsGoWhileTheConnectionReopens)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    app::Program& p = *copy.program;
    auto running = [&] {
        if (!p.run.Syn_Run)
            p.Bott1_Click(0);
    };
    pressedAtEveryPump(rig.A(), copy, kStopStartOrBoth, running, [&] { p.Bott1_Click(0); });
}

TEST(BranchLockInProgram, RestartWhoseStartUpFailsLetsGoWhileItsRetryWaitsAndTakesItAgainWhenOnePasses)
{
    SyncRig rig;
    RigCopy copy(rig, rig.A());
    app::Program& p = *copy.program;
    copy.reach.answers = false;
    p.Bott1_Click(0);
    rig.A().cycle();  // another copy synchronises while the retry waits
    EXPECT_TRUE(p.ui.Timer4.isOn() && rig.A().state.Branch_Lock.held());
    rig.A().state.Branch_Lock.release(rig.A().database);
    copy.reach.answers = true;
    for (int i = 0; i < 60; ++i)
        p.Timer4_Timer();
    EXPECT_TRUE(p.sync.Branch_Lock.held());
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
