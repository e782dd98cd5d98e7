#pragma once
#include "app/download_window_model.h"
#include "data/database.h"
#include "data/error_log.h"
#include "data/http_client.h"
#include "data/run_state.h"
#include "data/settings_store.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <functional>

namespace tarvelo::app {

// What the update flows need of the main window.
struct UpdateHost {
    data::EventPump pump;                                  // lets window events run
    std::function<void(const QString&)> Add_LogMsg;        // a message-log row
    // Switches synchronisation off as the stop button does (Syn_Run = True, then Command4_Click).
    std::function<void()> stopSynchronisation;
    // Ends the process at once, without the unload steps.
    std::function<void()> endProgram;
    std::function<QString()> Riv_Local;                    // the local database's six-digit revision
    std::function<data::DbSettings()> localDatabase;       // as Read_DB_Set read them
    std::function<QDateTime()> now;                        // empty: the machine's clock
};

struct UpdateOptions {
    QString programFolder;      // where the updaters stand; empty: the executable's folder
    QString runningVersion;     // six digits, see versionDigits(); empty: the application's version
    std::chrono::milliseconds requestTimeout = data::HttpClient::DefaultTimeout;
    std::chrono::milliseconds stallTimeout{60000};  // a download that brings nothing for this long fails
};

// This program's self-update and the accounting application's update with its download.
class Updates {
public:
    // A failed download of the offered update is not tried again sooner.
    static constexpr qint64 DownloadRetrySeconds = 3600;
    static constexpr qsizetype ProgressStep = 1024;

    Updates(data::RunState& run, data::SettingsStore& settings, data::ErrorLog& errorLog, DownloadWindowModel& Form2,
            UpdateHost host, UpdateOptions options = {});

    // Asks VerNumSyn.php; when a higher version is offered, starts "UpDateSyn.exe" and only then
    // switches synchronisation off and ends the program. Anything else goes on silently, except a
    // failed updater start, which is logged.
    void Check_UpDateSyn();

    // Asks VerNum.php; true when the accounting application is older than the version offered.
    bool Check_UpDate();

    // Hands the settings over, downloads Name_File into the program's folder and starts it, then
    // ends the program. False (window closed, reason logged, no updater started) when any step failed.
    bool cmdDownload_Click(const QString& Name_File, qint16 kin);

    // Steps 2 and 3 of the cycle tick: true when the tick must end here without a cycle. A failed
    // download is logged and the cycle runs; the download is tried again an hour later at the
    // earliest (or at the next start of the program).
    bool cycleTickUpdates();

    // False while a failed download of the offered update is less than an hour old.
    bool downloadDue() const;

    // Downloads url into localPath; false with the reason when the whole file did not arrive.
    bool Download_File(const QString& url, const QString& localPath, QString* why = nullptr);

    const QString& programFolder() const { return folder_; }

    QString Ver_Server;  // the newest version the web service reported
    QString Ver_Path;    // the downloads sub-folder of the offered version, or empty
    data::HttpClient Inet4;  // VerNumSyn.php
    data::HttpClient Inet7;  // VerNum.php

private:
    void pump() const;
    void log(const QString& text) const;
    bool failDownload(const QString& why);
    bool writeHandOver();
    QDateTime now() const;

    data::RunState& run_;
    data::SettingsStore& settings_;
    data::ErrorLog& errorLog_;
    DownloadWindowModel& Form2_;
    UpdateHost host_;
    UpdateOptions options_;
    QString folder_;
    QDateTime lastFailedDownload_;
};

// major, minor and revision as two digits each: 1.1.18 gives "010118".
QString versionDigits(int major, int minor, int revision);

// folder and name with exactly one "/" between them.
QString joinPath(const QString& folder, const QString& name);

// Starts a program of the program's folder in the background, its output discarded. False with
// the reason when it is missing, not executable or could not be started.
bool startDetached(const QString& path, const QString& workingDir, QString* why);

}  // namespace tarvelo::app
