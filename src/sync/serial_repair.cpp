#include "sync/db_side.h"
#include "sync/engine.h"
#include "sync/ledger_rows.h"

namespace tarvelo::sync {

using ledger::lit;

namespace {

// Columns of a serial number's state taken from its newest remaining history row, in this order.
const char* const kFromHistory[] = {"kin",         "kin2",        "NRS1",      "DRS1",      "No_Store", "Na_Rec",
                                    "Ne_Rec",      "Date_Edit_H", "Date_Edit_G"};

// Sets the state rows `states` selects to the newest history of their serial number.
qint16 seriRestore(SyncContext& ctx, const DbSide& side, const QString& states, bool& touched)
{
    try {
        data::RecordsetVar serim;
        if (!side.open(serim, QStringLiteral("serim_tab"), states))
            return -1;
        const long long n = serim->recordCount();
        if (n == 0)
            return 1;
        touched = true;
        bool complete = true;
        serim->moveFirst();
        for (long long i = 0; i < n; ++i, serim->moveNext()) {
            const QString serial = serim->text(u"No_seri");
            data::RecordsetVar seri;
            // A state row left naming the deleted invoice is work left: the whole deletion runs again.
            if (!side.openOrdered(seri, QStringLiteral("seri_tab"), "where No_seri = " + lit(serial),
                                  QStringLiteral("DatTim1"))) {
                complete = false;
                continue;
            }
            if (seri->recordCount() == 0) {
                data::RecordsetVar work;
                if (!side.remove(work, QStringLiteral("serim_tab"), "where No_seri = " + lit(serial)))
                    complete = false;
                continue;
            }
            seri->moveLast();
            const QDateTime now = ctx.now();
            for (const char* column : kFromHistory)
                serim->setValue(QString::fromLatin1(column), seri->value(QString::fromLatin1(column)));
            serim->setValue(u"DatTim1", now.toString(QStringLiteral("yyyyMMddhhmmss")));
            serim->setValue(u"SynAdd", ledger::synAdd::ToSendToo);
            serim->setValue(u"Time_Edit", now.toString(QStringLiteral("hh:mm:ss")));
            serim->setValue(u"DatTim2", QStringLiteral("--"));
            serim->setValue(u"NoBra2", QStringLiteral("--"));
            serim->setValue(u"No_UseEdi", seri->value(u"No_UseEdi"));
            // The repaired state is this branch's change to send: the send pass takes only its own rows.
            if (side.server)
                serim->setValue(u"No_Branch", seri->value(u"No_Branch"));
            else
                serim->setValue(u"No_Branch", ctx.run.config.My_Branch);
            serim->update();
        }
        return complete ? 1 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace

qint16 Seri_Restore_Loc(SyncContext& ctx, const QString& no_rec)
{
    return Seri_Restore_States_Loc(ctx, "where NRS1 = " + lit(no_rec));
}

qint16 Seri_Restore_States_Loc(SyncContext& ctx, const QString& states)
{
    bool touched = false;
    const qint16 result = seriRestore(ctx, DbSide{ctx.db, false}, states, touched);
    // Repaired state rows are marked to be sent; without this they would wait for the next full rescan.
    if (touched)
        ctx.tables.raiseSend(u"serim_tab");
    return result;
}

qint16 Seri_Restore_Ser(SyncContext& ctx, const QString& no_rec)
{
    bool touched = false;
    return seriRestore(ctx, DbSide{ctx.db, true}, "where NRS1 = " + lit(no_rec), touched);
}

}  // namespace tarvelo::sync
