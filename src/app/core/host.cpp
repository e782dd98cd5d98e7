#include "app/core/host.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelo::app {

InstanceLock::InstanceLock(const QString& settingsBase)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    const QByteArray key =
        QCryptographicHash::hash(QDir(settingsBase).absolutePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    path_ = QStringLiteral("%1/tarvelo-%2-%3.lock").arg(dir).arg(getuid()).arg(QString::fromLatin1(key));
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstanceLock::acquire()
{
    if (fd_ >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;  // nowhere to keep a lock: never keep the only copy from running
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool createPrivateFile(const QString& path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == EEXIST && info.isFile();
}

PrivateSettingsStore::PrivateSettingsStore(QString baseDir) : ini_(baseDir), base_(std::move(baseDir)) {}

QString PrivateSettingsStore::read(const QString& application, const QString& section, const QString& key) const
{
    return ini_.read(application, section, key);
}

bool PrivateSettingsStore::write(const QString& application, const QString& section, const QString& key,
                                 const QString& value)
{
    const QString path = ini_.filePath(application);
    if (!createPrivateFile(path))
        throw std::runtime_error("cannot create the settings file " + path.toStdString());
    const bool written = ini_.write(application, section, key, value);
    // A rewrite through a temporary file may carry the process's default mode.
    ::chmod(QFile::encodeName(path).constData(), 0600);
    if (!written || ini_.read(application, section, key) != value)
        throw std::runtime_error("cannot write " + key.toStdString() + " to " + path.toStdString());
    return true;
}

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const char byte = char(sig);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

bool StopSignals::install()
{
    if (signalPipe[0] >= 0)
        return true;
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(sig, &sa, nullptr);
    return true;
}

StopSignals::StopSignals()
{
    install();
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
}

StopSignals::~StopSignals() = default;

void StopSignals::drain()
{
    char buf[16];
    ssize_t n;
    while ((n = ::read(signalPipe[0], buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == char(SIGUSR1))
                emit screenshotRequested();
            else
                emit stopRequested(int(buf[i]));
        }
}

}  // namespace tarvelo::app
