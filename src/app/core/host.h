#pragma once
#include "data/settings_store.h"

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

namespace tarvelo::app {

// The per-user single-instance rule: an exclusive lock on a file in the user's runtime folder,
// one per settings folder (so two branch set-ups of one user do not exclude each other).
// The kernel drops the lock on any exit, a crash included.
class InstanceLock {
public:
    explicit InstanceLock(const QString& settingsBase);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process holds the lock (now or already); false when another process does.
    bool acquire();
    const QString& path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};

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

signals:
    void stopRequested(int signal);
    void screenshotRequested();

private:
    void drain();
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarvelo::app
