#pragma once
#include "app/download_window_model.h"
#include "app/updates.h"
#include "data/settings_store.h"
#include "support/ref_web_service.h"
#include "support/test_db.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace tarvelo::test {

using app::DownloadWindowModel;

// One application object for the whole test program, on the offscreen platform.
inline void ensureApp()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_updates";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// The INI store, remembering the order of the writes.
class RecordingStore : public data::IniSettingsStore {
public:
    using IniSettingsStore::IniSettingsStore;
    QStringList written;  // "application/key=value"
    bool write(const QString& application, const QString& section, const QString& key, const QString& value) override
    {
        written << application + u'/' + key + u'=' + value;
        return IniSettingsStore::write(application, section, key, value);
    }
};

// A stand-in updater: a shell script that leaves "<name>.started" beside itself, padded with
// comment lines to `size` bytes when asked.
inline QByteArray stubUpdater(const QString& name, int size = 0)
{
    QByteArray text = "#!/bin/sh\necho started >> \"$(dirname \"$0\")/" + name.toUtf8() + ".started\"\n";
    while (text.size() < size)
        text += QByteArray(std::min<qsizetype>(63, size - text.size() - 1), '#') + '\n';
    return text;
}

inline void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions perms = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
    f.close();
    if (perms)
        f.setPermissions(perms);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// True once `path` exists, waiting up to five seconds for a program started in the background.
inline bool appears(const QString& path, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(path) && t.elapsed() < ms)
        QThread::msleep(10);
    return QFile::exists(path);
}

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                           | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

// The program folder, the downloads folder and the settings of one run, a reference web service
// serving both, and the main window's side of the update flows as plain records.
class UpdateWorld : public ::testing::Test {
protected:
    QTemporaryDir programDir, downloadsDir, configDir;
    RefWebService web{RefWebService::Options{QStringLiteral("1"), downloadsDir.path()}};
    RecordingStore settings{configDir.path()};
    data::RunState run;
    data::ErrorLog errorLog{programDir.path()};
    DownloadWindowModel form;
    QStringList captions;
    QStringList messages;
    QStringList events;  // stop, end
    QDateTime clock = QDateTime::currentDateTime();
    QString rivLocal = QStringLiteral("010218");
    std::unique_ptr<app::Updates> updates;

    void SetUp() override
    {
        run.config.Url_Web = web.baseUrl();
        run.config.Url_Downloads = web.downloadsUrl();
        run.config.My_Branch = QStringLiteral("7");
        run.config.Riv_Server = QStringLiteral("010219");
        run.config.No_Dev = QStringLiteral("DEV 9");
        QObject::connect(&form, &DownloadWindowModel::progressed, [this](const QString& c) { captions << c; });
        app::UpdateHost host;
        host.pump = [] {};
        host.Add_LogMsg = [this](const QString& m) { messages << m; };
        host.stopSynchronisation = [this] { events << QStringLiteral("stop"); };
        host.now = [this] { return clock; };
        host.endProgram = [this] { events << QStringLiteral("end"); };
        host.Riv_Local = [this] { return rivLocal; };
        host.localDatabase = [] {
            return data::DbSettings{"db.local", "3307", "branch_db", "clerk", "s3cret;pw"};
        };
        app::UpdateOptions options;
        options.programFolder = programDir.path() + u'/';  // a folder given with its slash gets no second one
        options.runningVersion = app::versionDigits(1, 1, 18);
        options.requestTimeout = std::chrono::seconds(5);
        options.stallTimeout = std::chrono::seconds(2);
        updates = std::make_unique<app::Updates>(run, settings, errorLog, form, std::move(host), options);
    }

    QString inProgram(const QString& name) const { return programDir.filePath(name); }
    QString errorLogText() const { return QString::fromLocal8Bit(readFile(errorLog.path())); }
};

}  // namespace tarvelo::test
