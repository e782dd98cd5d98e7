#include "sync/engine.h"

#include "data/sql_text.h"
#include "records/families.h"

namespace tarvelo::sync {

void Mark_Sub_Tabs(SyncContext& ctx, const QString& table)
{
    records::TableList& t = ctx.tables;
    for (const records::Member& m : records::membersOf(table)) {
        if (!m.scheduled)
            continue;
        for (int i = 0; i <= t.Tab_Count && i < records::TableList::Slots; ++i)
            if (t.Syn_Tabs[size_t(i)] == QStringView(m.table))
                ++t.Tab_Send[size_t(i)];
    }
}

bool Read_Work_Tab(SyncContext& ctx)
{
    const QString& mark = ctx.state.Work_Mark[0];
    const QString clause = mark.isEmpty() || mark == u"--" ? QString() : "where no_rec  > " + data::sqlLiteral(mark);
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc_Where_Order(rs, QStringLiteral("work_tab"), clause, QStringLiteral("No_Rec")))
        return false;
    records::TableList& t = ctx.tables;
    try {
        const long long n = rs->recordCount();
        if (n == 0)
            return true;
        rs->moveFirst();
        for (long long i = 1; i <= n; ++i, rs->moveNext()) {
            if (!ctx.run.Syn_Run) {
                ctx.window.Label2.setText(7, kSynOff);
                return true;
            }
            const QString table = rs->text(u"Ne_KinTab");
            const QString kind = rs->text(u"Ne_Rec");
            for (int s = 0; s <= t.Tab_Count && s < records::TableList::Slots; ++s) {
                const QString name = t.Syn_Tabs[size_t(s)];
                if (name.isEmpty() || name != table)
                    continue;
                if (kind == u"Add" || kind == u"Edit") {
                    ++t.Tab_Send[size_t(s)];
                    Mark_Sub_Tabs(ctx, name);
                } else if (kind == u"Delete" || kind == u"Order_Delete") {
                    ++t.Tab_SendDel[size_t(s)];
                }
            }
            ctx.state.Work_Mark[1] = rs->text(u"no_rec");
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace tarvelo::sync
