#include "sync/db_side.h"
#include "sync/engine.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"

namespace tarvelo::sync {

using ledger::lit;

namespace {

bool deleteReco(SyncContext& ctx, const DbSide& side, const QString& treco, const QString& no_rec)
{
    if (!ledger::isSynchronised(treco))
        return false;
    data::RecordsetVar exec;
    const QString K = lit(no_rec);
    auto del = [&](const QString& table, const QString& clause) { return side.remove(exec, table, clause); };
    auto update = [&](const QString& set, const QString& table, const QString& clause) {
        return side.update(exec, set, table, clause);
    };

    if (!del(treco, "where No_Rec = " + K))
        return false;
    for (const records::Member& m : records::membersOf(treco)) {
        const QString where = "where " + QString::fromUtf16(m.link) + " = " + K;
        if (!removeMemberRows(m, where, where, del, update))
            return false;
        if (m.onDelete == records::OnDelete::Repaired
            && (side.server ? Seri_Restore_Ser(ctx, no_rec) : Seri_Restore_Loc(ctx, no_rec)) != 1)
            return false;
    }

    // Pictures left behind would outlive their record for good: a failure leaves the deletion to a
    // later cycle, like any other of its statements.
    data::RecordsetVar pic;
    return side.remove(pic, QString::fromUtf16(records::kPictures.table), picturesClause(treco, no_rec));
}

}  // namespace

bool Delete_Reco_Loc(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    return deleteReco(ctx, DbSide{ctx.db, false}, treco, no_rec);
}

bool Delete_Reco_Ser(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    return deleteReco(ctx, DbSide{ctx.db, true}, treco, no_rec);
}

}  // namespace tarvelo::sync
