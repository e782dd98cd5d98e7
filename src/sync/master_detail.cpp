#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "data/sql_text.h"
#include "records/record_copy.h"

namespace tarvelo::sync {

namespace {

struct Pair {
    const char16_t* master;
    const char16_t* countColumn;
    const char16_t* detail;
};

// In the order they are checked.
constexpr Pair kSubTabsMap[] = {
    {u"mreport_tab", u"CRS1", u"sreport_tab"}, {u"sheft_tab", u"CRS1", u"sheftrow_tab"},
    {u"kinreg_tab", u"CRS1", u"kinregr_tab"},  {u"rowshef_tab", u"CRS1", u"rst_tab"},
    {u"accbud_tab", u"CRS1", u"rowbud_tab"},   {u"inbill_tab", u"CRS1", u"rowacc_tab"},
    {u"invoice_tab", u"CRS1", u"rowvoi_tab"},  {u"invoice_tab", u"CRS2", u"seri_tab"},
    {u"stock_tab", u"CRS1", u"stocinf_tab"},   {u"stock_tab", u"CRS2", u"stocgro_tab"},
    {u"accreg_tab", u"CRS1", u"rowacc_tab"},
};

}  // namespace

bool Check_Save_Other(SyncContext& ctx, const QString& treco, qint16 kin)
{
    if (ctx.run.Syn_First == 1)
        return true;
    try {
        const data::Recordset& src = *ctx.vars.Rs_Source;
        for (const Pair& p : kSubTabsMap) {
            if (treco != QStringView(p.master))
                continue;
            const double expected = records::leadingNumber(src.text(QStringView(p.countColumn)));
            const QString noRec = src.text(u"no_rec");
            const QString clause = "where DRS1 = " + data::sqlLiteral(src.text(u"DRS1")) + " and NRS1 = "
                                   + data::sqlLiteral(noRec)
                                   + (kin == 1 ? " and SynAdd <> " + data::sqlLiteral(ledger::synAdd::ToSend) : QString());
            const std::optional<qint64> found = ctx.db.Count_Rows_Loc(QString::fromUtf16(p.detail), clause);
            // A count that failed says nothing about the details: the master waits.
            if (!found)
                return false;
            if (double(*found) != expected) {
                ctx.tables.raiseRece(QStringView(p.detail));
                return false;
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace tarvelo::sync
