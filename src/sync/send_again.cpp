#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "records/families.h"

namespace tarvelo::sync {

using ledger::lit;

bool Send_Again(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    try {
        const QString key = lit(no_rec);
        for (const records::Member& m : records::membersOf(treco)) {
            // States that took the server's repair go back to this branch's history, which still
            // holds the record's lines; before the record is marked, so a failure leaves it to a
            // later cycle whole.
            if (m.onDelete == records::OnDelete::Repaired
                && Seri_Restore_States_Loc(ctx, "where No_seri in (select No_seri from seri_tab where "
                                                    + QString::fromUtf16(m.link) + " = " + key + u')')
                       != 1)
                return false;
        }
        if (!Mark_Mine(ctx, treco, ledger::restoredSet() + ",SynAdd = " + lit(ledger::synAdd::ToSendToo),
                       "where No_Rec = " + key))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    ++ctx.state.Sent_Again;
    return true;
}

}  // namespace tarvelo::sync
