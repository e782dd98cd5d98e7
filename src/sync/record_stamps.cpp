#include "sync/engine.h"

namespace tarvelo::sync {

qint64 timeDiffSeconds(const QString& Time_Diff)
{
    bool ok = false;
    const qint64 v = Time_Diff.trimmed().toLongLong(&ok);
    return ok ? v : 0;
}

std::optional<QString> editStampServerTime(const QString& DatTim1, const QString& Time_Diff)
{
    const QString digits = DatTim1.left(14);
    if (digits.size() != 14)
        return std::nullopt;
    for (QChar c : digits)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    // Calendar arithmetic without the local zone's daylight-saving gaps.
    const QDate day = QDate::fromString(digits.left(8), QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(digits.mid(8), QStringLiteral("hhmmss"));
    const QDateTime at(day, time, Qt::UTC);
    if (!day.isValid() || !time.isValid() || !at.isValid())
        return std::nullopt;
    return at.addSecs(timeDiffSeconds(Time_Diff)).toString(QStringLiteral("yyyyMMddhhmmss"));
}

QString newServerStamp(const QDateTime& localNow, const QString& Time_Diff, QString& last)
{
    // Milliseconds, not characters of the tick count: those wrap within a second and would give a
    // later version a smaller stamp, which the receive bound and the ledger take for an older one.
    const QDateTime at = localNow.addSecs(timeDiffSeconds(Time_Diff));
    QString stamp = at.toString(QStringLiteral("yyyyMMddhhmmss"))
                    + QStringLiteral("%1").arg(at.time().msec() * 10, 4, 10, QChar(u'0'));
    bool ok = false;
    const qulonglong previous = last.size() == stamp.size() ? last.toULongLong(&ok) : 0;
    if (ok && stamp <= last)
        stamp = QString::number(previous + 1);
    last = stamp;
    return stamp;
}

}  // namespace tarvelo::sync
