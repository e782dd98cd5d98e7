#include "sync/engine.h"

#include "records/record_copy.h"

namespace tarvelo::sync {

void Read_Branch_Set(SyncContext& ctx)
{
    records::BranchSettings& b = ctx.branch;
    SyncState& s = ctx.state;
    if (b.Bra_Only != -1 && !s.Bra_Changed)
        return;
    data::RecordsetVar& rs = ctx.vars.Rs_Target;
    if (!ctx.db.Open_Rs_Loc_Where_Order(rs, QStringLiteral("branch_tab"), QString(), QStringLiteral("no_rec"))) {
        ctx.window.XXXK.setForeColor(StatusLabelModel::Red);
        ctx.window.Label2.setText(7, kLocalDbError);
        return;  // the last good count stays: a failed read says nothing about the branches
    }
    try {
        if (rs->recordCount() == 0) {
            ctx.window.XXXK.setForeColor(StatusLabelModel::Orange);
            ctx.window.Label2.setText(7, QStringLiteral("خطاء"));
            return;
        }
        // Everything is read before anything is set, so a bad row leaves the old values whole.
        const QString& me = ctx.run.config.My_Branch;
        qint16 count = 0, others = 0;
        std::optional<std::array<qint16, 4>> own;
        rs->moveFirst();
        const long long n = rs->recordCount();
        for (long long i = 1; i <= n; ++i, rs->moveNext()) {
            const bool isMe = !rs->isNull(u"no_rec") && rs->text(u"no_rec") == me;
            if (isMe)
                own = std::array<qint16, 4>{records::leadingInt16(rs->text(u"kinSyn")),
                                            records::leadingInt16(rs->text(u"set1")),
                                            records::leadingInt16(rs->text(u"set2")),
                                            records::leadingInt16(rs->text(u"set3"))};
            if (records::leadingNumber(rs->text(u"kinSyn")) == 0 && records::leadingNumber(rs->text(u"DesEna")) == 0) {
                ++count;
                if (!isMe)
                    ++others;
            }
        }
        if (own) {
            b.Bra_Only = (*own)[0];
            b.Bra_Set1 = (*own)[1];
            b.Bra_Set2 = (*own)[2];
            b.Bra_Set3 = (*own)[3];
        }
        s.Bra_Count = count;
        s.Bra_Others = others;
        s.Bra_Count_Known = true;
        s.Bra_Changed = false;
    } catch (const std::exception&) {
        // An unreadable row: the settings stay as they were and the next cycle reads again.
    }
}

}  // namespace tarvelo::sync
