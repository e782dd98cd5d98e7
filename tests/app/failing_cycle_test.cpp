// What the window says after cycles in which the web service or the local database failed.
#include "app_world.h"

#include <gtest/gtest.h>

namespace tarvelo::test {
namespace {

// The status line, tray picture and countdown one second into the sleep after the next cycle,
// and the message-log rows that cycle added.
struct Seen {
    QString status;
    int picture;
    QString countdown;
    QStringList rows;
};

Seen nextCycle(AppWorld& w)
{
    const qsizetype before = w.messages().size();
    w.tickUntilCycle();
    app::Program& p = *w.program;
    p.Timer1_Timer();
    return {p.ui.Label3.text(6), p.ui.tray.picture(), p.window.Label7.text(), w.messages().mid(before)};
}

void expectFailed(const Seen& seen, const QString& status, const QString& firstRow)
{
    EXPECT_EQ(seen.status.toStdString(), status.toStdString());
    EXPECT_EQ(seen.picture, 2);
    EXPECT_EQ(seen.countdown, u"Sleeping For 59");  // the next try a minute later
    if (firstRow.isEmpty()) {
        EXPECT_TRUE(seen.rows.isEmpty()) << qPrintable(seen.rows.join(u'\n'));
    } else {
        ASSERT_EQ(seen.rows.size(), 2) << qPrintable(seen.rows.join(u'\n'));
        EXPECT_TRUE(seen.rows[0].startsWith(status + ": " + QChar(0x2066) + firstRow)) << qPrintable(seen.rows[0]);
        EXPECT_EQ(seen.rows[1], app::kRetryMessage);
    }
}

void expectBack(const Seen& seen, const QString& row)
{
    EXPECT_EQ(seen.status.toStdString(), app::kIdle.toStdString());
    EXPECT_EQ(seen.picture, 0);
    EXPECT_EQ(seen.rows, QStringList{row});
}

TEST(FailingCycle, WebServiceStoppedForTwoCyclesThenBack)
{
    AppWorld w;
    app::Program& p = w.load([](app::ProgramOptions& o) { o.cycle = {}; });
    const QString url = p.run.config.Url_Web;
    p.run.config.Url_Web = QStringLiteral("http://127.0.0.1:1/test1/");
    const Seen first = nextCycle(w), second = nextCycle(w);
    p.run.config.Url_Web = url;
    const Seen back = nextCycle(w);

    expectFailed(first, QStringLiteral("خطاء بخدمة الويب"), QStringLiteral("web service VerNumSyn.php: "));
    expectFailed(second, QStringLiteral("خطاء بخدمة الويب"), {});
    expectBack(back, QStringLiteral("عادت خدمة الويب للعمل"));
}

TEST(FailingCycle, LocalDatabaseStoppedDuringACycleThenBack)
{
    AppWorld w;
    app::Program& p = w.load([](app::ProgramOptions& o) { o.cycle = {}; });
    const QString port = p.db.DB_Port_Loc;
    int pumps = 0;
    w.onPump = [&] {
        if (++pumps == 10)
            p.db.DB_Port_Loc = kClosedPort;
    };
    const Seen during = nextCycle(w);
    w.onPump = nullptr;
    const Seen next = nextCycle(w);
    p.db.DB_Port_Loc = port;
    const Seen back = nextCycle(w);

    expectFailed(during, QStringLiteral("خطاء بالقاعدة المحلية"), QStringLiteral("local database connection: "));
    expectFailed(next, QStringLiteral("خطاء بالقاعدة المحلية"), {});
    expectBack(back, QStringLiteral("عادت القاعدة المحلية للعمل"));
}

}  // namespace
}  // namespace tarvelo::test
