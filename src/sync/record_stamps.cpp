#include "sync/engine.h"

#include <QElapsedTimer>

#include <ctime>

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

QString newServerStamp(const QDateTime& localNow, const QString& Time_Diff, qint32 ticks)
{
    return localNow.addSecs(timeDiffSeconds(Time_Diff)).toString(QStringLiteral("yyyyMMddhhmmss"))
           + QString::number(ticks).mid(4, 4);
}

qint32 tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const quint64 ms = quint64(ts.tv_sec) * 1000u + quint64(ts.tv_nsec) / 1'000'000u;
    return qint32(quint32(ms));  // wraps like the system's 32-bit tick count
}

}  // namespace tarvelo::sync
