#pragma once
#include "app/core/program.h"
#include "data/settings_store.h"
#include "support/ref_web_service.h"
#include "support/sync_rig.h"
#include "support/test_db.h"

#include <QApplication>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace tarvelo::test {

// A reachability check that answers as told, without the network.
class FakeReachability : public data::Reachability {
public:
    bool answers = true;
    bool Sock_Start() override { return true; }
    void Sock_Clean() override {}
    qint32 Ping_Ip(const QString&, data::EchoReply& reply) override
    {
        reply.Status = answers ? 0 : data::ip_status::ReqTimedOut;
        return qint32(reply.Status);
    }
};

inline void ensureApplication()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

// Points the local database settings (application Veld) under the settings folder `base` at `local`.
inline void writeVeld(const QString& base, const data::DbSettings& local)
{
    data::IniSettingsStore store(base);
    for (const auto& [key, value] : {std::pair{"SaveInServer_Databes", local.host}, {"SaveInPort", local.port},
                                     {"SaveInName_Databes", local.name}, {"SaveInUser_Databes", local.user},
                                     {"SaveInPas_Databes", local.password}})
        store.write("Veld", "Settings", QString::fromLatin1(key), value);
}

// The start-up values of branch `branch` against a server database and the web service over it.
inline data::StartupConfig startupConfig(const ScratchDatabase& serverDb, const RefWebService& web, const QString& branch)
{
    const data::DbSettings server = serverDb.settings();
    data::StartupConfig c;
    c.My_Branch = branch;
    c.Riv_Server = QStringLiteral("010218");
    c.DB_Server_Ser = server.host;
    c.DB_User_Ser = server.user;
    c.DB_Pas_Ser = server.password;
    c.DB_Name_Ser = server.name;
    c.Ip_Ser = QStringLiteral("127.0.0.1");
    c.No_Dev = QStringLiteral("DEV-1");
    c.Url_Web = web.baseUrl();
    c.Url_Downloads = web.downloadsUrl();
    return c;
}

// Runs cycle ticks until a cycle has run (or `limit` ticks passed); the ticks run.
inline int tickUntilCycle(app::Program& p, int limit = 200)
{
    const int before = p.app.cycles;
    int ticks = 0;
    while (p.app.cycles == before && ticks < limit) {
        p.Timer1_Timer();
        ++ticks;
    }
    return ticks;
}

// One branch installation: its database with a project row, the server database, the reference
// web service, a settings folder holding the local database's settings, and the program over them.
struct AppWorld {
    AppWorld()
    {
        branchDb.exec(QStringLiteral(
            "INSERT INTO proj_tab (no_rec, branch, No_Branch, SynFirst, No_Riv, NoDat, KinYer) "
            "VALUES ('1', '01', '01', '0', '01.02.18', '05', '2024')"));
        writeVeld(base(), branchDb.settings());
    }

    app::ProgramOptions options()
    {
        app::ProgramOptions o;
        o.config.startup = startupConfig(serverDb, web, QStringLiteral("01"));
        o.config.startup.Riv_Server = rivServer;
        o.config.No_Dat = noDat;
        o.settingsBase = base();
        o.programFolder = home.path();
        o.pump = [this] {
            ++pumps;
            if (onPump)
                onPump();
        };
        o.endAtOnce = [this] { ++endedAtOnce; };
        o.quit = [this] { ++quits; };
        o.otherCopyRunning = [this] { return otherCopy; };
        o.reachability = &reach;
        o.autostartBase = base();
        o.messageBox = [this](const QString& text) { boxes << text; };
        o.cycle = [this](sync::SyncContext& ctx) {
            if (cycle)
                cycle(ctx);
        };
        o.clock = clock;
        o.webTimeout = std::chrono::seconds(5);
        return o;
    }

    // Builds the program and runs its load (and so the start-up).
    app::Program& load(const std::function<void(app::ProgramOptions&)>& adjust = {})
    {
        app::ProgramOptions o = options();
        if (adjust)
            adjust(o);
        program = std::make_unique<app::Program>(std::move(o));
        program->Form1_Form_Load();
        return *program;
    }

    QString base() const { return home.path() + "/config"; }
    void setVeld(const QString& key, const QString& value) { data::IniSettingsStore(base()).write("Veld", "Settings", key, value); }
    void setSetting(const QString& key, const QString& value)
    {
        data::IniSettingsStore(base()).write("Tarvelo", "Settings", key, value);
    }
    QString setting(const QString& key) const { return data::IniSettingsStore(base()).read("Tarvelo", "Settings", key); }

    QStringList messages() const
    {
        QStringList out;
        const data::GridModel& g = program->logs.MSFG2;
        for (int r = 1; r < g.rows(); ++r)
            out << g.textMatrix(r, 0);
        return out;
    }
    QString errorLogText() const
    {
        QFile f(home.path() + "/Save_Code.txt");
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }
    QString reasonLogText() const
    {
        QFile f(home.path() + "/tarvelo.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Runs cycle ticks until a cycle has run (or `limit` ticks passed).
    int tickUntilCycle(int limit = 200) { return test::tickUntilCycle(*program, limit); }

    QTemporaryDir home;
    ScratchDatabase branchDb{QStringLiteral("branch")};
    ScratchDatabase serverDb{QStringLiteral("server")};
    QTemporaryDir downloads;
    RefWebService web{RefWebService::Options{QString(), downloads.path()}};
    QString rivServer = QStringLiteral("010218");
    FakeReachability reach;
    QStringList boxes;  // message boxes shown
    QString noDat;
    bool otherCopy = false;
    int pumps = 0, endedAtOnce = 0, quits = 0;
    std::function<void()> onPump;
    std::function<void(sync::SyncContext&)> cycle;
    std::function<QDateTime()> clock;
    std::unique_ptr<app::Program> program;
};

// The program as one more copy over a rig branch's database (on another machine: its own settings
// folder), beside the rig's engine over it; loaded, so its start-up has run.
struct RigCopy {
    RigCopy(SyncRig& rig, const RigBranch& branch, const QString& noDat = {})
    {
        writeVeld(home.path(), branch.db.settings());
        app::ProgramOptions& o = options;
        o.config.startup = startupConfig(rig.server, rig.web, branch.number);
        o.config.No_Dat = noDat;
        o.settingsBase = o.programFolder = o.autostartBase = home.path();
        o.pump = [this] {
            if (onPump)
                onPump();
        };
        o.endAtOnce = [] {};
        o.quit = [] {};
        o.otherCopyRunning = [] { return false; };
        o.reachability = &reach;
        o.messageBox = [](const QString&) {};
        o.webTimeout = std::chrono::seconds(5);
        renew();
        program->Form1_Form_Load();
    }
    // The copy's process started again, not loaded yet.
    void renew() { program = std::make_unique<app::Program>(options); }
    QString reasons() const
    {
        QFile f(home.path() + "/tarvelo.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir home;
    FakeReachability reach;
    std::function<void()> onPump;
    app::ProgramOptions options;
    std::unique_ptr<app::Program> program;
};

}  // namespace tarvelo::test
