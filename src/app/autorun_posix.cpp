#include "app/autorun.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace tarvelo::app {

namespace {

QString failureText(int number, const char* what, const QString& description)
{
    return QStringLiteral("Error %1 %2\n%3").arg(number).arg(QLatin1String(what), description);
}

// Writes the whole text to a sibling file and renames it over path; errno on failure, else 0.
int replaceFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.constData());
            return e;
        }
        done += n;
    }
    if (::close(fd) != 0 || ::rename(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return e;
    }
    return 0;
}

}  // namespace

bool AutoRun::Get_AutoRun(const QString& name) const
{
    QFile file(entryPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (inEntry && eq > 0 && line.left(eq).trimmed() == "Hidden" && line.mid(eq + 1).trimmed() == "true")
            return false;
    }
    return true;
}

void AutoRun::Set_AutoRun(const QString& name, const QString& folder, bool enable)
{
    const QString path = entryPath(name);
    if (!enable) {
        QFile::remove(path);
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(configHome() + QStringLiteral("/autostart")).toStdString(), ec);
    if (ec) {
        if (messageBox_)
            messageBox_(failureText(ec.value(), "opening key", QString::fromLocal8Bit(ec.message().c_str())));
        return;
    }
    const QString program = QDir(folder).absoluteFilePath(name);
    if (const int e = replaceFile(path, desktopEntry(program).toUtf8()); e != 0 && messageBox_)
        messageBox_(failureText(e, "setting key", QString::fromLocal8Bit(std::strerror(e))));
}

}  // namespace tarvelo::app
