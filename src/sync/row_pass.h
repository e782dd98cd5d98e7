#pragma once
// The row loop of a table pass, shared by the send and the receive pass: the progress label,
// the pass's bound, how each row's step goes on, the switch-off and the busy images.
#include "sync/engine.h"

#include <exception>

namespace tarvelo::sync {

// How one row went, and so how the pass goes on.
enum class RowStep {
    Written,  // done; the switch-off is looked at before the next row
    Skipped,  // left as it is, not counted; straight on
    Counted,  // left for a later pass and counted as work left
    EndPass,  // the pass ends here with 1 more
    Refused,  // an answer was refused: the pass ends here with 2 more
};

struct RowPass {
    QString prefix;         // Label7 shows "<prefix><rows>_<row>_(<count>)"
    const qint32& count;    // what the pass did so far (Snd_Pass, Rec_Pass)
    qint32 limit;           // past it the pass ends with 1 more
    bool hideSaveOnStop;    // a switch-off also hides the saving image
};

// Runs `step` on each row of `rows`, first to last; the rows left for a later pass.
template <class Step>
qint32 runRows(SyncContext& ctx, data::Recordset& rows, const RowPass& pass, Step step)
{
    SyncWindow& w = ctx.window;
    auto hideBusy = [&] {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
    };
    qint32 left = 0;
    try {
        const long long n = rows.recordCount();
        if (n > 0)
            rows.moveFirst();
        for (long long i = 1; i <= n; ++i, rows.moveNext()) {
            w.ImgLoa.setVisible(true);
            w.Label7.setText(pass.prefix + QString::number(n) + u'_' + QString::number(i) + "_("
                             + QString::number(pass.count) + u')');
            if (pass.count > pass.limit) {
                hideBusy();
                return left + 1;
            }
            switch (step()) {
            case RowStep::Skipped:
                continue;
            case RowStep::Counted:
                ++left;
                continue;
            case RowStep::EndPass:
                hideBusy();
                return left + 1;
            case RowStep::Refused:
                hideBusy();
                return left + 2;
            case RowStep::Written:
                break;
            }
            if (!ctx.run.Syn_Run) {
                w.Label2.setText(7, kSynOff);
                if (pass.hideSaveOnStop)
                    w.ImgSav.setVisible(false);
                return left;
            }
        }
    } catch (const std::exception&) {
        hideBusy();
        return left + 1;
    }
    hideBusy();
    return left;
}

}  // namespace tarvelo::sync
