// The start and stop of synchronisation: the start-up checks, their failure report and the retry.
#include "app/core/program.h"

#include "records/table_list.h"

#include <QCoreApplication>

namespace tarvelo::app {

namespace {

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

// ---- start and stop --------------------------------------------------------------------------

void Program::Command4_Click()
{
    if (run.Syn_Run)
        stop();
    else
        start();
}

void Program::start()
{
    if (sync.Branch_Lock.start())
        startUp();
}

void Program::stop()
{
    // Another copy may synchronise the branch meanwhile.
    sync.Branch_Lock.stop(db);
    run.Syn_Run = false;
    ui.Timer4.set(false);
    logs.Add_LogMsg(kStopped);
    MsgboxViw(2, kStopped);
    ui.Frame4.set(true);
    ui.Bott1[1].set(false);
    ui.Bott1[2].set(false);
}

void Program::startUp()
{
    sync::BranchLock& lock = sync.Branch_Lock;
    do {
        ++app.startups;
        lock.enter(sync::BranchLock::Phase::StartUp);
        bool passed = false;
        struct Leave {
            Program& p;
            const bool& passed;
            ~Leave() { p.sync.Branch_Lock.leave(p.db, passed); }
        } leave{*this, passed};
        const StartUpResult result = startUpChecks();
        passed = result.end == StartUpResult::End::Passed;
        if (result.end == StartUpResult::End::Failed) {
            // Nothing is synchronised while the retry waits: another copy may, meanwhile.
            lock.settle(db, false);
            reportStartUpFailure(result);
        }
    } while (lock.startDue() && !app.ended);
}

void Program::reportStartUpFailure(const StartUpResult& failure)
{
    if (!failure.step.isEmpty())
        errors.reason(failure.step, failure.reason, failure.check);
    if (failure.picture >= 0)
        MsgboxViw(qint16(failure.picture), failure.status);
    if (!failure.field16.isNull())
        run.Err_Fields[16] = failure.field16;
    Report_Error(0, failure.number, 1, failure.title);
}

void Program::showProgress(qint16 picture, const QString& text)
{
    if (db.serverFailed() || db.localFailed())
        return;
    MsgboxViw(picture, text);
}

StartUpResult Program::startUpChecks()
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
    showProgress(0, QStringLiteral("تحديث البرنامج"));
    updates.Check_UpDateSyn();
    // Each check waits on the web service, the database or the network: a stop pressed meanwhile
    // ends the start-up quietly, whatever the check found.
    for (StartUpResult (Program::*check)() : {&Program::checkServerClock, &Program::checkLocalProject,
                                              &Program::checkRevision, &Program::checkEcho,
                                              &Program::beginSynchronising}) {
        if (!run.Syn_Run)
            return StartUpResult::stopped();
        const StartUpResult result = (this->*check)();
        if (!run.Syn_Run)
            return StartUpResult::stopped();
        if (result.end != StartUpResult::End::Passed)
            return result;
    }
    ui.Timer1.set(true);
    errors.works(QStringLiteral("start-up check"));
    return StartUpResult::passed();
}

StartUpResult Program::checkServerClock()
{
    logs.Add_LogMsg(QStringLiteral("OK"));
    records::Fill_Syn_Tabs(tables, ui.Combo3);
    branch.Chk_Rec = 1;
    branch.Chk_Del = 1;
    sync.Syn_AllPass = 1;
    tables.setAllCounters(1);
    logs.Add_LogMsg(QStringLiteral("OK"));

    const QString preparing = QStringLiteral("جاري تجهيز المزامنة");
    showProgress(0, preparing);
    window.Label2.setText(7, preparing);
    logs.Add_LogMsg(QStringLiteral("قراءة بيانات القاعدة المحلية"));
    showProgress(0, QStringLiteral("بيانات القاعدة المحلية"));

    pumpEvents();
    if (web.Get_TimeDiff())
        return StartUpResult::passed();
    // The web layer has written why the request failed.
    const QString text = QStringLiteral("مشكلة في وقت السيرفر");
    return StartUpResult::failed(3, QStringLiteral("Time Server"), 2, text, text);
}

StartUpResult Program::checkLocalProject()
{
    data::RecordsetVar& rs = vars.Rs_Target;
    // A failed connection or select has written its reason in the data layer.
    if (!db.Open_Tab_Loc(rs, QStringLiteral("Proj_Tab")))
        return StartUpResult::failed(4, QStringLiteral("Local database connection"), 2,
                                     QStringLiteral("خطاء بالاتصال رقم1"), QStringLiteral("خطاء باتصال القاعدة المحلية1"));
    const QString veld = " in " + db.localSettingsFile;
    if (rs->recordCount() == 0)
        return StartUpResult::failed(5, QStringLiteral("The local branch of the data is not registered"), 2,
                                     QStringLiteral("الفرع غير مسجل"), QStringLiteral("بيانات الفرع المحلي غير مسجلة"))
            .because("the local database " + db.DB_Name_Loc + " has no row in proj_tab",
                     "SaveInName_Databes" + veld + " names the branch's database");
    rs->moveFirst();
    const QString rowBranch = rs->text(u"branch");
    if (!sameBranch(rowBranch, run.config.My_Branch))
        return StartUpResult::failed(6, QStringLiteral("Local branch is not compatible"), 2,
                                     QStringLiteral("الفرع المحلي غير متوافق"), QStringLiteral("الفرع المحلي غير متوافق"))
            .because("the local database " + db.DB_Name_Loc + " belongs to branch \"" + rowBranch
                         + "\" but My_Branch is \"" + run.config.My_Branch + "\"",
                     "My_Branch in " + run.config.file + ", or SaveInName_Databes" + veld);
    run.Syn_First = qint16(wholeNumber(rs->text(u"SynFirst")));
    const QString noRiv = rs->text(u"No_Riv");
    app.Riv_Local = noRiv.size() == 8 ? noRiv.mid(0, 2) + noRiv.mid(3, 2) + noRiv.mid(6, 2) : QStringLiteral("000000");
    if (app.Riv_Local >= QStringLiteral("010218"))
        app.No_Dat_Loc = rs->text(u"NoDat");
    run.Kin_Yer = rs->text(u"KinYer").right(2);
    return StartUpResult::passed();
}

StartUpResult Program::checkRevision()
{
    const QString& server = run.config.Riv_Server;
    const QString revisions = "the local database's revision is " + app.Riv_Local + ", Riv_Server is " + server;
    const QString check = "Riv_Server in " + run.config.file;
    if (server > app.Riv_Local) {
        const bool offered = updates.Check_UpDate();
        if (!run.Syn_Run)
            return StartUpResult::stopped();
        // A failed download is logged and leaves the report below, so the retry comes.
        if (offered && updates.downloadDue() && updates.cmdDownload_Click(QStringLiteral("Update4.exe"), 1))
            return StartUpResult::updating();
        const QString text = QStringLiteral("البرنامج يحتاج الى تحديث");
        return StartUpResult::failed(9, QStringLiteral("Awaiting update lift"), 0, text, text)
            .because(revisions + ": the local database awaits its update", check);
    }
    if (server < app.Riv_Local) {
        const QString text = QStringLiteral("القاعدة الحالية غير متوافقة");
        return StartUpResult::failed(10, QStringLiteral("The server database is old"), 0, text, text)
            .because(revisions + ": the server database is older", check);
    }
    run.Err_Fields[8] = app.Riv_Local;
    return StartUpResult::passed();
}

StartUpResult Program::checkEcho()
{
    pumpEvents();
    data::Reachability& echo = *options.reachability;
    const QString step = "echo check " + run.config.Ip_Ser;
    if (echo.Ping_Host(run.config.Ip_Ser)) {
        errors.works(step);
        return StartUpResult::passed();
    }
    if (echo.lastLackedSocket()) {
        // Nothing was sent: the host is not at fault, the program's permission is.
        const QString exe = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QStringLiteral("tarvelo");
        return StartUpResult::failed(12, "ip communication " + run.config.Ip_Ser, 2,
                                     kNoEchoPermission, QString())
            .because(echo.lastFailure(),
                     "the raw-socket capability cap_net_raw: as root run /usr/sbin/setcap cap_net_raw+ep " + exe
                         + " (or admit the user's group in net.ipv4.ping_group_range)",
                     step);
    }
    return StartUpResult::failed(12, "ip communication " + run.config.Ip_Ser, 2,
                                 QStringLiteral("السيرفر لا يرد على فحص الاتصال"), QString())
        .because(echo.lastFailure().isEmpty() ? QStringLiteral("no answer") : echo.lastFailure(),
                 "Ip_Ser in " + run.config.file + ", and that the host answers ping", step);
}

StartUpResult Program::beginSynchronising()
{
    logs.Add_LogMsg(QStringLiteral("OK"));
    app.Sleep_Left = 0;
    window.Label2.setText(0, run.config.My_Branch);
    window.Label2.setText(1, run.config.DB_Name_Ser);
    window.Label2.setText(2, db.DB_Name_Loc);
    sync.Cnt_Send = -1;
    sync.Cnt_Rece = -1;
    sync.Cnt_Check = 0;
    logs.Add_LogMsg(QStringLiteral("بدء المزامنة"));
    showProgress(0, QStringLiteral("الرجاء الانتظار ..."));
    startBooks();
    return StartUpResult::passed();
}

void Program::startBooks()
{
    Syn_Statistic(0);
    // Nor the database number without the lock, or once stopped.
    if (!sync.Branch_Lock.held() || !run.Syn_Run)
        return;
    // The database number only when one is configured: an empty one must not blank the row's.
    const QString& noDat = options.config.No_Dat;
    if (app.Riv_Local < QStringLiteral("010218") || noDat.isEmpty() || noDat == app.No_Dat_Loc)
        return;
    guarded("SYN036", [&] {
        bool ok = false;
        const qlonglong n = noDat.toLongLong(&ok);
        // The start-up's row, read again: a cycle may have used its recordset since.
        data::RecordsetVar rs;
        if (!ok || !db.Open_Tab_Loc(rs, QStringLiteral("Proj_Tab")) || rs->recordCount() == 0)
            return;
        rs->moveFirst();
        rs->setValue(u"NoDat", QStringLiteral("%1").arg(n, 2, 10, QChar(u'0')));
        rs->update();
    });
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
    if (!ui.Timer4.isOn() || running() || unloadClaimed_)
        return;
    guarded("SYN037", [&] {
        ++app.Retry_Cnt;
        window.Label7.setText("60 - " + QString::number(app.Retry_Cnt));
        if (app.Retry_Cnt >= 60) {
            window.Label7.setText(QString());
            app.Retry_Cnt = 0;
            start();
        }
    });
}

}  // namespace tarvelo::app
