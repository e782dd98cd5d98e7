#include "app/core/outages.h"

#include "app/core/program.h"
#include "sync/engine.h"

#include <array>
#include <limits>

namespace tarvelo::app {

namespace {

constexpr qint32 kRetrySleep = 60;

const QString kWebFailed = QStringLiteral("خطاء بخدمة الويب");
const QString kLocalFailed = QStringLiteral("خطاء بالقاعدة المحلية");
const QString kServerConnectionFailed = QStringLiteral("خطاء باتصال السيرفر");
const QString kServerFailed = QStringLiteral("خطاء بقاعدة السيرفر");
const QString kCycleFailed = QStringLiteral("خطاء في دورة المزامنة");

QString failureText(const Program& p, FailedPart part)
{
    switch (part) {
    case FailedPart::Cycle:
        return kCycleFailed;
    case FailedPart::WebService:
        return kWebFailed;
    case FailedPart::ServerDatabase:
        return p.db.serverFailed() ? kServerConnectionFailed : kServerFailed;
    case FailedPart::BranchLock:
        if (p.sync.Branch_Lock.busy())
            return sync::kBranchBusy;
        [[fallthrough]];  // the lock statement runs on the local database
    case FailedPart::LocalDatabase:
        return kLocalFailed;
    case FailedPart::None:
    case FailedPart::Count:
        break;
    }
    return kIdle;
}

QString endText(FailedPart part)
{
    switch (part) {
    case FailedPart::Cycle:
        return QStringLiteral("عادت دورة المزامنة للعمل");
    case FailedPart::WebService:
        return QStringLiteral("عادت خدمة الويب للعمل");
    case FailedPart::ServerDatabase:
        return QStringLiteral("عادت قاعدة السيرفر للعمل");
    case FailedPart::LocalDatabase:
        return QStringLiteral("عادت القاعدة المحلية للعمل");
    case FailedPart::BranchLock:
        return QStringLiteral("هذه النسخة تزامن القاعدة من جديد");
    case FailedPart::None:
    case FailedPart::Count:
        break;
    }
    return {};
}

}  // namespace

FailedPart failedPart(const QString& step)
{
    if (step.startsWith(u"web service "))
        return FailedPart::WebService;
    if (step.startsWith(u"local database "))
        return FailedPart::LocalDatabase;
    if (step.startsWith(u"server database "))
        return FailedPart::ServerDatabase;
    if (step == u"branch database lock")
        return FailedPart::BranchLock;
    if (step == kCycleStep)
        return FailedPart::Cycle;
    return FailedPart::None;
}

void logOutagesInMessages(Program& p)
{
    p.errors.reasons.onOutage = [&p](const QString& step, const data::ReasonLog::Outage& outage, bool began) {
        const FailedPart part = failedPart(step);
        if (part == FailedPart::None)
            return;
        const auto& open = p.errors.reasons.outages();
        for (auto it = open.cbegin(); it != open.cend(); ++it)
            if (it.key() != step && failedPart(it.key()) == part)
                return;  // the part was failing before and still is
        p.logs.Add_LogMsg(began ? failureText(p, part) + ": " + data::leftToRight(step + ": " + outage.reason)
                                : endText(part));
        // The tick kept the failure's text while a database connection had failed; once it answers,
        // the person should see that a cycle runs rather than the failure it has put behind it.
        const bool database = part == FailedPart::LocalDatabase || part == FailedPart::ServerDatabase;
        if (!began && database && p.sync.Branch_Lock.phase() == sync::BranchLock::Phase::Tick && p.run.Syn_Run
            && !p.db.localFailed() && !p.db.serverFailed())
            p.MsgboxViw(1, kSyncing);
    };
}

void showCycleEnd(Program& p, quint64 failuresBefore)
{
    // Per part: whether it failed in this tick, and the first failure of its open outage.
    std::array<bool, size_t(FailedPart::Count)> failed{};
    std::array<quint64, size_t(FailedPart::Count)> first;
    first.fill(std::numeric_limits<quint64>::max());
    const auto& open = p.errors.reasons.outages();
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        const auto part = size_t(failedPart(it.key()));
        failed[part] = failed[part] || it->latest > failuresBefore;
        first[part] = qMin(first[part], it->first);
    }
    // A connection that failed keeps the window failed until that database answers again.
    failed[size_t(FailedPart::LocalDatabase)] = failed[size_t(FailedPart::LocalDatabase)] || p.db.localFailed();
    failed[size_t(FailedPart::ServerDatabase)] = failed[size_t(FailedPart::ServerDatabase)] || p.db.serverFailed();
    FailedPart shown = FailedPart::None;
    bool began = false;
    for (size_t k = 1; k < failed.size(); ++k)
        if (failed[k]) {
            shown = FailedPart(k);
            began = began || (first[k] > failuresBefore && first[k] != std::numeric_limits<quint64>::max());
        }
    if (shown == FailedPart::None) {
        p.MsgboxViw(0, kIdle);
        return;
    }
    p.MsgboxViw(2, failureText(p, shown));
    // Stopped, or the server connection's retry starts everything again.
    if (!p.run.Syn_Run || p.run.Syn_Stop)
        return;
    p.app.Sleep_Left = kRetrySleep;
    if (began)
        p.logs.Add_LogMsg(kRetryMessage);
}

}  // namespace tarvelo::app
