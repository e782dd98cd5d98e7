#pragma once
#include "app/core/config.h"
#include "app/core/host.h"
#include "app/autorun.h"
#include "app/core/window_model.h"
#include "app/download_window_model.h"
#include "app/updates.h"
#include "data/activity_log.h"
#include "data/database.h"
#include "data/error_log.h"
#include "data/reachability.h"
#include "data/run_state.h"
#include "data/web_service.h"
#include "devices/devices.h"
#include "records/records_state.h"
#include "records/table_list.h"
#include "sync/sync_state.h"

#include <QDateTime>
#include <QObject>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace tarvelo::app {

// The program's own version.
struct Version {
    int major, minor, revision;
};
inline constexpr Version kVersion{1, 0, 0};
QString versionText(Version v);     // "01.00.00"
QString versionCaption(Version v);  // "1.0.0"

// Texts the program shows.
inline const QString kStopped = QStringLiteral("المزامنة متوقفة");
inline const QString kIdle = QStringLiteral("النظام خامل");
inline const QString kSyncing = QStringLiteral("جاري مزامنة البيانات ...");
inline const QString kRetryMessage = QStringLiteral("المحاولة القادمة بعد دقيقة");
inline const QString kStartingNow = QStringLiteral("Starting Now ...");
inline const QString kTitle = QStringLiteral("مزامنة الفروع ");
// The echo check cannot send: the program lacks the raw-socket capability (the log says how to grant it).
inline const QString kNoEchoPermission = QStringLiteral("البرنامج لا يملك صلاحية فحص الاتصال بالسيرفر، التفاصيل في السجل");

// Thrown when the hook that ends the process at once returned (only tests let it return);
// every handler of the program lets it pass.
struct ProgramEnded {};

struct ProgramOptions {
    ProgramConfig config;
    QString settingsBase;   // the settings store's folder; empty: ${XDG_CONFIG_HOME:-~/.config}
    QString programFolder;  // where the updaters go, and the logon entry points
    QString stateFolder;    // where Save_Code.txt and the reason log go; empty: programFolder
    data::EventPump pump;   // lets pending window events run
    // Ends the process at once, without the exit steps. Must not return (tests' hooks may: the
    // program then throws ProgramEnded).
    std::function<void()> endAtOnce;
    // Ends the event loop after the exit or unload steps.
    std::function<void()> quit;
    // True when another copy of the program already runs; empty: the per-user lock decides.
    std::function<bool()> otherCopyRunning;
    data::Reachability* reachability = nullptr;  // empty: the program's own
    // Shows a failure with an OK button (the logon entry's); empty: only the message log has it.
    std::function<void(const QString&)> messageBox;
    QString autostartBase;  // the logon entry's config folder; empty: ${XDG_CONFIG_HOME:-~/.config}
    devices::DeviceSdk* deviceSdk = nullptr;     // empty: the device layer over TCP
    std::function<void(sync::SyncContext&)> cycle;  // empty: the engine's Syn_Cycle
    std::function<QDateTime()> clock;               // empty: the machine's local clock
    std::chrono::milliseconds webTimeout = data::HttpClient::DefaultTimeout;
};

// The program's own state, beside the engine's.
struct AppState {
    qint32 Sleep_Left = 0;   // seconds before the next cycle
    qint16 Retry_Cnt = 0;    // ticks of the retry timer
    qint32 Cnt_Cycle = 0;    // bookkeeping calls since the last full rescan
    QString Syn_FromD, Syn_ToD;
    QString Riv_Local;       // the local database's revision, six digits
    QString No_Dat_Loc;
    bool Exit_On = false;
    bool Loading = false;
    bool Cmd44_Flag = false;
    bool ended = false;          // the exit or unload steps ran
    qint32 startups = 0;         // start-ups begun, for diagnosis
    qint32 cycles = 0;           // cycles run
};

// How the start-up checks ended. A failed check carries the report the retry makes and, where no
// lower layer has said it already, the reason line naming what to fix.
struct StartUpResult {
    enum class End { Passed, Stopped, Failed, Updating };
    End end = End::Passed;
    qint16 number = 0;   // the report's number
    QString title;       // the report's title
    int picture = -1;    // the status line's picture; -1: the status line is left as it is
    QString status;      // the status line's text
    QString field16;     // the report's field 16; null: left as it is
    QString step, reason, check;  // the reason line; empty step: none

    static StartUpResult passed() { return {}; }
    static StartUpResult stopped() { return ending(End::Stopped); }
    static StartUpResult updating() { return ending(End::Updating); }
    static StartUpResult ending(End e)
    {
        StartUpResult r;
        r.end = e;
        return r;
    }
    static StartUpResult failed(qint16 number, QString title, int picture, QString status, QString field16)
    {
        return {End::Failed, number, std::move(title), picture, std::move(status), std::move(field16), {}, {}, {}};
    }
    StartUpResult& because(QString why, QString setting, QString inStep = QStringLiteral("start-up check"))
    {
        step = std::move(inStep);
        reason = std::move(why);
        check = std::move(setting);
        return *this;
    }
};

// Owns every state object and model of the program and holds its logic; the window only draws
// the models and forwards clicks. Everything runs on one thread.
class Program : public QObject, public data::ServerFailureSink {
    Q_OBJECT
public:
    explicit Program(ProgramOptions options);
    ~Program() override;

    // The load of the main window, ending with the press of the start button. False when the
    // program is to end at once (a second copy).
    bool Form1_Form_Load();

    // Status line and tray icon.
    void MsgboxViw(qint16 picture, const QString& text) override;
    void Report_Error(qint16 retryOnly, qint16 errorNumber, qint16 kind, const QString& title) override;

    // Clicks and events of the window.
    void Bott1_Click(int index);
    void Command44_Click(int index);
    void Command4_Click();  // the start/stop toggle
    void Check_Click(CheckBoxModel& box, int value);  // the user changed a box
    void trayActivated();                            // left button released on the icon
    void Form_Unload();

    // The unload's settings writes for a stop the UI thread did not honour in time (held in a
    // database call by a hung server); runs on another thread, which ends the process afterwards.
    // When the window's own exit or unload has begun, only waits up to a second for it to finish.
    void overdueStop();

    // Timers.
    void Timer1_Timer();
    void Timer4_Timer();

    // The cycle bookkeeping: 0 after a start-up, 1 after a cycle.
    void Syn_Statistic(qint16 Mode);

    QDateTime now() const;

    // State, in the order the context refers to it.
    ProgramOptions options;
    data::RunState run;
    data::LampsModel lamps;
    data::ErrorLog errors;
    PrivateSettingsStore settings;
    data::Database db;
    data::WebService web;
    records::TableList tables;
    data::ActivityLogs logs;
    records::BranchSettings branch;
    records::RecordsetVars vars;
    sync::SyncState sync;
    sync::SyncWindow window;
    MainWindowModel ui;
    AppState app;
    sync::SyncContext ctx;
    InstanceLock lock;
    DownloadWindowModel Form2;
    AutoRun autoRun;
    Updates updates;
    records::RecordsContext recordsCtx;
    std::unique_ptr<devices::Devices> devices;

private:
    void Syn_Click_S();
    // Starts synchronisation, or, while a cycle runs, as soon as it has returned.
    void start();
    // The start-up, and again as long as a start waits for the one that ended.
    void startUp();
    // Whether anything runs that the event pump may have re-entered: a start-up or a cycle tick.
    bool running() const { return sync.Branch_Lock.phase() != sync::BranchLock::Phase::Idle; }
    void stop();
    StartUpResult startUpChecks();
    StartUpResult checkServerClock();
    StartUpResult checkLocalProject();
    StartUpResult checkRevision();
    StartUpResult checkEcho();
    StartUpResult beginSynchronising();
    // The start-up's writes to the branch database: its statistics row and notice, and the
    // database number; all of them wait until this copy holds the branch database's lock.
    void startBooks();
    void reportStartUpFailure(const StartUpResult& failure);
    // A progress text: while a database connection failure is unresolved its text stays instead.
    void showProgress(qint16 picture, const QString& text);
    void armRetry();
    void setCheck(CheckBoxModel& box, int value);
    void Show_AutoRun();
    // The settings the exit button, the unload and the overdue stop leave behind, each written on
    // its own through `write`: the hand-over answer or ClosSyn, then the check boxes.
    void writeClosingSettings(bool exitButton, const std::function<void(const QString&, const QString&)>& write);
    void closingWriteOnUiThread(const QString& key, const QString& value);
    void endAtOnce();
    void endLoop();
    // Only the first of the exit button, a close, a signal or an overdue stop runs the last writes.
    bool claimUnload() { return !unloadClaimed_.exchange(true); }
    void finishUnload();
    // Runs one handler step: a failure is logged under `code` and the program goes on.
    void guarded(const char* code, const std::function<void()>& step);
    void pumpEvents();
    // What a request runs while it waits: window events, and the caller's end of a hand-over run.
    void waitPump();

    UpdateHost updateHost();

    std::unique_ptr<data::Reachability> ownReachability_;
    std::unique_ptr<devices::TcpDeviceSdk> ownDeviceSdk_;
    qint64 lastHandOverCheck_ = 0;
    std::atomic<bool> unloadClaimed_{false};
    std::atomic<bool> unloadDone_{false};
};

// Whole hours between two local times as a calendar counts them: hour boundaries crossed.
qint64 hourBoundaries(const QDateTime& from, const QDateTime& to);

}  // namespace tarvelo::app
