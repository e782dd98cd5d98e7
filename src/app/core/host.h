#pragma once
#include "data/settings_store.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class QSocketNotifier;

namespace tarvelo::app {

// The per-user single-instance rule: an exclusive lock on a file in a folder only the user can
// write (the runtime folder, else the settings folder), one per settings folder (so two branch
// set-ups of one user do not exclude each other). The kernel drops the lock on any exit, a crash
// included; the file is removed when the holder lets go.
class InstanceLock {
public:
    explicit InstanceLock(const QString& settingsBase);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process holds the lock (now or already); false when another process does,
    // or when the file is not this user's (refusal() then says why).
    bool acquire();
    // Why the lock was refused: a file or folder of another user; empty otherwise.
    const QString& refusal() const { return refusal_; }
    // Removes the file and lets go of the lock; also before an exit that runs no destructors.
    void release();
    const QString& path() const { return path_; }

private:
    QString path_;
    QString refusal_;
    int fd_ = -1;
};

// A warning when the file at `path` (holding a password) is readable by others; a file of this
// user is then made readable by its owner only, and the warning says so. Empty when all is well.
QString keepPasswordFilePrivate(const QString& path, bool makePrivate);

// The settings store of the program: the per-user INI files, created readable by their owner
// only, since the local database's password lives among them. A write that cannot reach its
// file throws std::runtime_error.
class PrivateSettingsStore : public data::SettingsStore {
public:
    explicit PrivateSettingsStore(QString baseDir);
    const data::IniSettingsStore& files() const { return ini_; }

    QString read(const QString& application, const QString& section, const QString& key) const override;
    bool write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

private:
    data::IniSettingsStore ini_;
    QString base_;
};

// Creates `path` (and its folder) readable and writable by its owner only, unless it exists.
// False when it could not.
bool createPrivateFile(const QString& path);

// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the event loop: the handler only writes
// one byte into a pipe; everything else runs on the UI thread.
class StopSignals : public QObject {
    Q_OBJECT
public:
    StopSignals();
    ~StopSignals() override;
    // SIGUSR1 as well, for a screenshot.
    static bool install();

    // The read end of a pipe that receives one byte per stop signal, for the stop watchdog.
    static int watchFd();

signals:
    void stopRequested(int signal);
    void screenshotRequested();

private:
    void drain();
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Bounds a stop: when a stop signal has not ended the process within `grace` (the UI thread held
// in a database call by a hung server runs no events), runs `overdue` on its own thread; the
// caller's `overdue` does the last writes and ends the process.
class StopWatchdog {
public:
    StopWatchdog(std::chrono::milliseconds grace, std::function<void()> overdue);
    ~StopWatchdog();
    StopWatchdog(const StopWatchdog&) = delete;
    StopWatchdog& operator=(const StopWatchdog&) = delete;

private:
    void run();
    std::chrono::milliseconds grace_;
    std::function<void()> overdue_;
    int quit_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace tarvelo::app
