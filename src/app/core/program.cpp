#include "app/core/program.h"

#include "app/core/outages.h"
#include "sync/engine.h"
#include "sync/links.h"

#include <QThread>

#include <stdexcept>

namespace tarvelo::app {

namespace {

const QString kApp = QStringLiteral("Tarvelo");
const QString kVeld = QStringLiteral("Veld");
const QString kSettings = QStringLiteral("Settings");
// Seconds before a copy that found another one synchronising its branch database tries again.
constexpr qint32 kBranchBusySleep = 60;

// A setting's numeric value as a check box takes it: anything but a non-zero number is 0.
int boxValue(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok && v != 0 ? 1 : 0;
}

}  // namespace

QString versionText(Version v)
{
    return QStringLiteral("%1.%2.%3")
        .arg(v.major, 2, 10, QChar(u'0'))
        .arg(v.minor, 2, 10, QChar(u'0'))
        .arg(v.revision, 2, 10, QChar(u'0'));
}

QString versionCaption(Version v)
{
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

qint64 hourBoundaries(const QDateTime& from, const QDateTime& to)
{
    const QDateTime a(from.date(), QTime(from.time().hour(), 0));
    const QDateTime b(to.date(), QTime(to.time().hour(), 0));
    return a.secsTo(b) / 3600;
}

Program::Program(ProgramOptions o)
    : options(std::move(o)),
      errors(options.stateFolder.isEmpty() ? options.programFolder : options.stateFolder),
      settings(options.settingsBase.isEmpty() ? data::IniSettingsStore::defaultBaseDir() : options.settingsBase),
      db(run, lamps, options.pump, this),
      web(run, errors, options.pump, options.webTimeout),
      logs(run, [this] { return tables.Tab_Index; }, options.clock),
      ctx{run,    db,     web,   logs,           errors, settings, tables, branch, vars, sync, window,
          options.pump, [this] { endAtOnce(); }, nullptr, options.clock},
      lock(options.settingsBase.isEmpty() ? data::IniSettingsStore::defaultBaseDir() : options.settingsBase),
      Form2(options.pump),
      autoRun(options.messageBox, options.autostartBase),
      updates(run, settings, errors, Form2, updateHost(),
              UpdateOptions{options.programFolder, versionDigits(kVersion.major, kVersion.minor, kVersion.revision),
                            options.webTimeout}),
      recordsCtx(ctx.records())
{
    run.config = options.config.startup;
    db.reasonLog = &errors;
    web.isDetailTable = sync::isDetailTable;
    logOutagesInMessages(*this);
    db.localSettingsFile = settings.files().filePath(kVeld);
    // Requests wait with the window's events running, so a click, a close or a signal is handled.
    for (data::HttpClient* client : {&web.Inet1, &web.Inet3, &web.Inet8, &updates.Inet4, &updates.Inet7})
        client->setPump([this] { waitPump(); });
    if (!options.reachability) {
        ownReachability_ = std::make_unique<data::Reachability>();
        options.reachability = ownReachability_.get();
    }
    if (!options.deviceSdk) {
        ownDeviceSdk_ = std::make_unique<devices::TcpDeviceSdk>();
        options.deviceSdk = ownDeviceSdk_.get();
    }
    devices = std::make_unique<devices::Devices>(devices::DevicesContext{
        recordsCtx, logs, errors, *options.reachability, *options.deviceSdk, options.pump, {}, options.clock});
    ctx.devices = devices.get();
    if (!options.cycle)
        options.cycle = [](sync::SyncContext& c) { sync::Syn_Cycle(c); };
    for (const char* n : {"5", "10", "20", "50", "100", "150", "200", "300", "500", "1000"})
        ui.Combo1.append(QString::fromLatin1(n));
    const char* captions[] = {"فترة المزامنة : ", nullptr, "رقم الفرع : ", "قاعدة السيرفر : ",
                              "القاعدة المحلية : ", "اخر تحديث :", nullptr, nullptr, "بدء المزامنة :"};
    for (int i = 0; i < 9; ++i)
        if (captions[i])
            ui.Label3.setText(i, QString::fromUtf8(captions[i]));
    ui.Label8.setText(1, QStringLiteral("False"));
}

Program::~Program() = default;

UpdateHost Program::updateHost()
{
    UpdateHost host;
    host.pump = [this] { pumpEvents(); };
    host.Add_LogMsg = [this](const QString& m) { logs.Add_LogMsg(m); };
    host.stopSynchronisation = [this] { stop(); };
    host.now = [this] { return now(); };
    host.endProgram = [this] { endAtOnce(); };
    host.Riv_Local = [this] { return app.Riv_Local; };
    host.localDatabase = [this] { return db.localSettings(); };
    return host;
}

QDateTime Program::now() const
{
    return options.clock ? options.clock() : QDateTime::currentDateTime();
}

void Program::pumpEvents()
{
    if (options.pump)
        options.pump();
}

void Program::waitPump()
{
    pumpEvents();
    // A hand-over run's caller may end it while a request waits, not only before a cycle.
    if (sync.Name_Tab.isEmpty() || app.ended || sync.Program_Ended)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (qAbs(now - lastHandOverCheck_) < 1000)
        return;
    lastHandOverCheck_ = now;
    sync::Check_ClosSyn(ctx);
}

void Program::guarded(const char* code, const std::function<void()>& step)
{
    try {
        step();
    } catch (const ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        errors.failure(QString::fromLatin1(code));
        logs.Add_LogMsg(QStringLiteral("Error %1: %2").arg(QString::fromLatin1(code), QString::fromLocal8Bit(e.what())));
    } catch (...) {
        errors.failure(QString::fromLatin1(code));
        logs.Add_LogMsg(QStringLiteral("Error %1").arg(QString::fromLatin1(code)));
    }
}

void Program::endAtOnce()
{
    if (options.endAtOnce)
        options.endAtOnce();
    throw ProgramEnded{};
}

void Program::endLoop()
{
    app.ended = true;
    run.Syn_Run = false;
    if (options.quit)
        options.quit();
}

// ---- load ------------------------------------------------------------------------------------

bool Program::Form1_Form_Load()
{
    window.Label7.setText(QString());
    ui.Combo3.clear();
    ui.Combo3.append(QStringLiteral("All"));
    ui.Combo3.setCurrentIndex(0);
    errors.Save_Code(data::startLine(now()));
    errors.Save_Code(data::kinProLine(5));
    ui.Label3.setText(9, versionText(kVersion));
    Read_Fonts([this](const QString& name, int index) { return ui.fontTarget(name, index); }, settings);
    window.ImgSav.setVisible(false);
    window.ImgLoa.setVisible(false);

    // Hand-over and single instance. A hand-over run holds the lock too, so that a copy started
    // on its own meanwhile ends.
    sync.Name_Tab = settings.read(kApp, kSettings, QStringLiteral("NameTab"));
    const bool alone = options.otherCopyRunning ? !options.otherCopyRunning() : lock.acquire();
    if (!sync.Name_Tab.isEmpty()) {
        guarded("SYN032", [&] {
            settings.write(kApp, kSettings, QStringLiteral("NameTab"), QString());
            settings.write(kApp, kSettings, QStringLiteral("ClosSyn"), QStringLiteral("1"));
        });
        ui.visible.set(false);
    } else if (!alone) {
        errors.reason(QStringLiteral("start"), "another copy of the program runs with these settings: it holds the lock file "
                          + lock.path(), QStringLiteral("that copy's window or tray icon; this copy ends"));
        endAtOnce();
        return false;
    }

    if (settings.read(kApp, kSettings, QStringLiteral("Check4")).isEmpty()) {
        setCheck(ui.Check3, 1);
        setCheck(ui.Check1, 1);
        setCheck(ui.Check5, 1);
    } else {
        setCheck(ui.Check3, boxValue(settings.read(kApp, kSettings, QStringLiteral("Check3"))));
        setCheck(ui.Check1, boxValue(settings.read(kApp, kSettings, QStringLiteral("Check1"))));
        setCheck(ui.Check5, boxValue(settings.read(kApp, kSettings, QStringLiteral("Check5"))));
    }
    Show_AutoRun();
    ui.Combo1.setCurrentIndex(0);
    if (sync.Name_Tab.isEmpty())
        ui.visible.set(true);
    ui.caption.setText(kTitle + versionCaption(kVersion));
    logs.Grid_Head_Syn();
    logs.Grid_Head_Msg();
    logs.Grid_Head_Pull();
    db.Read_DB_Set(settings);
    for (int k = 0; k < sync::ProgressModel::Bars; ++k) {
        window.LabD.setBarWidth(k, 0);
        window.LabD.setMarkerLeft(k, -50);
    }
    MsgboxViw(2, QString());
    Bott1_Click(0);
    return true;
}

// ---- status line and tray --------------------------------------------------------------------

void Program::MsgboxViw(qint16 picture, const QString& text)
{
    ui.Label3.setText(6, text);
    if (sync.Name_Tab.isEmpty())
        ui.tray.replace(picture, text);
}

void Program::trayActivated()
{
    if (!sync.Name_Tab.isEmpty())
        return;
    ui.visible.set(true);
    ui.restoreRequested.set(true);
    ui.restoreRequested.set(false);
}

void Program::setCheck(CheckBoxModel& box, int value)
{
    if (box.value() == value)
        return;
    box.setValue(value);
    if (&box == &ui.Check5) {
        ui.visible.set(value != 1);
    } else if (&box == &ui.Check4 && !app.Loading) {
        guarded("SYN033", [&] { autoRun.Check4_Click(QStringLiteral("tarvelo"), updates.programFolder(), value == 1); });
    }
}

void Program::Check_Click(CheckBoxModel& box, int value)
{
    guarded("SYN033", [&] { setCheck(box, value); });
}

void Program::Show_AutoRun()
{
    app.Loading = true;
    // The flag must come down whatever happens, or clicks on the box would change nothing.
    struct Lower {
        bool& flag;
        bool& entryFlag;
        ~Lower() { flag = entryFlag = false; }
    } lower{app.Loading, autoRun.Loading};
    guarded("SYN033", [&] {
        autoRun.Show_AutoRun(QStringLiteral("tarvelo"), [this](bool on) { setCheck(ui.Check4, on ? 1 : 0); });
    });
}

// ---- buttons, exit and unload ----------------------------------------------------------------

void Program::Bott1_Click(int index)
{
    guarded("SYN034", [&] {
        switch (index) {
        case 0:
            if (sync.Branch_Lock.phase() == sync::BranchLock::Phase::Tick)
                run.Syn_Run = false;  // stop the cycle at its next check; the start follows the tick
            start();
            break;
        case 1:
            stop();
            break;
        case 2:
            ui.visible.set(false);
            break;
        case 3:
            if (app.ended || !claimUnload())
                return;
            writeClosingSettings(true, [this](const QString& k, const QString& v) { closingWriteOnUiThread(k, v); });
            app.Exit_On = true;
            pumpEvents();
            ui.tray.remove();
            pumpEvents();
            finishUnload();
            break;
        default:
            break;
        }
    });
}

void Program::Command44_Click(int index)
{
    if (index == 0) {
        Bott1_Click(0);
        return;
    }
    app.Cmd44_Flag = !app.Cmd44_Flag;
    ui.Label8.setText(1, app.Cmd44_Flag ? QStringLiteral("True") : QStringLiteral("False"));
}

void Program::writeClosingSettings(bool exitButton, const std::function<void(const QString&, const QString&)>& write)
{
    if (sync.Name_Tab.isEmpty())
        write(QStringLiteral("ClosSyn"), QStringLiteral("0"));
    else if (!exitButton)
        write(sync.Name_Tab + "_In", QStringLiteral("0"));
    // The exit button saved the boxes already when the window's unload follows it.
    if (!exitButton && app.Exit_On)
        return;
    const std::pair<const char*, CheckBoxModel*> boxes[] = {
        {"Check4", &ui.Check4}, {"Check3", &ui.Check3}, {"Check1", &ui.Check1}, {"Check5", &ui.Check5}};
    for (const auto& [key, box] : boxes)
        write(QString::fromLatin1(key), QString::number(box->value()));
}

void Program::closingWriteOnUiThread(const QString& key, const QString& value)
{
    // Each value on its own: one failed write must not keep the others or the exit back.
    guarded("SYN035", [&] { settings.write(kApp, kSettings, key, value); });
    pumpEvents();
}

void Program::Form_Unload()
{
    if (app.ended || !claimUnload())
        return;
    writeClosingSettings(false, [this](const QString& k, const QString& v) { closingWriteOnUiThread(k, v); });
    if (!app.Exit_On)
        ui.tray.remove();
    pumpEvents();
    finishUnload();
}

void Program::finishUnload()
{
    unloadDone_ = true;
    // Inside a start-up or a cycle the event loop comes back only when their waits are over, and
    // they would go on asking the database and the web service: the last writes are done, end now.
    if (running()) {
        app.ended = true;
        run.Syn_Run = false;
        endAtOnce();
    }
    endLoop();
}

void Program::overdueStop()
{
    if (!claimUnload()) {
        for (int i = 0; i < 100 && !unloadDone_; ++i)
            QThread::msleep(10);
        return;
    }
    // No models, logs or pumps here: they belong to the stuck UI thread. Only the settings files.
    writeClosingSettings(false, [this](const QString& key, const QString& value) {
        try {
            settings.write(kApp, kSettings, key, value);
        } catch (const std::exception&) {
            errors.failure(QStringLiteral("SYN035"));
        }
    });
    unloadDone_ = true;
}

// ---- cycle timer and tick --------------------------------------------------------------------

void Program::Timer1_Timer()
{
    if (!ui.Timer1.isOn() || running() || unloadClaimed_)
        return;
    guarded("SYN038", [&] {
        window.Text4567.setText(QStringLiteral("Timer11"));
        if (run.Syn_Stop) {
            ui.Timer1.set(false);
            return;
        }
        if (run.Syn_Run) {
            --app.Sleep_Left;
            window.Label7.setText(app.Sleep_Left <= 0 ? kStartingNow
                                                      : "Sleeping For " + QString::number(app.Sleep_Left));
            window.Text4567.setText(QStringLiteral("Timer12"));
            if (app.Sleep_Left <= 0) {
                ui.Timer1.set(false);
                Syn_Click_S();
            }
        } else {
            window.Label2.setText(7, sync::kSynOff);
            ui.Timer1.set(false);
        }
    });
    // A start pressed during the tick, whichever way the tick left.
    if (sync.Branch_Lock.startDue() && !app.ended)
        guarded("SYN038", [&] { startUp(); });
}

void Program::Syn_Click_S()
{
    window.Text4567.setText(QStringLiteral("Syn_Click_S"));
    const quint64 failuresBefore = errors.reasons.failures();
    {
        sync.Branch_Lock.enter(sync::BranchLock::Phase::Tick);
        // Stopped during the tick, or no cycle follows it: the lock goes once the tick has
        // finished its row and its books holding it.
        struct Leave {
            Program& p;
            ~Leave() { p.sync.Branch_Lock.leave(p.db, p.ui.Timer1.isOn() && !p.run.Syn_Stop); }
        } leave{*this};

        if (updates.cycleTickUpdates())
            return;
        showProgress(0, QString());
        branch.Bra_Only = -1;
        if (!run.Syn_Run) {
            MsgboxViw(2, kStopped);
            return;
        }
        showProgress(1, QStringLiteral("صلاحيات الفرع ..."));
        showProgress(1, kSyncing);
        // Whatever leaves the cycle, the bookkeeping and the next sleep still follow.
        guarded("SYN031", [&] {
            // An error that ended the cycle is an outage like a failed request: the window says so.
            const QString check = QStringLiteral("Save_Code.txt (SYN031); the next cycle starts again");
            try {
                options.cycle(ctx);
            } catch (const ProgramEnded&) {
                throw;
            } catch (const std::exception& e) {
                errors.reason(kCycleStep, QString::fromLocal8Bit(e.what()), check);
                throw;
            } catch (...) {
                errors.reason(kCycleStep, QStringLiteral("an error of unknown kind"), check);
                throw;
            }
            errors.reasons.works(kCycleStep);
        });
        ++app.cycles;
        if (app.ended)
            return;
        if (sync.Branch_Lock.busy()) {
            // Another copy synchronises this branch database: nothing of ours to count; try later.
            MsgboxViw(2, sync::kBranchBusy);
            app.Sleep_Left = kBranchBusySleep;
        } else {
            if (sync.Branch_Lock.booksOwed() && sync.Branch_Lock.held())
                startBooks();
            Syn_Statistic(1);
            if (!run.Syn_Run)
                MsgboxViw(2, kStopped);
            showCycleEnd(*this, failuresBefore);
        }
        ui.Timer1.set(true);
    }
}

}  // namespace tarvelo::app
