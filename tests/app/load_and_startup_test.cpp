#include "app_world.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarvelo::test {
namespace {

using app::Program;
using Fault = RefWebService::Fault;

// ---- load sequence ---------------------------------------------------------------------------

TEST(LoadSequence, FirstRunTicksTheBoxesShowsTheWindowAndStartsSynchronising)
{
    AppWorld w;
    Program& p = w.load();

    EXPECT_EQ(p.ui.Check1.value(), 1);
    EXPECT_EQ(p.ui.Check3.value(), 1);
    EXPECT_EQ(p.ui.Check5.value(), 1);
    EXPECT_TRUE(p.ui.visible.isOn());
    EXPECT_TRUE(p.ui.caption.text().endsWith(u"1.0.0"));
    EXPECT_EQ(p.ui.Label3.text(9), u"01.00.00");
    EXPECT_TRUE(w.errorLogText().contains(u"Start "));
    EXPECT_TRUE(w.errorLogText().contains(u"KinPro 5"));

    // The start-up passed: the cycle timer runs with no sleep, the statistics row and the start
    // notice are written.
    EXPECT_TRUE(p.run.Syn_Run);
    EXPECT_TRUE(p.ui.Timer1.isOn());
    EXPECT_FALSE(p.ui.Timer4.isOn());
    EXPECT_EQ(p.app.Sleep_Left, 0);
    EXPECT_EQ(p.window.Label2.text(0), u"01");
    EXPECT_EQ(p.window.Label2.text(1), w.serverDb.name());
    EXPECT_TRUE(p.ui.tray.present());
    EXPECT_EQ(p.ui.tray.picture(), 0);
    EXPECT_EQ(p.ui.Label3.text(6), u"الرجاء الانتظار ...");
    EXPECT_EQ(w.branchDb.scalar("select Na_Rec from branchsyn_tab where no_rec = '01'"), u"--");
    EXPECT_EQ(w.branchDb.scalar("select SynAdd from branchsyn_tab where no_rec = '01'"), u"5");
    EXPECT_FALSE(w.branchDb.scalar("select FromD from branchsyn_tab where no_rec = '01'").isEmpty());
    EXPECT_EQ(p.window.Label2.text(4), w.branchDb.scalar("select FromD from branchsyn_tab where no_rec = '01'"));
    EXPECT_EQ(w.branchDb.scalar("select Ne_Rec from notic_tab where Tabl_Note = 'branchsyn_tab'"), u"Start Syn at");
    EXPECT_EQ(p.sync.Cnt_Send, 0);
    EXPECT_EQ(p.sync.Syn_AllPass, 1);
    EXPECT_EQ(p.tables.Tab_Rece[5], 1);
}

TEST(LoadSequence, SavedBoxesComeBackAndTheWindowStillShows)
{
    AppWorld w;
    w.setSetting("Check4", "0");
    w.setSetting("Check3", "0");
    w.setSetting("Check1", "1");
    w.setSetting("Check5", "1");
    auto p = std::make_unique<Program>(w.options());
    QList<bool> shown;
    QObject::connect(&p->ui.visible, &app::SwitchModel::changed, [&](bool on) { shown << on; });
    p->Form1_Form_Load();

    EXPECT_EQ(p->ui.Check3.value(), 0);
    EXPECT_EQ(p->ui.Check1.value(), 1);
    EXPECT_EQ(p->ui.Check5.value(), 1);
    EXPECT_EQ(shown, (QList<bool>{true}));  // ticking Check5 hides nothing not yet shown; the load shows it
    EXPECT_TRUE(p->ui.visible.isOn());
}

TEST(LoadSequence, HandOverRunStaysHiddenWithoutATrayIconAndTakesTheHandOver)
{
    AppWorld w;
    w.setSetting("NameTab", "Acc");
    w.otherCopy = true;  // the single-instance rule does not apply
    auto p = std::make_unique<Program>(w.options());
    QList<bool> shown;
    QObject::connect(&p->ui.visible, &app::SwitchModel::changed, [&](bool on) { shown << on; });
    int trayChanges = 0;
    QObject::connect(&p->ui.tray, &app::TrayModel::changed, [&] { ++trayChanges; });
    p->Form1_Form_Load();

    EXPECT_FALSE(shown.contains(true));
    EXPECT_EQ(trayChanges, 0);
    EXPECT_FALSE(p->ui.tray.present());
    EXPECT_EQ(w.setting("NameTab"), u"");
    EXPECT_EQ(w.setting("ClosSyn"), u"1");
    EXPECT_EQ(p->sync.Name_Tab, u"Acc");
    EXPECT_TRUE(p->ui.Timer1.isOn());
    EXPECT_EQ(w.endedAtOnce, 0);

    // Settings files hold passwords: only their owner may read them.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(w.base() + "/Tarvelo/settings.ini").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LoadSequence, SecondCopyWithoutHandOverEndsAtOnceAfterItsStartLines)
{
    AppWorld w;
    w.otherCopy = true;
    auto p = std::make_unique<Program>(w.options());
    EXPECT_THROW(p->Form1_Form_Load(), app::ProgramEnded);
    EXPECT_EQ(w.endedAtOnce, 1);
    EXPECT_EQ(p->app.startups, 0);
    EXPECT_TRUE(w.errorLogText().contains(u"KinPro 5"));
    EXPECT_FALSE(QFile::exists(w.base() + "/Tarvelo/settings.ini"));
}

TEST(LoadSequence, InstanceLockExcludesASecondHolderUntilTheFirstGoes)
{
    QTemporaryDir dir;
    auto first = std::make_unique<app::InstanceLock>(dir.path());
    app::InstanceLock second(dir.path());
    app::InstanceLock otherSetUp(dir.path() + "/elsewhere");
    EXPECT_TRUE(first->acquire());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(otherSetUp.acquire());
    first.reset();
    EXPECT_TRUE(second.acquire());
}

// ---- start-up checks -------------------------------------------------------------------------

struct FailureCase {
    int number;
    QString title;
    QString status;   // status line after the failure: never a step's text
    QString field16;  // empty: unchanged
    std::function<void(AppWorld&)> arrange;
};

TEST(StartUpChecks, EachFailingCheckReportsItsNumberTitleAndTextsAndArmsTheRetry)
{
    const std::vector<FailureCase> cases = {
        {3, "Time Server", "مشكلة في وقت السيرفر", "مشكلة في وقت السيرفر",
         [](AppWorld& w) { w.web.failNext("getnow.php", 1, Fault::emptyBody()); }},
        {4, "Local database connection", "خطاء بالاتصال رقم1", "خطاء باتصال القاعدة المحلية1",
         [](AppWorld& w) { w.setVeld("SaveInPort", kClosedPort); }},
        {5, "The local branch of the data is not registered", "الفرع غير مسجل", "بيانات الفرع المحلي غير مسجلة",
         [](AppWorld& w) { w.branchDb.exec("delete from proj_tab"); }},
        {6, "Local branch is not compatible", "الفرع المحلي غير متوافق", "الفرع المحلي غير متوافق",
         [](AppWorld& w) { w.branchDb.exec("update proj_tab set branch = '02'"); }},
        {9, "Awaiting update lift", "البرنامج يحتاج الى تحديث", "البرنامج يحتاج الى تحديث",
         [](AppWorld& w) { w.branchDb.exec("update proj_tab set No_Riv = '01.02.17'"); }},
        {10, "The server database is old", "القاعدة الحالية غير متوافقة", "القاعدة الحالية غير متوافقة",
         [](AppWorld& w) { w.branchDb.exec("update proj_tab set No_Riv = '01.02.19'"); }},
        {12, "ip communication 127.0.0.1", "السيرفر لا يرد على فحص الاتصال", "", [](AppWorld& w) { w.reach.answers = false; }},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.number);
        AppWorld w;
        c.arrange(w);
        Program& p = w.load();

        EXPECT_TRUE(w.messages().contains("Erorr " + c.title + " No=" + QString::number(c.number)));
        EXPECT_TRUE(w.messages().contains(app::kRetryMessage));
        EXPECT_EQ(p.run.Err_Fields[17], c.title);
        EXPECT_EQ(p.run.Err_Fields[16], c.field16.isEmpty() ? QStringLiteral("xxx") : c.field16);
        EXPECT_EQ(p.ui.Label3.text(6), c.status);
        EXPECT_TRUE(p.run.Syn_Run);
        EXPECT_FALSE(p.ui.Timer1.isOn());
        EXPECT_TRUE(p.ui.Timer4.isOn());
        EXPECT_TRUE(w.branchDb.scalar("select count(*) from branchsyn_tab") == u"0");
    }
}

TEST(StartUpChecks, DatabaseNumberIsWrittenOnlyWhenConfigured)
{
    {
        AppWorld w;  // none configured: the row keeps its number
        w.load();
        EXPECT_TRUE(w.program->ui.Timer1.isOn());
        EXPECT_EQ(w.branchDb.scalar("select NoDat from proj_tab"), u"05");
    }
    {
        AppWorld w;
        w.noDat = "7";
        w.load();
        EXPECT_EQ(w.branchDb.scalar("select NoDat from proj_tab"), u"07");
    }
}

// ---- report and retry ------------------------------------------------------------------------

TEST(Retry, SixtiethTickRunsTheWholeStartUpAgain)
{
    AppWorld w;
    w.web.failNext("getnow.php", 1, Fault::emptyBody());
    Program& p = w.load();
    ASSERT_TRUE(p.ui.Timer4.isOn());
    for (int i = 0; i < 59; ++i)
        p.Timer4_Timer();
    EXPECT_EQ(p.window.Label7.text(), u"60 - 59");
    EXPECT_EQ(p.app.startups, 1);

    p.Timer4_Timer();
    EXPECT_EQ(p.app.startups, 2);
    EXPECT_EQ(p.app.Retry_Cnt, 0);
    EXPECT_EQ(p.window.Label7.text(), u"");
    EXPECT_FALSE(p.ui.Timer4.isOn());
    EXPECT_TRUE(p.ui.Timer1.isOn());
}

TEST(Retry, RecentErrorReportLeavesTheRetryUnarmed)
{
    AppWorld w;
    w.web.setLastSendError(QDateTime::currentDateTime().addSecs(-3600).toString("yyyy-MM-dd HH:mm:ss"));
    w.reach.answers = false;
    Program& p = w.load();
    EXPECT_TRUE(w.messages().contains("Erorr ip communication 127.0.0.1 No=12"));
    EXPECT_FALSE(w.messages().contains(app::kRetryMessage));
    EXPECT_FALSE(p.ui.Timer4.isOn());
    EXPECT_EQ(w.web.requestsTo("LastSendError.php").size(), 1);
    EXPECT_TRUE(w.web.requestsTo("LastSendError.php").first().contains("NoDev=DEV-1"));
}

TEST(Retry, SixHourRuleCountsHourBoundaries)
{
    const QDate d(2024, 3, 10);
    EXPECT_EQ(app::hourBoundaries(QDateTime(d, QTime(10, 59)), QDateTime(d, QTime(16, 1))), 6);
    EXPECT_EQ(app::hourBoundaries(QDateTime(d, QTime(11, 0)), QDateTime(d, QTime(16, 59))), 5);
    EXPECT_EQ(app::hourBoundaries(QDateTime(d, QTime(23, 30)), QDateTime(d.addDays(1), QTime(5, 0))), 6);
}

TEST(Retry, UnanswerableWebServiceStillArmsTheRetry)
{
    for (const Fault& f : {Fault::httpError(), Fault::reply("<html>not a time</html>")}) {
        AppWorld w;
        w.reach.answers = false;
        w.web.failNext("LastSendError.php", 1, f);
        Program& p = w.load();
        EXPECT_TRUE(w.messages().contains("Erorr ip communication 127.0.0.1 No=12"));
        EXPECT_TRUE(w.errorLogText().contains(u"Error SYN014(0)"));
        EXPECT_TRUE(p.ui.Timer4.isOn());
    }
}

TEST(Retry, LostServerDuringACycleAlwaysArmsWithoutAsking)
{
    AppWorld w;
    w.web.setLastSendError(QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss"));
    w.cycle = [](sync::SyncContext& ctx) {
        ctx.db.DB_Port_Ser = kClosedPort;
        data::RecordsetVar rs;
        ctx.db.Open_Rs_Ser(ctx.vars.Rs_Source, "branch_tab", "");
    };
    Program& p = w.load();
    w.tickUntilCycle();
    EXPECT_TRUE(p.run.Syn_Stop);
    EXPECT_TRUE(p.ui.Timer4.isOn());
    EXPECT_TRUE(w.web.requestsTo("LastSendError.php").isEmpty());
    // The next cycle-timer tick only switches it off.
    p.Timer1_Timer();
    EXPECT_FALSE(p.ui.Timer1.isOn());
    EXPECT_EQ(p.app.cycles, 1);
}

// ---- re-entry and stop during a start-up -----------------------------------------------------

TEST(ReEntry, StartPressedDuringAStartUpWaitStartsNoSecondOne)
{
    AppWorld w;
    bool timer1DuringStartUp = false;
    w.onPump = [&] {
        if (!w.program || !w.program->sync.Branch_Lock.startingUp())
            return;
        timer1DuringStartUp |= w.program->ui.Timer1.isOn();
        w.program->Bott1_Click(0);
        w.program->Timer1_Timer();
    };
    Program& p = w.load();
    EXPECT_EQ(p.app.startups, 1);
    EXPECT_EQ(w.messages().count(u"اقلاع النظام"), 1);
    EXPECT_FALSE(timer1DuringStartUp);
    EXPECT_EQ(p.app.cycles, 0);
    EXPECT_TRUE(p.ui.Timer1.isOn());
}

TEST(ReEntry, RetryTicksInsideACycleStartNothingAndAStartWaitsForTheCycle)
{
    AppWorld w;
    int startupsInCycle = -1;
    w.cycle = [&](sync::SyncContext&) {
        Program& p = *w.program;
        p.ui.Timer4.set(true);
        for (int i = 0; i < 70; ++i)
            p.Timer4_Timer();
        p.Bott1_Click(0);
        startupsInCycle = p.app.startups;
    };
    Program& p = w.load();
    w.tickUntilCycle();
    EXPECT_EQ(startupsInCycle, 1);
    EXPECT_EQ(p.app.startups, 2);  // the start ran after the cycle
    EXPECT_TRUE(p.ui.Timer1.isOn());
    EXPECT_TRUE(p.run.Syn_Run);
}

TEST(ReEntry, StopDuringAStartUpWaitIsNotUndoneByALaterFailure)
{
    AppWorld w;
    w.reach.answers = false;
    w.onPump = [&] {
        if (w.program && w.program->sync.Branch_Lock.startingUp() && w.program->run.Syn_Run)
            w.program->Bott1_Click(1);
    };
    Program& p = w.load();
    EXPECT_FALSE(p.run.Syn_Run);
    EXPECT_FALSE(p.ui.Timer4.isOn());
    EXPECT_FALSE(p.ui.Timer1.isOn());
    EXPECT_EQ(p.ui.Label3.text(6), app::kStopped);
    EXPECT_EQ(p.ui.tray.picture(), 2);
    for (const QString& m : w.messages())
        EXPECT_FALSE(m.startsWith(u"Erorr"));
}

}  // namespace
}  // namespace tarvelo::test
