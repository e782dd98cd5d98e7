#include "app/window/main_window.h"
#include "app_world.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableView>
#include <QThread>

#include <gtest/gtest.h>

namespace tarvelo::test {
namespace {

using app::Program;

// An updater that leaves "<name>.started" beside itself when run.
void stubUpdater(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\necho started > \"$0.started\"\n");
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
}

bool appears(const QString& path)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(path) && t.elapsed() < 5000)
        QThread::msleep(10);
    return QFile::exists(path);
}

TEST(UpdatesAtStartUp, OlderLocalRevisionDownloadsAndStartsTheUpdaterOrAwaitsTheUpdateWhenItFails)
{
    AppWorld w;
    w.rivServer = QStringLiteral("010219");
    w.web.setVerNum(QStringLiteral("0102193"));

    // Nothing to download: logged, the window closed, and the start-up reports it waits for the update.
    Program& p = w.load();
    EXPECT_EQ(w.endedAtOnce, 0);
    EXPECT_FALSE(p.Form2.isVisible());
    EXPECT_FALSE(QFile::exists(w.home.path() + "/Update4.exe"));
    EXPECT_EQ(p.ui.Label3.text(6), u"البرنامج يحتاج الى تحديث");
    EXPECT_TRUE(w.messages().contains(u"Erorr Awaiting update lift No=9"));
    EXPECT_TRUE(p.ui.Timer4.isOn());
    EXPECT_FALSE(p.ui.Timer1.isOn());

    // The offered version's folder holds the updater: it is fetched into the program's folder and run.
    stubUpdater(w.downloads.path() + "/010219/Update4.exe");
    w.program.reset();
    auto again = std::make_unique<Program>(w.options());
    EXPECT_THROW(again->Form1_Form_Load(), app::ProgramEnded);
    EXPECT_EQ(w.endedAtOnce, 1);
    EXPECT_TRUE(appears(w.home.path() + "/Update4.exe.started"));
    EXPECT_EQ(data::IniSettingsStore(w.base()).read("Veld", "Settings", "NoRevOld_Tim"), "010218");
}

TEST(UpdatesInTheTick, FailedDownloadLetsTheCycleRunAndANewerProgramIsStartedBeforeThisOneEnds)
{
    AppWorld w;
    int cycles = 0;
    w.cycle = [&](sync::SyncContext&) { ++cycles; };
    Program& p = w.load();
    ASSERT_TRUE(p.ui.Timer1.isOn());

    w.web.setVerNum(QStringLiteral("0102190"));  // newer than the local 010218; nothing to download
    p.Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    EXPECT_EQ(p.ui.Label3.text(6), app::kIdle);
    EXPECT_TRUE(p.ui.Timer1.isOn());

    w.web.setVerNum(QString());
    w.web.setVerNumSyn(QStringLiteral("990000"));
    stubUpdater(w.home.path() + "/UpDateSyn.exe");
    p.app.Sleep_Left = 1;
    EXPECT_THROW(p.Timer1_Timer(), app::ProgramEnded);
    EXPECT_EQ(cycles, 1);
    EXPECT_TRUE(appears(w.home.path() + "/UpDateSyn.exe.started"));
    EXPECT_FALSE(p.run.Syn_Run);
    EXPECT_EQ(w.endedAtOnce, 1);
}

TEST(Window, FontSettingReachesTheCheckBoxesAndTheFiveCaptionsAndThePunchGridIsDrawn)
{
    ensureApplication();
    AppWorld w;
    w.setVeld(QStringLiteral("SaveInFont1"), QStringLiteral("DejaVu Serif"));
    w.program = std::make_unique<Program>(w.options());
    Program& p = *w.program;
    app::MainWindow window(p, false);  // built before the load, as the executable does
    p.Form1_Form_Load();

    const QList<QCheckBox*> boxes = window.findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 4);
    for (QCheckBox* box : boxes)
        EXPECT_EQ(box->font().family(), "DejaVu Serif") << box->text().toStdString();
    int captions = 0;
    for (QLabel* l : window.findChildren<QLabel*>()) {
        if (l->text() == p.ui.Label3.text(6)) {
            EXPECT_NE(l->font().family(), "DejaVu Serif") << "the status line keeps its typeface";
        }
        for (int i : {2, 3, 4, 5, 8})
            if (l->text() == p.ui.Label3.text(i)) {
                EXPECT_EQ(l->font().family(), "DejaVu Serif") << l->text().toStdString();
                ++captions;
            }
    }
    EXPECT_EQ(captions, 5);

    EXPECT_NE(window.findChild<QTableView*>(p.devices->MSFG3.name()), nullptr);
    EXPECT_EQ(p.ctx.devices, p.devices.get());
}

}  // namespace
}  // namespace tarvelo::test
