#include "support/private_mariadb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace tarvelo::test {

namespace {

const char* const kUser = "tarvelo_test";
const char* const kPassword = "Pw;private=1";

[[noreturn]] void fail(const QString& what)
{
    throw std::runtime_error(what.toStdString());
}

// The port bound, 0 when it could not be (`port` 0: any the kernel picks).
int bindLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    socklen_t len = sizeof a;
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
                       && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound ? ntohs(a.sin_port) : 0;
}

// A free port below the kernel's ephemeral range where it leaves room, so that no outgoing
// connection takes it before the server binds it.
int freeLoopbackPort()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    const int low = range.open(QIODevice::ReadOnly) ? QString::fromLatin1(range.readAll()).simplified().section(u' ', 0, 0).toInt() : 0;
    std::mt19937 pick(std::random_device{}());
    for (int i = 0; low > 12000 && i < 100; ++i)
        if (const int port = bindLoopback(std::uniform_int_distribution<int>(10000, low - 1)(pick)))
            return port;
    if (const int port = bindLoopback(0))
        return port;
    fail(QStringLiteral("no free loopback port"));
}

// mariadbd refuses --user unless it runs as root, and as root it needs it.
QStringList asRoot()
{
    return ::geteuid() == 0 ? QStringList{QStringLiteral("--user=root")} : QStringList{};
}

QString tail(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    return QString::fromUtf8(all.right(2000));
}

}  // namespace

PrivateMariaDb::PrivateMariaDb(const QString& sqlMode)
    : dir_(QDir::tempPath() + QStringLiteral("/tarvelo-db.XXXXXX")), sqlMode_(sqlMode)
{
    if (!dir_.isValid())
        fail(QStringLiteral("cannot make a directory for the private server"));
    dirPath_ = dir_.path();
    const QString data = dirPath_ + QStringLiteral("/data");
    socket_ = dirPath_ + QStringLiteral("/mariadb.sock");
    // Servers set up side by side must not share temporary files.
    const QString tmp = dirPath_ + QStringLiteral("/tmp");
    QDir().mkpath(tmp);

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral("mariadb-install-db"),
                  QStringList{QStringLiteral("--no-defaults"), "--datadir=" + data, "--tmpdir=" + tmp}
                      + asRoot()
                      + QStringList{QStringLiteral("--auth-root-authentication-method=normal"),
                                    QStringLiteral("--skip-test-db"), QStringLiteral("--skip-name-resolve")});
    if (!install.waitForFinished(120000) || install.exitStatus() != QProcess::NormalExit || install.exitCode() != 0)
        fail("mariadb-install-db failed: " + QString::fromUtf8(install.readAll().right(2000)));

    // Another process may still bind the port first: a server that could not bind it tries another.
    for (int attempt = 0;; ++attempt) {
        port_ = freeLoopbackPort();
        try {
            start();
            break;
        } catch (const std::runtime_error& e) {
            if (attempt == 4 || !QString::fromUtf8(e.what()).contains(QStringLiteral("Address already in use")))
                throw;
        }
    }
    rootSql(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'; GRANT ALL PRIVILEGES ON *.* TO '%1'@'%' "
                           "WITH GRANT OPTION;")
                .arg(QLatin1String(kUser), QLatin1String(kPassword)));
}

void PrivateMariaDb::start()
{
    const QString data = dirPath_ + QStringLiteral("/data");
    const QString log = dirPath_ + QStringLiteral("/mariadb.log");
    const QString tmp = dirPath_ + QStringLiteral("/tmp");
    QStringList args{QStringLiteral("--no-defaults"),
                     "--datadir=" + data,
                     "--tmpdir=" + tmp,
                     "--socket=" + socket_,
                     "--pid-file=" + dirPath_ + "/mariadbd.pid",
                     QStringLiteral("--port=%1").arg(port_),
                     QStringLiteral("--bind-address=127.0.0.1"),
                     QStringLiteral("--skip-name-resolve"),
                     QStringLiteral("--skip-log-bin"),
                     QStringLiteral("--lower_case_table_names=1"),
                     QStringLiteral("--character-set-server=utf8mb4"),
                     QStringLiteral("--collation-server=utf8mb4_general_ci"),
                     QStringLiteral("--innodb-buffer-pool-size=32M"),
                     QStringLiteral("--innodb-flush-log-at-trx-commit=1")};
    args += asRoot();
    if (!sqlMode_.isEmpty())
        args << "--sql-mode=" + sqlMode_;

    std::vector<QByteArray> argBytes{QByteArrayLiteral("mariadbd")};
    for (const QString& a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray logPath = log.toLocal8Bit();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0)
        fail(QStringLiteral("cannot start mariadbd"));
    if (pid_ == 0) {
        // The server must not outlive a test that crashed or was killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        const int out = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execvp("mariadbd", argv.data());
        ::_exit(127);
    }

    for (int i = 0;; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            fail("mariadbd stopped while starting: " + tail(log));
        }
        QProcess client;
        client.start(QStringLiteral("mariadb"), {QStringLiteral("--no-defaults"), "--socket=" + socket_,
                                                 QStringLiteral("-uroot"), QStringLiteral("-e"), QStringLiteral("SELECT 1")});
        if (client.waitForFinished(10000) && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0)
            break;
        if (i == 150)
            fail("mariadbd did not answer within 30 s: " + tail(log));
        QThread::msleep(200);
    }
}

void PrivateMariaDb::restart()
{
    kill();
    start();
}

PrivateMariaDb::~PrivateMariaDb()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

data::DbSettings PrivateMariaDb::settings(const QString& database) const
{
    return {QStringLiteral("127.0.0.1"), QString::number(port_), database, QString::fromLatin1(kUser),
            QString::fromLatin1(kPassword)};
}

void PrivateMariaDb::rootSql(const QString& sql) const
{
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("mariadb"),
                 {QStringLiteral("--no-defaults"), "--socket=" + socket_, QStringLiteral("-uroot"), QStringLiteral("-e"), sql});
    if (!client.waitForFinished(60000) || client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
        fail("statement as root failed: " + QString::fromUtf8(client.readAll()));
}

void PrivateMariaDb::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void PrivateMariaDb::freeze()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGSTOP);
        // Stopping takes effect a moment later: a request sent just after the signal may still
        // be answered.
        int status = 0;
        ::waitpid(pid_, &status, WUNTRACED);
    }
}

void PrivateMariaDb::thaw()
{
    if (pid_ > 0)
        ::kill(pid_, SIGCONT);
}

QString odbcDriverLibrary()
{
    QProcess dpkg;
    dpkg.start(QStringLiteral("dpkg"), {QStringLiteral("-L"), QStringLiteral("odbc-mariadb")});
    dpkg.waitForFinished(30000);
    for (const QByteArray& line : dpkg.readAllStandardOutput().split('\n'))
        if (line.endsWith("/libmaodbc.so"))
            return QString::fromLocal8Bit(line);
    fail(QStringLiteral("MariaDB Connector/ODBC (package odbc-mariadb) is not installed"));
}

void writeOdbcInst(const QString& dir)
{
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/odbcinst.ini"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write " + f.fileName());
    const QString text = QStringLiteral("[ODBC]\nPooling=No\n\n[mySQL ODBC 3.51 Driver]\nDescription=MariaDB Connector/ODBC\n"
                                        "Driver=%1\n")
                             .arg(odbcDriverLibrary());
    f.write(text.toUtf8());
    QFile odbc(dir + QStringLiteral("/odbc.ini"));
    if (!odbc.exists() && odbc.open(QIODevice::WriteOnly))
        odbc.close();
}

}  // namespace tarvelo::test
