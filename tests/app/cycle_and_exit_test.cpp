#include "app_world.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarvelo::test {
namespace {

using app::Program;

QString statRow(AppWorld& w, const char* column)
{
    return w.branchDb.scalar(QStringLiteral("select %1 from branchsyn_tab where no_rec = '01'").arg(column));
}

// ---- cycle timer and tick --------------------------------------------------------------------

TEST(CycleTimer, SleepsBetweenIdleCyclesAndStopsWhenSwitchedOff)
{
    AppWorld w;
    Program& p = w.load();

    p.Timer1_Timer();  // a start-up leaves no sleep: the first tick runs the cycle
    EXPECT_EQ(p.app.cycles, 1);
    EXPECT_EQ(p.window.Label7.text(), app::kStartingNow);
    EXPECT_EQ(p.ui.Label3.text(6), app::kIdle);
    EXPECT_EQ(p.ui.tray.picture(), 0);
    EXPECT_TRUE(p.ui.Timer1.isOn());

    const int sleep = p.app.Sleep_Left;  // an idle cycle: 120, or 119 when a second turned
    EXPECT_GE(sleep, 119);
    EXPECT_LE(sleep, 120);
    p.Timer1_Timer();
    EXPECT_EQ(p.window.Label7.text(), "Sleeping For " + QString::number(sleep - 1));
    EXPECT_EQ(w.tickUntilCycle(), sleep - 1);
    EXPECT_EQ(p.window.Label7.text(), app::kStartingNow);

    // Switched off while sleeping: the next tick shows the start prompt and runs nothing.
    p.Bott1_Click(1);
    p.Timer1_Timer();
    EXPECT_EQ(p.window.Label2.text(7), u"تشغيل المزامنة");
    EXPECT_FALSE(p.ui.Timer1.isOn());
    EXPECT_EQ(p.app.cycles, 2);
}

TEST(CycleTimer, StoppingDuringACycleStillKeepsTheBooks)
{
    AppWorld w;
    w.cycle = [&](sync::SyncContext&) { w.program->Bott1_Click(1); };
    Program& p = w.load();
    QStringList statuses;
    QObject::connect(&p.ui.Label3, &sync::LabelArrayModel::changed, [&](int i, const QString& t) {
        if (i == 6)
            statuses << t;
    });
    p.Timer1_Timer();
    EXPECT_EQ(statuses.mid(statuses.size() - 2), (QStringList{app::kStopped, app::kIdle}));
    EXPECT_FALSE(statRow(w, "ToD").isEmpty());
    EXPECT_TRUE(p.ui.Timer1.isOn());
    p.Timer1_Timer();
    EXPECT_FALSE(p.ui.Timer1.isOn());
}

TEST(CycleTick, AnErrorLeavingTheCycleIsLoggedAndTheLoopGoesOn)
{
    AppWorld w;
    int calls = 0;
    w.cycle = [&](sync::SyncContext&) {
        if (++calls == 1)
            throw std::runtime_error("table vanished");
        throw 42;
    };
    Program& p = w.load();
    const QString startTime = statRow(w, "DatTim1");
    w.tickUntilCycle();

    EXPECT_TRUE(w.errorLogText().contains(u"Error SYN031(0)"));
    EXPECT_EQ(w.messages().filter(u"table vanished").size(), 2);  // the error, and the outage it begins
    EXPECT_TRUE(p.ui.Timer1.isOn());
    EXPECT_EQ(p.ui.Label3.text(6), QStringLiteral("خطاء في دورة المزامنة"));
    EXPECT_FALSE(statRow(w, "ToD").isEmpty());

    w.tickUntilCycle();  // not a std::exception either
    EXPECT_EQ(p.app.cycles, 2);
    EXPECT_EQ(p.ui.Label3.text(6), QStringLiteral("خطاء في دورة المزامنة"));
    EXPECT_TRUE(p.ui.Timer1.isOn());
}

TEST(CycleTick, HandOverRunEndsAtOnceWhenTheCallerSetsClosSynBeforeACycleOrDuringARequest)
{
    AppWorld w;
    w.setSetting("NameTab", "Acc");
    // What the cycle's hand-over check does, over the program's own settings and end hook.
    w.cycle = [](sync::SyncContext& ctx) {
        if (!ctx.state.Name_Tab.isEmpty()
            && qRound(ctx.settings.read("Tarvelo", "Settings", "ClosSyn").toDouble()) == 0)
            ctx.exitProgram();
    };
    Program& p = w.load();
    w.tickUntilCycle();
    EXPECT_EQ(w.endedAtOnce, 0);

    w.setSetting("ClosSyn", "0");  // the calling application
    EXPECT_THROW(w.tickUntilCycle(), app::ProgramEnded);
    EXPECT_EQ(w.endedAtOnce, 1);
    EXPECT_EQ(w.quits, 0);
    EXPECT_EQ(w.setting("Acc_In"), u"");  // no exit steps
    EXPECT_EQ(p.app.cycles, 1);

    // The next run's caller ends it while the start-up's first request waits.
    w.program.reset();
    w.setSetting("NameTab", "Acc");
    w.onPump = [&w] {
        if (w.setting("ClosSyn") == u"1")
            w.setSetting("ClosSyn", "0");
    };
    w.web.failNext("VerNumSyn.php", 1, RefWebService::Fault::delayed(std::chrono::seconds(3)));
    const qsizetype clockReads = w.web.requestsTo("getnow.php").size();
    EXPECT_THROW(w.load(), app::ProgramEnded);
    EXPECT_EQ(w.endedAtOnce, 2);
    EXPECT_EQ(w.program->app.startups, 1);
    EXPECT_EQ(w.web.requestsTo("getnow.php").size(), clockReads);
}

// ---- statistics and notices ------------------------------------------------------------------

TEST(Statistics, BusyCyclePostsItsCountsAndEveryTenthCallRescans)
{
    AppWorld w;
    int n = 0;
    w.cycle = [&](sync::SyncContext& ctx) {
        // The engine's part: counters run down, the rescan flag drops, the first cycle moves a record.
        ctx.tables.setAllCounters(0);
        ctx.branch.Chk_Rec = 0;
        ctx.branch.Chk_Del = 0;
        ctx.state.Syn_AllPass = 0;
        if (++n == 1)
            ctx.state.Cnt_Send = 1;
    };
    Program& p = w.load();
    w.tickUntilCycle();

    EXPECT_EQ(p.app.Sleep_Left, 0);
    EXPECT_EQ(w.branchDb.scalar("select Ne_Rec from notic_tab where Tabl_Note = 'branchsyn_tab'"),
              u"Send 1 Recepion 0 at");
    EXPECT_EQ(w.branchDb.scalar("select Na_Rec from notic_tab where Tabl_Note = 'branchsyn_tab'"),
              u"ارسال 1 استقبال 0 في");
    EXPECT_EQ(p.sync.Cnt_Send, 0);
    EXPECT_EQ(p.tables.Tab_Send[size_t(p.tables.slotOf(u"branchsyn_tab"))], 1);
    EXPECT_EQ(statRow(w, "SynAdd"), u"5");
    EXPECT_EQ(statRow(w, "No_UseEdi"), u"0100001");
    EXPECT_EQ(statRow(w, "DatTim2"), u"--");
    EXPECT_EQ(statRow(w, "New_R"), u"0");
    EXPECT_EQ(statRow(w, "ToD"), p.window.Label2.text(5));
    EXPECT_FALSE(statRow(w, "Date_Edit_H").isEmpty());
    EXPECT_EQ(statRow(w, "No_Branch"), u"01");

    // The start-up call counted once: the 9th cycle's bookkeeping is the 10th call.
    for (int i = 2; i <= 8; ++i)
        w.tickUntilCycle();
    EXPECT_EQ(p.sync.Syn_AllPass, 0);
    w.tickUntilCycle();
    EXPECT_EQ(p.sync.Syn_AllPass, 1);
    EXPECT_EQ(p.app.Cnt_Cycle, 0);
    EXPECT_EQ(p.branch.Chk_Rec, 1);
    EXPECT_EQ(p.tables.Tab_ReceDel[0], 1);
    EXPECT_EQ(p.tables.Tab_Send[61], 1);
    EXPECT_EQ(w.branchDb.scalar("select Ne_Rec from notic_tab where Tabl_Note = 'branchsyn_tab'"), u"UpDate Syn at");
    EXPECT_EQ(w.branchDb.scalar("select count(*) from notic_tab"), u"1");
}

TEST(Statistics, SleepIsZeroDuringTheFirstSynchronisationAndAfterTheClockWentBack)
{
    AppWorld w;
    QDateTime t = QDateTime::currentDateTime();
    int reads = 0;
    bool stepBack = false;
    w.clock = [&] {
        ++reads;
        return stepBack && reads % 2 == 0 ? t.addSecs(-30) : t;
    };
    Program& p = w.load();
    p.Syn_Statistic(1);
    EXPECT_EQ(p.app.Sleep_Left, 120);

    p.run.Syn_First = 1;
    p.Syn_Statistic(1);
    EXPECT_EQ(p.app.Sleep_Left, 0);

    p.run.Syn_First = 0;
    stepBack = true;
    reads = 0;
    p.Syn_Statistic(1);
    EXPECT_EQ(p.app.Sleep_Left, 0);
}

TEST(Statistics, RefusedRowLeavesNothingWrittenAndTheCountsKept)
{
    AppWorld w;
    Program& p = w.load();
    w.branchDb.exec("drop table branchsyn_tab");
    p.sync.Cnt_Send = 3;
    const int calls = p.app.Cnt_Cycle;
    p.Syn_Statistic(1);
    EXPECT_EQ(p.app.Cnt_Cycle, calls);
    EXPECT_EQ(p.sync.Cnt_Send, 3);
    EXPECT_EQ(p.app.Sleep_Left, 0);
}

// ---- exit and unload -------------------------------------------------------------------------

TEST(Exit, ExitButtonAndUnloadWriteTheirPartOfTheHandOver)
{
    {
        AppWorld w;  // on its own: ClosSyn "0", the boxes saved, no "_In"
        Program& p = w.load();
        p.Check_Click(p.ui.Check1, 0);
        p.Bott1_Click(3);
        EXPECT_EQ(w.setting("ClosSyn"), u"0");
        EXPECT_EQ(w.setting("Check1"), u"0");
        EXPECT_EQ(w.setting("Check3"), u"1");
        EXPECT_EQ(w.setting("Check4"), u"0");
        EXPECT_FALSE(p.ui.tray.present());
        EXPECT_EQ(w.quits, 1);
        p.Form_Unload();  // the window closing afterwards adds nothing
        EXPECT_EQ(w.quits, 1);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(w.base() + "/Tarvelo/settings.ini").constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    {
        AppWorld w;  // hand-over, exit button: neither ClosSyn nor "_In"
        w.setSetting("NameTab", "Acc");
        Program& p = w.load();
        p.Bott1_Click(3);
        EXPECT_EQ(w.setting("ClosSyn"), u"1");
        EXPECT_EQ(w.setting("Acc_In"), u"");
        EXPECT_EQ(w.setting("Check5"), u"1");
    }
    {
        AppWorld w;  // hand-over, unload: "_In" = "0", ClosSyn untouched
        w.setSetting("NameTab", "Acc");
        Program& p = w.load();
        p.Form_Unload();
        EXPECT_EQ(w.setting("Acc_In"), u"0");
        EXPECT_EQ(w.setting("ClosSyn"), u"1");
        EXPECT_EQ(w.setting("Check4"), u"0");
        EXPECT_EQ(w.quits, 1);
    }
}

TEST(Exit, FailedSettingsWriteIsLoggedAndTheProgramStillEnds)
{
    AppWorld w;
    Program& p = w.load();
    // The settings folder is replaced by a file: every write fails.
    QDir(w.base() + "/Tarvelo").removeRecursively();
    QFile blocker(w.base() + "/Tarvelo");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    p.Bott1_Click(3);
    EXPECT_EQ(w.quits, 1);
    EXPECT_FALSE(p.ui.tray.present());
    EXPECT_TRUE(w.errorLogText().contains(u"Error SYN035(0)"));
}

TEST(RunAtLogon, TheBoxShowsTheAutostartEntryAndItsClicksWriteOrRemoveIt)
{
    AppWorld w;
    const QString entry = w.base() + "/autostart/tarvelo.desktop";
    QDir().mkpath(w.base() + "/autostart");
    {
        QFile f(entry);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nType=Application\nName=Tarvelo\nExec=/old/tarvelo\n");
    }
    Program& p = w.load();
    EXPECT_EQ(p.ui.Check4.value(), 1);
    EXPECT_FALSE(p.app.Loading);
    QFile f(entry);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Exec=/old/tarvelo"));  // read, not rewritten
    f.close();

    p.Check_Click(p.ui.Check4, 0);
    EXPECT_FALSE(QFile::exists(entry));
    p.Check_Click(p.ui.Check4, 1);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Exec=\"" + (w.home.path() + "/tarvelo").toUtf8() + "\""));
    f.close();

    // The folder made impossible: the message box says why and the box keeps working.
    p.Check_Click(p.ui.Check4, 0);
    QDir(w.base() + "/autostart").removeRecursively();
    QFile blocker(w.base() + "/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    p.Check_Click(p.ui.Check4, 1);
    ASSERT_EQ(w.boxes.size(), 1);
    EXPECT_TRUE(w.boxes[0].startsWith(u"Error "));
}

}  // namespace
}  // namespace tarvelo::test
