#include "app_world.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarvelo::test {
namespace {

// An echo check that gets no ICMP socket, as an ordinary user without the capability does.
class NoIcmpSocket : public FakeReachability {
public:
    qint32 Ping_Ip(const QString&, data::EchoReply&) override
    {
        lackedSocket_ = true;
        lastFailure_ = QStringLiteral("no ICMP socket: raw socket: Operation not permitted");
        return -1;
    }
};

struct ReasonCase {
    const char* name;
    std::function<void(AppWorld&, app::ProgramOptions&)> arrange;
    QStringList said;    // in the reason log: the step, the reason and the setting
    QString secret;      // a password that must appear nowhere
    QString status;      // the status line at the end
    bool serverFailed;   // lamps 1 to 4 dark red, nothing green, after a whole tick
};

TEST(FailureReasons, EachFailureNamesItsReasonAndSettingAndNeverLooksLikeSuccess)
{
    NoIcmpSocket noSocket;
    const std::vector<ReasonCase> cases = {
        {"wrong server password", [](AppWorld&, app::ProgramOptions& o) { o.config.startup.DB_Pas_Ser = "wrong-Pw-77"; },
         {"server database connection", "Access denied", "DB_User_Ser / DB_Pas_Ser in"}, "wrong-Pw-77",
         "خطاء باتصال السيرفر", true},
        {"server host where nothing listens",
         [](AppWorld&, app::ProgramOptions& o) { o.config.startup.DB_Server_Ser = "127.0.0.9"; },
         {"server database connection", "127.0.0.9", "DB_Server_Ser in"}, {}, "خطاء باتصال السيرفر", true},
        {"web service down",
         [](AppWorld&, app::ProgramOptions& o) { o.config.startup.Url_Web = "http://127.0.0.1:1/test1/"; },
         {"web service VerNumSyn.php", "web service getnow.php", "Couldn't connect", "Url_Web in"}, {},
         "مشكلة في وقت السيرفر", false},
        {"wrong local password", [](AppWorld& w, app::ProgramOptions&) { w.setVeld("SaveInPas_Databes", "wrong-Loc-55"); },
         {"local database connection", "Access denied", "SaveInUser_Databes / SaveInPas_Databes in",
          "/Veld/settings.ini"},
         "wrong-Loc-55", "خطاء بالاتصال رقم1", false},
        {"no raw-socket capability", [&](AppWorld&, app::ProgramOptions& o) { o.reachability = &noSocket; },
         {"echo check 127.0.0.1", "Operation not permitted", "cap_net_raw", "setcap cap_net_raw+ep"}, {},
         app::kNoEchoPermission, false},
        {"Veld settings without the database name", [](AppWorld& w, app::ProgramOptions&) { w.setVeld("SaveInName_Databes", ""); },
         {"local database call on Proj_Tab: SaveInName_Databes missing or empty in the Veld settings",
          "check SaveInName_Databes in"},
         {}, "خطاء بالاتصال رقم1", false},
    };
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.name);
        AppWorld w;
        app::Program& p = w.load([&](app::ProgramOptions& o) {
            o.cycle = {};  // the real cycle
            c.arrange(w, o);
        });
        std::vector<quint32> painted;
        QObject::connect(&p.lamps, &data::LampsModel::painted, [&](int, quint32 colour) { painted.push_back(colour); });
        w.tickUntilCycle(5);

        const QString log = w.reasonLogText();
        for (const QString& part : c.said)
            EXPECT_TRUE(log.contains(part)) << part.toStdString() << " not in:\n" << log.toStdString();
        if (!c.secret.isEmpty()) {
            EXPECT_FALSE(log.contains(c.secret));
        }
        EXPECT_FALSE(log.contains(w.serverDb.settings().password));
        EXPECT_EQ(p.ui.Label3.text(6), c.status);
        if (c.serverFailed) {
            EXPECT_EQ(p.app.cycles, 1);
            for (int lamp = 1; lamp <= 4; ++lamp)
                EXPECT_EQ(p.lamps.colour(lamp), data::LampsModel::DarkRed) << lamp;
            const auto failure = std::find(painted.begin(), painted.end(), data::LampsModel::DarkRed);
            ASSERT_NE(failure, painted.end());
            EXPECT_EQ(std::find(failure, painted.end(), data::LampsModel::Green), painted.end());
        }
    }
}

}  // namespace
}  // namespace tarvelo::test
