#include "sync/db_side.h"
#include "sync/engine.h"
#include "sync/ledger_rows.h"

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
    auto byMaster = [&](const char* table) { return del(QString::fromLatin1(table), "where NRS1 = " + K); };

    if (!del(treco, "where No_Rec = " + K))
        return false;

    if (treco == u"accbud_tab") {
        if (!byMaster("rowbud_tab"))
            return false;
    } else if (treco == u"accreg_tab") {
        if (!byMaster("rowacc_tab"))
            return false;
    } else if (treco == u"mreport_tab") {
        if (!byMaster("sreport_tab"))
            return false;
    } else if (treco == u"sheft_tab") {
        if (!byMaster("sheftrow_tab"))
            return false;
    } else if (treco == u"invoice_tab") {
        // The serial history goes first, so the repair sees only what remains without this invoice.
        if (!byMaster("rowvoi_tab") || !byMaster("seri_tab")
            || !del(QStringLiteral("inbill_tab"), "where No_bill = " + K)
            || !del(QStringLiteral("rowacc_tab"), "where NoVoi_2 = " + K))
            return false;
        const qint16 repaired = side.server ? Seri_Restore_Ser(ctx, no_rec) : Seri_Restore_Loc(ctx, no_rec);
        if (repaired != 1)
            return false;
    } else if (treco == u"inbill_tab") {
        if (!byMaster("rowacc_tab"))
            return false;
    } else if (treco == u"stock_tab") {
        if (!byMaster("stocinf_tab"))
            return false;
    } else if (treco == u"rowshef_tab") {
        // Punches saved for this shift row go; the others only lose their link.
        if (!del(QStringLiteral("rst_tab"), "where NRS1 = " + K + " and KinSave = '3'"))
            return false;
        if (!side.update(exec, QStringLiteral("KinSave = '0',NRS1 = '--'"), QStringLiteral("rst_tab"),
                         "where NRS1 = " + K + " and KinSave <> '3'"))
            return false;
    } else if (treco == u"kinreg_tab") {
        if (!byMaster("kinregr_tab"))
            return false;
    }

    data::RecordsetVar pic;
    side.remove(pic, QStringLiteral("picstream_tab"), "where NoID = " + K + " and rec_tab = " + lit(treco));
    return true;
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
