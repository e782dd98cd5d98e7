#include "app/updates.h"

#include "data/web_service.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace tarvelo::app {

namespace {

const QString kApplicationVeld = QStringLiteral("Veld");
const QString kSection = QStringLiteral("Settings");

bool isDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Only whole answers with a 2xx status count as the script's reply.
QString replyOf(const data::HttpReply& reply)
{
    return reply.ok ? QString::fromUtf8(reply.body) : QString();
}

// The settings file of `application` holds the database password once the hand-over is written:
// only its owner may read it, whatever mode it had before.
void keepPrivate(data::SettingsStore& store, const QString& application)
{
    auto* ini = dynamic_cast<data::IniSettingsStore*>(&store);
    if (!ini)
        return;
    const QByteArray path = QFile::encodeName(ini->filePath(application));
    QDir().mkpath(QFileInfo(ini->filePath(application)).absolutePath());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

struct Transfer {
    CURL* curl = nullptr;
    QFile* file = nullptr;
    DownloadWindowModel* form = nullptr;
    bool checked = false;
    long status = 0;
    qint64 total = -1;
    qint64 received = 0;
    QString why;

    // The status and Content-Length of the final answer; false when they do not allow a download.
    bool check()
    {
        checked = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (status != 200 && status != 206) {
            why = QStringLiteral("HTTP status %1").arg(status);
            return false;
        }
        if (length <= 0) {
            why = QStringLiteral("no Content-Length");
            return false;
        }
        total = qint64(length);
        return true;
    }
};

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (!t->checked && !t->check())
        return 0;
    for (size_t offset = 0; offset < length; offset += Updates::ProgressStep) {
        const qint64 piece = qint64(std::min<size_t>(Updates::ProgressStep, length - offset));
        if (t->file->write(data + offset, piece) != piece) {
            t->why = QStringLiteral("writing %1: %2").arg(t->file->fileName(), t->file->errorString());
            return 0;
        }
        t->received += piece;
        const qint64 pct = roundHalfEven(double(t->received) / double(t->total) * 100.0);
        t->form->DownloadProgress(QString::number(pct));
    }
    return length;
}

}  // namespace

QString versionDigits(int major, int minor, int revision)
{
    return QStringLiteral("%1%2%3")
        .arg(major, 2, 10, QChar(u'0'))
        .arg(minor, 2, 10, QChar(u'0'))
        .arg(revision, 2, 10, QChar(u'0'));
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

bool startDetached(const QString& path, const QString& workingDir, QString* why)
{
    const QFileInfo info(path);
    QString reason;
    if (!info.exists())
        reason = QStringLiteral("%1 does not exist").arg(path);
    else if (!info.isFile() || !info.isExecutable())
        reason = QStringLiteral("%1 is not an executable file").arg(path);
    if (reason.isEmpty()) {
        QProcess process;
        process.setProgram(path);
        process.setWorkingDirectory(workingDir);
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        if (process.startDetached())
            return true;
        reason = QStringLiteral("%1 could not be started: %2").arg(path, process.errorString());
    }
    if (why)
        *why = reason;
    return false;
}

Updates::Updates(data::RunState& run, data::SettingsStore& settings, data::ErrorLog& errorLog,
                 DownloadWindowModel& Form2, UpdateHost host, UpdateOptions options)
    : Inet4(options.requestTimeout),
      Inet7(options.requestTimeout),
      run_(run),
      settings_(settings),
      errorLog_(errorLog),
      Form2_(Form2),
      host_(std::move(host)),
      options_(std::move(options))
{
    Inet4.setPump(host_.pump);
    Inet7.setPump(host_.pump);
    // The version checks go on after a failed request ("OK" is still logged): only the reason says it failed.
    for (data::HttpClient* client : {&Inet4, &Inet7})
        client->onReply = [this](const QString& url, const data::HttpReply& reply) {
            data::noteWebReply(errorLog_, url, reply, run_.config.file);
        };
    folder_ = options_.programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : options_.programFolder;
    if (options_.runningVersion.isEmpty()) {
        const QStringList parts = QCoreApplication::applicationVersion().split(u'.');
        if (parts.size() >= 3)
            options_.runningVersion = versionDigits(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
    }
}

void Updates::pump() const
{
    if (host_.pump)
        host_.pump();
}

void Updates::log(const QString& text) const
{
    if (host_.Add_LogMsg)
        host_.Add_LogMsg(text);
    errorLog_.Save_Code(text);
}

void Updates::Check_UpDateSyn()
{
    const QString reply = replyOf(Inet4.getText(run_.config.Url_Web + QStringLiteral("VerNumSyn.php")));
    // Six digits or nothing: an error page or a half answer never starts an update.
    if (reply.size() != 6 || !isDigits(reply)) {
        pump();
        return;
    }
    Ver_Server = reply;
    // Without a known version of its own the program would take every offer as newer.
    const QString& running = options_.runningVersion;
    if (running.size() != 6 || !isDigits(running) || running.toLongLong() >= Ver_Server.toLongLong()) {
        pump();
        return;
    }
    // Synchronisation stops only once the updater runs; otherwise this copy carries on.
    QString why;
    if (!startDetached(joinPath(folder_, QStringLiteral("UpDateSyn.exe")), folder_, &why)) {
        errorLog_.reason(QStringLiteral("update start UpDateSyn.exe"), why, "the program's folder " + folder_);
        log(QStringLiteral("فشل تشغيل برنامج التحديث UpDateSyn.exe: ") + why);
        pump();
        return;
    }
    if (host_.stopSynchronisation)
        host_.stopSynchronisation();
    pump();
    if (host_.endProgram)
        host_.endProgram();
}

bool Updates::Check_UpDate()
{
    pump();
    Ver_Path.clear();
    const QString url = data::webRequestUrl(run_.config.Url_Web, QStringLiteral("VerNum.php"),
                                            {{QStringLiteral("NoDev"), run_.config.No_Dev}, {QStringLiteral("Kin"), QStringLiteral("2")}});
    const QString reply = replyOf(Inet7.getText(url));
    // Six version digits and one kind digit.
    if (reply.size() != 7 || !isDigits(reply)) {
        pump();
        return false;
    }
    Ver_Server = reply.left(6);
    if (reply.at(6) == u'3')
        Ver_Path = Ver_Server + u'/';
    const QString local = host_.Riv_Local ? host_.Riv_Local() : QString();
    if (local.toLongLong() < Ver_Server.toLongLong())
        return true;
    pump();
    return false;
}

bool Updates::writeHandOver()
{
    const data::DbSettings db = host_.localDatabase ? host_.localDatabase() : data::DbSettings{};
    const data::StartupConfig& c = run_.config;
    const std::array<std::pair<const char*, QString>, 11> values = {{
        {"SaveInName_Databes_Tim", db.name},
        {"SaveInUser_Databes_Tim", db.user},
        {"SaveInPas_Databes_Tim", db.password},
        {"SaveInPort_Tim", db.port},
        {"SaveInServer_Databes_Tim", db.host},
        {"SaveInNoBran_Tim", c.My_Branch},
        {"NoRevOld_Tim", host_.Riv_Local ? host_.Riv_Local() : QString()},
        {"NoRevision_Tim", c.Riv_Server},
        {"Pro_Tim", QStringLiteral("Tarvelo")},
        {"NoPicFull_Tim", c.No_Dev},
        {"Run_Tim", QStringLiteral("0")},
    }};
    keepPrivate(settings_, kApplicationVeld);
    for (const auto& [key, value] : values)
        settings_.write(kApplicationVeld, kSection, QString::fromLatin1(key), value);
    keepPrivate(settings_, kApplicationVeld);
    // The store reports no failure of its own; what reads back is what the updater will see.
    for (const auto& [key, value] : values)
        if (settings_.read(kApplicationVeld, kSection, QString::fromLatin1(key)) != value)
            return false;
    return true;
}

QDateTime Updates::now() const
{
    return host_.now ? host_.now() : QDateTime::currentDateTime();
}

bool Updates::downloadDue() const
{
    if (!lastFailedDownload_.isValid())
        return true;
    const qint64 since = lastFailedDownload_.secsTo(now());
    // A clock set back must not postpone the next try for good.
    return since < 0 || since >= DownloadRetrySeconds;
}

bool Updates::failDownload(const QString& why)
{
    lastFailedDownload_ = now();
    Form2_.close();
    errorLog_.reason(QStringLiteral("update download"), why,
                     "Url_Downloads in " + run_.config.file + ", and that the program's folder " + folder_ + " is writable");
    log(QStringLiteral("فشل تحميل التحديث: ") + why);
    pump();
    return false;
}

bool Updates::cmdDownload_Click(const QString& Name_File, qint16 /*kin*/)
{
    if (!writeHandOver())
        return failDownload(QStringLiteral("the hand-over settings could not be written"));
    Form2_.show();
    pump();
    const QString localPath = joinPath(folder_, Name_File);
    pump();
    const QFileInfo old(localPath);
    if (old.exists() || old.isSymLink()) {
        pump();
        if (old.isDir() && !old.isSymLink())
            return failDownload(QStringLiteral("%1 is a folder").arg(localPath));
        QFile file(localPath);
        if (!file.remove())
            return failDownload(QStringLiteral("%1 could not be deleted: %2").arg(localPath, file.errorString()));
    }
    Form2_.resetBar();
    pump();
    QString why;
    const bool whole = Download_File(run_.config.Url_Downloads + Ver_Path + Name_File, localPath, &why);
    pump();
    if (!whole) {
        QFile::remove(localPath);
        return failDownload(why);
    }
    QFile::setPermissions(localPath, QFile::permissions(localPath) | QFileDevice::ExeOwner | QFileDevice::ExeUser
                                         | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    if (!startDetached(localPath, folder_, &why))
        return failDownload(why);
    pump();
    if (host_.endProgram)
        host_.endProgram();
    return true;
}

bool Updates::cycleTickUpdates()
{
    Check_UpDateSyn();
    if (!Check_UpDate() || !downloadDue())
        return false;
    // Only a download that ended the program ends the tick; a failed one lets the cycle run.
    return cmdDownload_Click(QStringLiteral("Update4.exe"), 1);
}

bool Updates::Download_File(const QString& url, const QString& localPath, QString* why)
{
    pump();
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    QFile file(localPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(localPath, file.errorString());
        return false;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        if (why)
            *why = QStringLiteral("the HTTP library could not be started");
        return false;
    }
    Transfer t;
    t.curl = curl;
    t.file = &file;
    t.form = &Form2_;

    const QByteArray urlBytes = url.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* headers = curl_slist_append(nullptr, "Range: bytes=0-");
    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(options_.requestTimeout.count()));
    // A large file may take long; only a stalled one fails.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     long(std::max<qint64>(1, std::chrono::duration_cast<std::chrono::seconds>(options_.stallTimeout).count())));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);

    const auto rc = CURLcode(data::performWaiting(curl, host_.pump));
    // An answer without a body never reached the callback.
    if (rc == CURLE_OK && !t.checked)
        t.check();
    if (t.why.isEmpty() && rc != CURLE_OK)
        t.why = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (!file.flush() && t.why.isEmpty())
        t.why = QStringLiteral("writing %1: %2").arg(localPath, file.errorString());
    file.close();

    if (t.why.isEmpty() && t.received != t.total)
        t.why = QStringLiteral("%1 of %2 bytes arrived").arg(t.received).arg(t.total);
    if (!t.why.isEmpty()) {
        if (why)
            *why = url + QStringLiteral(": ") + t.why;
        return false;
    }
    return true;
}

}  // namespace tarvelo::app
