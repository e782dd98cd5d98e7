// What the window says after cycles in which the web service or the local database failed.
#include "app_world.h"

#include <gtest/gtest.h>

namespace tarvelo::test {
namespace {

// A second into the sleep after the next cycle: status, picture, countdown, rows added (to their second ": ").
QString nextCycle(AppWorld& w)
{
    const qsizetype before = w.messages().size();
    w.tickUntilCycle();
    w.program->Timer1_Timer();
    const app::Program& p = *w.program;
    QStringList seen{p.ui.Label3.text(6), QString::number(p.ui.tray.picture()), p.window.Label7.text()};
    for (const QString& row : w.messages().mid(before))
        seen << row.section(QStringLiteral(": "), 0, 1);
    return seen.join(u'|');
}

TEST(FailingCycle, WebServiceOrLocalDatabaseStoppedForTwoCyclesThenBack)
{
    struct Fault {
        std::function<QString&(app::Program&)> setting;
        QString stopped;  // the setting's value that stops the part
        int atPump;       // stopped at this event pump of the first failed cycle; 0: before it
        QString status, firstRow, endRow;
    };
    const std::vector<Fault> faults = {
        {[](app::Program& p) -> QString& { return p.run.config.Url_Web; }, "http://127.0.0.1:1/test1/", 0,
         "خطاء بخدمة الويب", "web service VerNumSyn.php", "عادت خدمة الويب للعمل"},
        {[](app::Program& p) -> QString& { return p.db.DB_Port_Loc; }, kClosedPort, 10, "خطاء بالقاعدة المحلية",
         "local database connection", "عادت القاعدة المحلية للعمل"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.firstRow.toStdString());
        AppWorld w;
        app::Program& p = w.load([](app::ProgramOptions& o) { o.cycle = {}; });
        QString& setting = f.setting(p);
        const QString working = setting;
        int pumps = 0;
        w.onPump = [&] { setting = ++pumps == f.atPump ? f.stopped : setting; };
        setting = f.atPump == 0 ? f.stopped : working;
        const QString failed = nextCycle(w);
        w.onPump = nullptr;
        const QString again = nextCycle(w);
        setting = working;
        QStringList statusWhileRunning;
        w.onPump = [&] { statusWhileRunning << p.ui.Label3.text(6); };
        const QStringList back = nextCycle(w).split(u'|');
        EXPECT_TRUE(statusWhileRunning.contains(app::kSyncing));

        // Failed: the stopped picture, the next try a minute later; one row for the outage's beginning.
        const QString status = f.status + "|2|Sleeping For 59";
        EXPECT_EQ(failed.toStdString(), (status + "|" + f.status + ": " + QChar(0x2066) + f.firstRow + "|"
                                         + app::kRetryMessage).toStdString());
        EXPECT_EQ(again.toStdString(), status.toStdString());
        EXPECT_EQ((back.mid(0, 2) + back.mid(3)).join(u'|').toStdString(),
                  (app::kIdle + "|0|" + f.endRow).toStdString());
    }
}

TEST(FailingCycle, ACycleEndedByAnErrorEndsStoppedAndTheNextGoodOneIdle)
{
    AppWorld w;
    w.load();
    w.cycle = [](sync::SyncContext&) { throw std::runtime_error("table list unreadable"); };
    EXPECT_EQ(nextCycle(w).toStdString(), ("خطاء في دورة المزامنة|2|Sleeping For 59|خطاء في دورة المزامنة: " + QString(QChar(0x2066))
                                           + "synchronisation cycle|Error SYN031: table list unreadable|" + app::kRetryMessage).toStdString());
    w.cycle = nullptr;
    EXPECT_EQ(nextCycle(w).section(u'|', 3).toStdString(), "عادت دورة المزامنة للعمل");
    EXPECT_EQ(w.program->ui.Label3.text(6), app::kIdle);
}

}  // namespace
}  // namespace tarvelo::test
