#include "app/core/host.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelo::app {

namespace {

// A folder of this user that nobody else may write into.
bool privateFolder(const QString& dir)
{
    struct stat st {};
    return !dir.isEmpty() && ::stat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode)
           && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

QString foreignLockFile(const QString& path, uid_t owner)
{
    return QStringLiteral("the lock file %1 belongs to another user (uid %2), not to this one (uid %3); "
                          "remove it as root, or set XDG_RUNTIME_DIR to a folder of your own")
        .arg(path)
        .arg(owner)
        .arg(::geteuid());
}

}  // namespace

InstanceLock::InstanceLock(const QString& settingsBase)
{
    const QString base = QDir(settingsBase).absolutePath();
    // Without a runtime folder of its own (as under su), the settings folder holds the lock: a
    // shared folder such as /tmp would let another user take the name first.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (privateFolder(runtime)) {
        const QByteArray key = QCryptographicHash::hash(base.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
        path_ = QStringLiteral("%1/tarvelo-%2.lock").arg(runtime, QString::fromLatin1(key));
    } else {
        path_ = base + QStringLiteral("/Tarvelo/tarvelo.lock");
    }
}

InstanceLock::~InstanceLock()
{
    release();
}

bool InstanceLock::acquire()
{
    if (fd_ >= 0)
        return true;
    refusal_.clear();
    const QByteArray name = QFile::encodeName(path_);
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    // A holder that lets go removes the file: lock what the name still points to.
    for (int attempt = 0; attempt < 5; ++attempt) {
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && (st.st_uid != ::geteuid() || !S_ISREG(st.st_mode))) {
            refusal_ = S_ISREG(st.st_mode) ? foreignLockFile(path_, st.st_uid)
                                           : QStringLiteral("the lock file %1 is not a plain file").arg(path_);
            return false;
        }
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return true;  // nowhere to keep a lock: never keep the only copy from running
        if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
            ::close(fd);
            refusal_ = foreignLockFile(path_, st.st_uid);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        struct stat now {};
        if (::stat(name.constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            fd_ = fd;
            return true;
        }
        ::close(fd);
    }
    return false;
}

void InstanceLock::release()
{
    if (fd_ < 0)
        return;
    // Removed while still locked, and only when the name is still this file.
    struct stat held {}, named {};
    const QByteArray name = QFile::encodeName(path_);
    if (::fstat(fd_, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_dev == named.st_dev
        && held.st_ino == named.st_ino)
        ::unlink(name.constData());
    ::close(fd_);
    fd_ = -1;
}

QString keepPasswordFilePrivate(const QString& path, bool makePrivate)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || (st.st_mode & 077) == 0)
        return QString();
    const QString text = path + QStringLiteral(" holds a database password and is readable by others");
    if (makePrivate && st.st_uid == ::geteuid() && ::chmod(name.constData(), st.st_mode & 0700) == 0)
        return text + QStringLiteral(" (now made readable by its owner only)");
    return text + QStringLiteral(" (chmod 600 it)");
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
int watchPipe[2] = {-1, -1};  // stop signals only, for the watchdog

void onSignal(int sig)
{
    const int saved = errno;
    const char byte = char(sig);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
    if (sig != SIGUSR1)
        n = ::write(watchPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

int StopSignals::watchFd()
{
    return watchPipe[0];
}

bool StopSignals::install()
{
    if (signalPipe[0] >= 0)
        return true;
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(watchPipe, O_CLOEXEC | O_NONBLOCK) != 0)
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

StopWatchdog::StopWatchdog(std::chrono::milliseconds grace, std::function<void()> overdue)
    : grace_(grace), overdue_(std::move(overdue))
{
    if (!StopSignals::install() || ::pipe2(quit_, O_CLOEXEC) != 0)
        return;
    thread_ = std::thread([this] { run(); });
}

StopWatchdog::~StopWatchdog()
{
    if (thread_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(quit_[1], &byte, 1);
        thread_.join();
    }
    for (int fd : quit_)
        if (fd >= 0)
            ::close(fd);
}

void StopWatchdog::run()
{
    // Signals go to the UI thread, which handles them through its pipe.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    pollfd fds[2] = {{quit_[0], POLLIN, 0}, {StopSignals::watchFd(), POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (fds[1].revents)
            break;
    }
    const auto deadline = std::chrono::steady_clock::now() + grace_;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        if (::poll(fds, 1, int(left)) > 0)
            return;  // the program ended in time
    }
    overdue_();
}

}  // namespace tarvelo::app
