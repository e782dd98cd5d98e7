#include "data/reason_log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace tarvelo::data {

namespace {
constexpr qint64 kRepeatSeconds = 3600;
constexpr int kMaxKinds = 512;  // distinct failures remembered; a flood of new texts cannot grow memory
}  // namespace

QString stateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/.local/state";
    const QString folder = base + "/Tarvelo";
    QDir().mkpath(folder);
    return folder;
}

QString redactCredentials(QString text)
{
    static const QRegularExpression query(QStringLiteral(R"(([?&](?:user|pasw|datb)=)[^&#\s]*)"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression pwd(QStringLiteral(R"(((?:^|;)\s*(?:PWD|PASSWORD)\s*=\s*)(\{(?:[^}]|\}\})*\}|[^;]*))"),
                                        QRegularExpression::CaseInsensitiveOption);
    text.replace(query, QStringLiteral("\\1***"));
    text.replace(pwd, QStringLiteral("\\1***"));
    return text;
}

ReasonLog::ReasonLog(QString folder, qint64 maxBytes) : folder_(std::move(folder)), maxBytes_(maxBytes) {}

QString ReasonLog::path() const
{
    return folder_ + "/tarvelo.log";
}

namespace {
QString stamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
}  // namespace

void ReasonLog::write(const QString& step, const QString& reason, const QString& check)
{
    const QString cleanReason = redactCredentials(reason).simplified();
    // How long a try took is no change in the failure ("after 3 ms", "after 60001 milliseconds").
    static const QRegularExpression duration(QStringLiteral(R"(\d+ (ms|milliseconds)\b)"));
    const QString key = step + u'\x1f' + QString(cleanReason).replace(duration, QStringLiteral("# \\1")) + u'\x1f' + check;
    const QDateTime t = now();
    ++failures_;
    // A step that worked since its last failure fails anew: that is news, whatever an hour says.
    const bool newOutage = !failing_.contains(step);
    if (newOutage) {
        if (failing_.size() >= kMaxKinds)
            failing_.clear();
        failing_.insert(step, Outage{t, cleanReason, failures_, failures_});
        if (onOutage)
            onOutage(step, failing_[step], true);
    } else {
        failing_[step].latest = failures_;
    }
    auto it = seen_.find(key);
    QString repeats;
    if (it != seen_.end()) {
        if (!newOutage && it->lastWritten.secsTo(t) < kRepeatSeconds) {
            ++it->unwritten;
            return;
        }
        if (it->unwritten > 0)
            repeats = QStringLiteral(" (%1 more %2 since %3)")
                          .arg(it->unwritten)
                          .arg(it->unwritten == 1 ? QStringLiteral("time") : QStringLiteral("times"), stamp(it->lastWritten));
        it->lastWritten = t;
        it->unwritten = 0;
    } else {
        if (seen_.size() >= kMaxKinds)
            seen_.clear();
        seen_.insert(key, Seen{t, 0});
    }
    QString line = stamp(t) + u' ' + step + ": " + cleanReason;
    if (!check.isEmpty())
        line += " — check " + check;
    append(line + repeats);
}

void ReasonLog::works(const QString& step)
{
    const auto outage = failing_.constFind(step);
    if (outage == failing_.cend())
        return;
    const Outage ended = *outage;
    const QDateTime since = ended.since;
    failing_.erase(outage);
    if (onOutage)
        onOutage(step, ended, false);
    const QString prefix = step + u'\x1f';
    qint64 unwritten = 0;
    for (auto it = seen_.begin(); it != seen_.end(); ++it)
        if (it.key().startsWith(prefix)) {
            unwritten += it->unwritten;
            it->unwritten = 0;
        }
    QString line = stamp(now()) + u' ' + step + ": works again (failing since " + stamp(since);
    if (unwritten > 0)
        line += QStringLiteral(", %1 %2 not written").arg(unwritten).arg(unwritten == 1 ? QStringLiteral("repeat") : QStringLiteral("repeats"));
    append(line + u')');
}

void ReasonLog::append(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    if (echo_) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    if (folder_.isEmpty())
        return;
    QDir().mkpath(folder_);
    appendBounded(path(), bytes, maxBytes_);
}

bool appendBounded(const QString& path, const QByteArray& bytes, qint64 maxBytes)
{
    QFile f(path);
    if (f.exists() && f.size() + bytes.size() > maxBytes) {
        QFile::remove(path + ".1");
        QFile::rename(path, path + ".1");
    }
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return f.write(bytes) == bytes.size();
}

}  // namespace tarvelo::data
