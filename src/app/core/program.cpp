#include "app/core/program.h"

#include "data/sql_text.h"
#include "records/notices.h"
#include "sync/engine.h"

#include <QCalendar>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <stdexcept>

namespace tarvelo::app {

namespace {

const QString kApp = QStringLiteral("Tarvelo");
const QString kVeld = QStringLiteral("Veld");
const QString kSettings = QStringLiteral("Settings");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kBranchSyn = QStringLiteral("branchsyn_tab");

// A setting's numeric value as a check box takes it: anything but a non-zero number is 0.
int boxValue(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok && v != 0 ? 1 : 0;
}

qint64 wholeNumber(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok ? qRound64(v) : 0;
}

// Two branch numbers compare as numbers when both are, else as texts.
bool sameBranch(const QString& a, const QString& b)
{
    bool okA = false, okB = false;
    const double x = a.trimmed().toDouble(&okA);
    const double y = b.trimmed().toDouble(&okB);
    if (okA && okB)
        return x == y;
    return a.trimmed() == b.trimmed();
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
      errors(options.programFolder),
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
    host.stopSynchronisation = [this] {
        run.Syn_Run = true;
        Command4_Click();
    };
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
    const QString version = versionText(kVersion);
    ui.Text7.setText(version);
    ui.Label3.setText(9, version);
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
    ui.Bott1Picture[0] = 1;
    ui.Bott1Picture[3] = 3;
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
            if (app.inStartup)
                return;  // the start-up under way is the start asked for
            if (app.inCycle) {
                // Stop the cycle at its next check and start when it has returned.
                run.Syn_Run = false;
                app.startDeferred = true;
                return;
            }
            run.Syn_Run = false;
            Command4_Click();
            break;
        case 1:
            run.Syn_Run = true;
            Command4_Click();
            break;
        case 2:
            ui.visible.set(false);
            break;
        case 3:
            if (app.ended || !claimUnload())
                return;
            if (sync.Name_Tab.isEmpty())
                guarded("SYN035", [&] { settings.write(kApp, kSettings, QStringLiteral("ClosSyn"), QStringLiteral("0")); });
            pumpEvents();
            app.Exit_On = true;
            saveCheckBoxes();
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

std::array<std::pair<const char*, CheckBoxModel*>, 4> Program::savedBoxes()
{
    return {{{"Check4", &ui.Check4}, {"Check3", &ui.Check3}, {"Check1", &ui.Check1}, {"Check5", &ui.Check5}}};
}

void Program::saveCheckBoxes()
{
    // Each value on its own: one failed write must not keep the others or the exit back.
    for (const auto& [key, box] : savedBoxes()) {
        guarded("SYN035", [&] {
            settings.write(kApp, kSettings, QString::fromLatin1(key), QString::number(box->value()));
        });
        pumpEvents();
    }
}

void Program::Form_Unload()
{
    if (app.ended || !claimUnload())
        return;
    guarded("SYN035", [&] {
        if (!sync.Name_Tab.isEmpty()) {
            pumpEvents();
            settings.write(kApp, kSettings, sync.Name_Tab + "_In", QStringLiteral("0"));
        } else {
            settings.write(kApp, kSettings, QStringLiteral("ClosSyn"), QStringLiteral("0"));
        }
    });
    if (!app.Exit_On) {
        saveCheckBoxes();
        pumpEvents();
        ui.tray.remove();
    }
    pumpEvents();
    finishUnload();
}

void Program::finishUnload()
{
    unloadDone_ = true;
    // Inside a start-up or a cycle the event loop comes back only when their waits are over, and
    // they would go on asking the database and the web service: the last writes are done, end now.
    if (app.inStartup || app.inCycle) {
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
    auto write = [this](const QString& key, const QString& value) {
        try {
            settings.write(kApp, kSettings, key, value);
        } catch (const std::exception&) {
            errors.failure(QStringLiteral("SYN035"));
        }
    };
    const QString handOver = sync.Name_Tab;
    if (!handOver.isEmpty())
        write(handOver + "_In", QStringLiteral("0"));
    else
        write(QStringLiteral("ClosSyn"), QStringLiteral("0"));
    if (!app.Exit_On)
        for (const auto& [key, box] : savedBoxes())
            write(QString::fromLatin1(key), QString::number(box->value()));
    unloadDone_ = true;
}

// ---- start and stop --------------------------------------------------------------------------

void Program::Command4_Click()
{
    if (run.Syn_Run) {
        stop();
        return;
    }
    if (app.inStartup)
        return;
    if (app.inCycle) {
        app.startDeferred = true;
        return;
    }
    startUp();
}

void Program::stop()
{
    run.Syn_Run = false;
    app.startDeferred = false;
    ui.Timer4.set(false);
    logs.Add_LogMsg(kStopped);
    MsgboxViw(2, kStopped);
    ui.Frame4.set(true);
    ui.Bott1[1].set(false);
    ui.Bott1[2].set(false);
}

void Program::startUp()
{
    app.inStartup = true;
    ++app.startups;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{app.inStartup};
    startUpChecks();
}

void Program::failStartUp(qint16 number, const QString& title, int picture, const QString& status,
                          const QString& field16)
{
    if (picture >= 0)
        MsgboxViw(qint16(picture), status);
    if (!field16.isNull())
        run.Err_Fields[16] = field16;
    Report_Error(0, number, 1, title);
}

bool Program::startUpChecks()
{
    run.Syn_Stop = false;
    logs.Add_LogMsg(QStringLiteral("اقلاع النظام"));
    ui.Bott1[1].set(true);
    ui.Bott1[2].set(true);
    ui.Frame4.set(false);
    run.Syn_Run = true;
    ui.Timer4.set(false);
    // The cycle timer comes back only when everything below has passed.
    ui.Timer1.set(false);

    logs.Add_LogMsg(QStringLiteral("التشييك على تحديث البرنامج"));
    MsgboxViw(0, QStringLiteral("تحديث البرنامج"));
    updates.Check_UpDateSyn();
    // After every wait: a stop pressed meanwhile ends the start-up quietly.
    if (!run.Syn_Run)
        return false;
    logs.Add_LogMsg(QStringLiteral("OK"));

    records::Fill_Syn_Tabs(tables, ui.Combo3);
    branch.Chk_Rec = 1;
    branch.Chk_Del = 1;
    sync.Syn_AllPass = 1;
    tables.setAllCounters(1);
    logs.Add_LogMsg(QStringLiteral("OK"));

    const QString preparing = QStringLiteral("جاري تجهيز المزامنة");
    MsgboxViw(0, preparing);
    window.Label2.setText(7, preparing);
    logs.Add_LogMsg(QStringLiteral("قراءة بيانات القاعدة المحلية"));
    MsgboxViw(0, QStringLiteral("بيانات القاعدة المحلية"));

    pumpEvents();
    const bool clockRead = web.Get_TimeDiff();
    if (!run.Syn_Run)
        return false;
    if (!clockRead) {
        const QString text = QStringLiteral("مشكلة في وقت السيرفر");
        failStartUp(3, QStringLiteral("Time Server"), 2, text, text);
        return false;
    }

    data::RecordsetVar& rs = vars.Rs_Target;
    const bool opened = db.Open_Tab_Loc(rs, QStringLiteral("Proj_Tab"));
    if (!run.Syn_Run)
        return false;
    if (!opened) {
        failStartUp(4, QStringLiteral("Local database connection"), 2, QStringLiteral("خطاء بالاتصال رقم1"),
                    QStringLiteral("خطاء باتصال القاعدة المحلية1"));
        return false;
    }
    if (rs->recordCount() == 0) {
        failStartUp(5, QStringLiteral("The local branch of the data is not registered"), 2,
                    QStringLiteral("الفرع غير مسجل"), QStringLiteral("بيانات الفرع المحلي غير مسجلة"));
        return false;
    }
    rs->moveFirst();
    if (!sameBranch(rs->text(u"branch"), run.config.My_Branch)) {
        failStartUp(6, QStringLiteral("Local branch is not compatible"), -1, QString(),
                    QStringLiteral("الفرع المحلي غير متوافق"));
        return false;
    }
    run.Syn_First = qint16(wholeNumber(rs->text(u"SynFirst")));
    const QString noRiv = rs->text(u"No_Riv");
    app.Riv_Local = noRiv.size() == 8 ? noRiv.mid(0, 2) + noRiv.mid(3, 2) + noRiv.mid(6, 2) : QStringLiteral("000000");
    const bool withNoDat = app.Riv_Local >= QStringLiteral("010218");
    if (withNoDat)
        app.No_Dat_Loc = rs->text(u"NoDat");
    run.Kin_Yer = rs->text(u"KinYer").right(2);

    const QString& server = run.config.Riv_Server;
    if (server > app.Riv_Local) {
        const bool offered = updates.Check_UpDate();
        if (!run.Syn_Run)
            return false;
        // A failed download is logged and leaves the report below, so the retry comes.
        if (offered && updates.downloadDue() && updates.cmdDownload_Click(QStringLiteral("Update4.exe"), 1))
            return false;
        const QString text = QStringLiteral("البرنامج يحتاج الى تحديث");
        failStartUp(9, QStringLiteral("Awaiting update lift"), 0, text, text);
        return false;
    }
    if (server < app.Riv_Local) {
        const QString text = QStringLiteral("القاعدة الحالية غير متوافقة");
        failStartUp(10, QStringLiteral("The server database is old"), 0, text, text);
        return false;
    }
    run.Err_Fields[8] = app.Riv_Local;
    pumpEvents();
    const bool echo = options.reachability->Ping_Host(run.config.Ip_Ser);
    if (!run.Syn_Run)
        return false;
    if (!echo) {
        failStartUp(12, "ip communication " + run.config.Ip_Ser, -1, QString(), QString());
        return false;
    }

    logs.Add_LogMsg(QStringLiteral("OK"));
    app.Sleep_Left = 0;
    window.Label2.setText(0, run.config.My_Branch);
    window.Label2.setText(1, run.config.DB_Name_Ser);
    window.Label2.setText(2, db.DB_Name_Loc);
    sync.Cnt_Send = -1;
    sync.Cnt_Rece = -1;
    sync.Cnt_Check = 0;
    logs.Add_LogMsg(QStringLiteral("بدء المزامنة"));
    MsgboxViw(0, QStringLiteral("الرجاء الانتظار ..."));
    Syn_Statistic(0);

    // The database number only when one is configured: an empty one must not blank the row's.
    const QString& noDat = options.config.No_Dat;
    if (withNoDat && !noDat.isEmpty() && noDat != app.No_Dat_Loc) {
        guarded("SYN036", [&] {
            bool ok = false;
            const qlonglong n = noDat.toLongLong(&ok);
            if (!ok)
                return;
            rs->setValue(u"NoDat", QStringLiteral("%1").arg(n, 2, 10, QChar(u'0')));
            rs->update();
        });
    }
    if (!run.Syn_Run)
        return false;
    ui.Timer1.set(true);
    return true;
}

// ---- failure report and retry ----------------------------------------------------------------

void Program::armRetry()
{
    ui.Timer4.set(true);
    logs.Add_LogMsg(kRetryMessage);
}

void Program::Report_Error(qint16 retryOnly, qint16 errorNumber, qint16 kind, const QString& title)
{
    if (retryOnly != 0) {
        ui.Timer1.set(false);
        armRetry();
        return;
    }
    logs.Add_LogMsg("Erorr " + title + " No=" + QString::number(errorNumber));
    for (int k = 0; k <= 17; ++k)
        if (run.Err_Fields[size_t(k)].isEmpty())
            run.Err_Fields[size_t(k)] = QStringLiteral("xxx");
    run.Err_Fields[17] = title;
    if (kind == 1) {
        if (unloadClaimed_)
            return;  // nothing is asked of the web service once the program is ending
        const QDateTime localNow = now();
        pumpEvents();
        const data::HttpReply reply = web.Inet1.getText(
            web.requestUrl(QStringLiteral("LastSendError.php"), {{QStringLiteral("NoDev"), run.config.No_Dev}}));
        if (!run.Syn_Run)
            return;  // stopped while asking
        const QString text = QString::fromUtf8(reply.body).trimmed();
        if (!reply.ok) {
            // The web service cannot be asked (network not up yet): retry, or nobody ever will.
            errors.failure(QStringLiteral("SYN014"));
            armRetry();
            return;
        }
        if (!text.isEmpty() && text != u"--") {
            const std::optional<QDateTime> last = data::parseServerTime(text);
            if (!last) {
                errors.failure(QStringLiteral("SYN014"));
                armRetry();
                return;
            }
            if (hourBoundaries(*last, localNow) < 6)
                return;
        }
    }
    armRetry();
}

void Program::Timer4_Timer()
{
    if (!ui.Timer4.isOn() || app.inStartup || app.inCycle || unloadClaimed_)
        return;
    guarded("SYN037", [&] {
        ++app.Retry_Cnt;
        window.Label7.setText("60 - " + QString::number(app.Retry_Cnt));
        if (app.Retry_Cnt >= 60) {
            window.Label7.setText(QString());
            app.Retry_Cnt = 0;
            run.Syn_Run = false;
            Command4_Click();
        }
    });
}

// ---- cycle timer and tick --------------------------------------------------------------------

void Program::Timer1_Timer()
{
    if (!ui.Timer1.isOn() || app.inStartup || app.inCycle || unloadClaimed_)
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
}

void Program::Syn_Click_S()
{
    window.Text4567.setText(QStringLiteral("Syn_Click_S"));
    {
        app.inCycle = true;
        struct Leave {
            bool& flag;
            ~Leave() { flag = false; }
        } leave{app.inCycle};

        if (updates.cycleTickUpdates())
            return;
        MsgboxViw(0, QString());
        branch.Bra_Only = -1;
        if (!run.Syn_Run) {
            MsgboxViw(2, kStopped);
            return;
        }
        MsgboxViw(1, QStringLiteral("صلاحيات الفرع ..."));
        MsgboxViw(1, QStringLiteral("جاري مزامنة البيانات ..."));
        // Whatever leaves the cycle, the bookkeeping and the next sleep still follow.
        guarded("SYN031", [&] { options.cycle(ctx); });
        ++app.cycles;
        if (app.ended)
            return;
        Syn_Statistic(1);
        if (!run.Syn_Run)
            MsgboxViw(2, kStopped);
        MsgboxViw(0, kIdle);
        ui.Timer1.set(true);
    }
    if (app.startDeferred && !app.ended) {
        app.startDeferred = false;
        run.Syn_Run = false;
        Command4_Click();
    }
}

// ---- statistics ------------------------------------------------------------------------------

void Program::Syn_Statistic(qint16 Mode)
{
    // Every step on its own: a failing one is skipped and the next runs.
    auto step = [this](const std::function<void()>& fn) { guarded("SYN015", fn); };

    if (Mode == 1) {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        const qint64 elapsed = QDateTime::fromString(app.Syn_FromD, kTimeFormat).secsTo(now());
        app.Syn_ToD = now().toString(kTimeFormat);
        if (sync.Cnt_Send > 0 || sync.Cnt_Rece > 0 || sync.Cnt_Check > 0 || run.Syn_First == 1)
            app.Sleep_Left = 0;
        else if (elapsed < 0 || elapsed > 120)
            app.Sleep_Left = 0;
        else
            app.Sleep_Left = qint32(120 - elapsed);
    } else {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        app.Sleep_Left = 0;
    }

    sync::Save_Syn_Statistic(ctx, Mode, app.Syn_FromD, app.Syn_ToD, app.Cnt_Cycle, step);
}

}  // namespace tarvelo::app
