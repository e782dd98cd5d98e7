// The pull schedule in the grid MSFG4: one row per planned or finished pull.
#include "data/sql_text.h"
#include "devices/devices.h"

namespace tarvelo::devices {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kPending = QStringLiteral("X");
const QString kDone = QStringLiteral("XX");

QString minutesLeftText(qint32 minutes)
{
    return QStringLiteral("باقي ") + QString::number(minutes) + QStringLiteral(" دقيقة");
}

// A plain calendar reading, so that a change of daylight-saving time does not bend the count.
std::optional<QDateTime> wholeMinute(const QString& text)
{
    const QDateTime t = QDateTime::fromString(text, kTimeFormat);
    if (!t.isValid())
        return std::nullopt;
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()), Qt::UTC);
}

}  // namespace

qint32 Min_Left(const QString& start, const QString& end)
{
    const auto a = wholeMinute(start);
    const auto b = wholeMinute(end);
    if (!a || !b)
        return 0;
    return qint32(a->secsTo(*b) / 60);
}

std::optional<PullResultTexts> pullResultTexts(const QString& code)
{
    const QString notOk = QStringLiteral("NotOk");
    if (code.isEmpty())
        return std::nullopt;
    switch (code[0].unicode()) {
    case u'0':
        return PullResultTexts{QStringLiteral("خطاء غير معروف"), notOk};
    case u'1':
        return PullResultTexts{QStringLiteral("خطاء بالقاعدة"), notOk};
    case u'2':
        return PullResultTexts{QStringLiteral("لا توجد اجهزة مسجلة"), notOk};
    case u'3':
        if (code.size() < 2)
            return std::nullopt;
        if (code[1] == u'1')
            return PullResultTexts{QStringLiteral("توجد اخطاء"), notOk};
        if (code[1] == u'0')
            return PullResultTexts{QStringLiteral("تمت العملية"), QStringLiteral("OK")};
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

void Devices::Load_Pull_Plan()
{
    try {
        const QString clause =
            "where No_Branch_1 = " + data::sqlLiteral(ctx_.records.run.config.My_Branch) + " and Kin2 = '1'";
        if (!ctx_.records.db.Open_Rs_Loc(Rs_Findev, QStringLiteral("findev_tab"), clause))
            return;
        if (!Rs_Findev || Rs_Findev->recordCount() <= 0)
            return;
        data::GridModel& g = ctx_.logs.MSFG4;
        g.setRows(2);
        g.setTextMatrix(1, 0, QString::number(g.rows() - 1));
        g.setTextMatrix(1, 1, now().addSecs(10).toString(kTimeFormat));
        g.setTextMatrix(1, 2, kPending);
        g.setTextMatrix(1, 3, minutesLeftText(10));
    } catch (const std::exception&) {
        // The grid stays as it is and the next cycle end tries again.
    }
}

void Devices::Run_Pull_Plan()
{
    try {
        data::GridModel& g = ctx_.logs.MSFG4;
        if (g.rows() <= 1)
            return;
        for (int r = 1; r < g.rows(); ++r) {
            if (g.textMatrix(r, 2) != kPending)
                continue;
            const qint32 m = Min_Left(now().toString(kTimeFormat), g.textMatrix(r, 1));
            if (m > 0) {
                g.setTextMatrix(r, 3, minutesLeftText(m));
                continue;
            }
            const std::optional<PullResultTexts> texts = pullResultTexts(Pull_Devices());
            if (!texts)
                continue;  // stays pending: pulled again at the next cycle end
            g.setTextMatrix(r, 4, texts->result);
            g.setTextMatrix(r, 2, kDone);
            g.setTextMatrix(r, 3, texts->state);
            return;
        }
    } catch (const std::exception&) {
        // A row whose pull was cut short stays pending and is tried again at the next cycle end.
    }
}

void Devices::Next_Pull_Plan()
{
    data::GridModel& g = ctx_.logs.MSFG4;
    if (g.rows() < 2)
        return;
    if (g.textMatrix(g.rows() - 1, 4).isEmpty())
        return;
    if (g.rows() > MaxScheduleRows)
        g.setRows(1);
    g.setRows(g.rows() + 1);
    const int r = g.rows() - 1;
    g.setTextMatrix(r, 0, QString::number(r));
    g.setTextMatrix(r, 1, now().addSecs(30 * 60).toString(kTimeFormat));
    g.setTextMatrix(r, 2, kPending);
    g.setTextMatrix(r, 3, minutesLeftText(30));
}

}  // namespace tarvelo::devices
