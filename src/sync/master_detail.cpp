#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "data/sql_text.h"
#include "records/families.h"
#include "records/record_copy.h"

namespace tarvelo::sync {

bool Check_Save_Other(SyncContext& ctx, const QString& treco, qint16 kin)
{
    if (ctx.run.Syn_First == 1)
        return true;
    try {
        const data::Recordset& src = *ctx.vars.Rs_Source;
        for (const records::Member& m : records::membersOf(treco)) {
            if (!m.count)
                continue;
            const double expected = records::leadingNumber(src.text(QStringView(m.count)));
            const QString noRec = src.text(u"no_rec");
            const QString clause = "where DRS1 = " + data::sqlLiteral(src.text(u"DRS1")) + " and NRS1 = "
                                   + data::sqlLiteral(noRec)
                                   + (kin == 1 ? " and SynAdd <> " + data::sqlLiteral(ledger::synAdd::ToSend) : QString());
            const std::optional<qint64> found = ctx.db.Count_Rows_Loc(QString::fromUtf16(m.table), clause);
            // A count that failed says nothing about the details: the master waits.
            if (!found)
                return false;
            if (double(*found) != expected) {
                ctx.tables.raiseRece(QStringView(m.table));
                return false;
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace tarvelo::sync
