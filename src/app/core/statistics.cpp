// The cycle bookkeeping: the next sleep here; the statistics row and the notices in the engine.
#include "app/core/program.h"

#include "sync/engine.h"

namespace tarvelo::app {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

}  // namespace

// ---- statistics ------------------------------------------------------------------------------

void Program::Syn_Statistic(qint16 Mode)
{
    // Every step on its own: a failing one is skipped and the next runs.
    auto step = [this](const std::function<void()>& fn) { guarded("SYN015", fn); };

    if (Mode == 1) {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        const qint64 elapsed = QDateTime::fromString(app.Syn_FromD, kTimeFormat).secsTo(now());
        app.Syn_ToD = now().toString(kTimeFormat);
        if (sync.Cnt_Send > 0 || sync.Cnt_Rece > 0 || sync.Cnt_Check > 0 || run.Syn_First == 1)
            app.Sleep_Left = 0;
        else if (elapsed < 0 || elapsed > 120)
            app.Sleep_Left = 0;
        else
            app.Sleep_Left = qint32(120 - elapsed);
    } else {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        app.Sleep_Left = 0;
    }

    // Only the copy that holds the branch database's lock writes there; the start-up takes it.
    sync::BranchLock& lock = sync.Branch_Lock;
    const bool holds = Mode == 0 ? lock.takeForBooks(db, web) : lock.held();
    if (holds)
        sync::Save_Syn_Statistic(ctx, Mode, app.Syn_FromD, app.Syn_ToD, app.Cnt_Cycle, step);
}

}  // namespace tarvelo::app
