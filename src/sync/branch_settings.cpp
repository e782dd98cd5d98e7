#include "sync/engine.h"

#include "records/record_copy.h"

namespace tarvelo::sync {

BranchListRead Read_Branch_List(SyncContext& ctx)
{
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc_Where_Order(rs, QStringLiteral("branch_tab"), QString(), QStringLiteral("no_rec")))
        return BranchListRead::Failed;
    try {
        // Every branch holds its own row: an empty list is a read that says nothing.
        if (rs->recordCount() == 0)
            return BranchListRead::Empty;
        // Everything is read before anything is set, so a bad row leaves the old values whole.
        const QString& me = ctx.run.config.My_Branch;
        QStringList others;
        std::optional<std::array<qint16, 4>> own;
        rs->moveFirst();
        const long long n = rs->recordCount();
        for (long long i = 1; i <= n; ++i, rs->moveNext()) {
            if (rs->isNull(u"no_rec"))
                continue;
            const QString no = rs->text(u"no_rec");
            if (no == me)
                own = std::array<qint16, 4>{records::leadingInt16(rs->text(u"kinSyn")),
                                            records::leadingInt16(rs->text(u"set1")),
                                            records::leadingInt16(rs->text(u"set2")),
                                            records::leadingInt16(rs->text(u"set3"))};
            else if (records::leadingNumber(rs->text(u"kinSyn")) == 0 && records::leadingNumber(rs->text(u"DesEna")) == 0)
                others << no;
        }
        records::BranchSettings& b = ctx.branch;
        if (own) {
            b.Bra_Only = (*own)[0];
            b.Bra_Set1 = (*own)[1];
            b.Bra_Set2 = (*own)[2];
            b.Bra_Set3 = (*own)[3];
        }
        ctx.state.Ans_Branches = others;
        ctx.state.Ans_Branches_Known = true;
        return BranchListRead::Read;
    } catch (const std::exception&) {
        // An unreadable row: everything stays as it was and the next read tries again.
        return BranchListRead::Failed;
    }
}

void Read_Branch_Set(SyncContext& ctx)
{
    if (ctx.branch.Bra_Only != -1 && !ctx.state.Bra_Changed)
        return;
    switch (Read_Branch_List(ctx)) {
    case BranchListRead::Read:
        ctx.state.Bra_Changed = false;
        break;
    case BranchListRead::Empty:
        ctx.window.XXXK.setForeColor(StatusLabelModel::Orange);
        ctx.window.Label2.setText(7, QStringLiteral("خطاء"));
        break;
    case BranchListRead::Failed:
        // The last good list stays: a failed read says nothing about the branches.
        ctx.window.XXXK.setForeColor(StatusLabelModel::Red);
        ctx.window.Label2.setText(7, kLocalDbError);
        break;
    }
}

}  // namespace tarvelo::sync
