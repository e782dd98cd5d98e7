#include "sync/engine.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"

namespace tarvelo::sync {

using ledger::lit;

namespace {

// Sets `set` on the rows of `table` that `clause` selects and makes them this branch's edit of now.
bool markMine(SyncContext& ctx, const QString& table, const QString& set, const QString& clause)
{
    data::RecordsetVar exec;
    const QString mine = ",No_Branch = " + lit(ctx.run.config.My_Branch) + ",DatTim1 = "
                         + lit(ctx.now().toString(QStringLiteral("yyyyMMddhhmmss")));
    if (!ctx.db.Update_Loc(exec, set + mine, table, clause))
        return false;
    ctx.tables.raiseSend(table);
    return true;
}

bool sendAgain(SyncContext& ctx, const QString& treco, const QString& noRec, int depth)
{
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, treco, "where No_Rec = " + lit(noRec)))
        return false;
    if (rs->recordCount() == 0)
        return true;
    rs->moveFirst();
    const QString key = lit(noRec);
    const QString toSendToo = "SynAdd = " + lit(ledger::synAdd::ToSendToo);
    if (!markMine(ctx, treco, ledger::restoredSet() + u',' + toSendToo, "where No_Rec = " + key)
        || !markMine(ctx, QString::fromUtf16(records::kPictures.table), toSendToo, picturesClause(treco, noRec)))
        return false;
    for (const records::Member& m : records::membersOf(treco)) {
        const QString table = QString::fromUtf16(m.table);
        const QString named = "where " + QString::fromUtf16(m.link) + " = " + key;
        if (m.onDelete == records::OnDelete::Kept)
            continue;
        if (m.onDelete == records::OnDelete::Repaired) {
            // The states go back to this branch's history, which still holds the record's lines.
            if (Seri_Restore_States_Loc(ctx, "where No_seri in (select No_seri from seri_tab " + named + u')') != 1)
                return false;
            continue;
        }
        if (m.detail) {
            // Marked as edits, so the master's check holds it until they have left.
            if (!markMine(ctx, table, "SynAdd = " + lit(ledger::synAdd::ToSend),
                          named + " and DRS1 = " + lit(rs->text(u"DRS1"))))
                return false;
            continue;
        }
        if (!markMine(ctx, table, toSendToo, named))
            return false;
        // A member that is a master itself (a bill) takes its own family along.
        if (depth > 0 || !records::familyOf(table))
            continue;
        data::RecordsetVar rows;
        if (!ctx.db.Open_Rs_Loc(rows, table, named))
            return false;
        const long long n = rows->recordCount();
        if (n > 0)
            rows->moveFirst();
        for (long long i = 0; i < n; ++i, rows->moveNext())
            if (!sendAgain(ctx, table, rows->text(u"no_rec"), depth + 1))
                return false;
    }
    return true;
}

}  // namespace

bool Send_Again(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    try {
        if (!sendAgain(ctx, treco, no_rec, 0))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    ++ctx.state.Sent_Again;
    return true;
}

}  // namespace tarvelo::sync
