#include "sync/engine.h"
#include "sync/ledger_rows.h"

namespace tarvelo::sync {

using ledger::lit;
using ledger::text;
namespace kin1 = ledger::kin1;
namespace kin2 = ledger::kin2;
namespace kin3 = ledger::kin3;

qint32 Rece_Delete(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    const QString prefix = "RD_" + treco.left(3) + "_rec_";
    w.Label7.setText(prefix + "0_0");

    data::RecordsetVar atten;
    if (!ctx.db.Open_Rs_Loc(atten, QStringLiteral("atten_rec"),
                            "where treco =" + lit(treco) + " and branch <> " + lit(ctx.run.config.My_Branch)
                                + " and kin1 = " + lit(text(kin1::Deletion)) + " and kin2 = " + lit(text(kin2::Announced))
                                + " and kin3 = " + lit(text(kin3::Open))))
        return 1;
    qint32 failed = 0;
    try {
        const long long n = atten->recordCount();
        if (n == 0)
            return 0;
        atten->moveFirst();
        for (long long i = 1; i <= n; ++i, atten->moveNext()) {
            if (!ctx.run.Syn_Run) {
                w.Label2.setText(7, kSynOff);
                return failed;
            }
            w.ImgLoa.setVisible(true);
            w.Label7.setText(prefix + QString::number(n) + u'_' + QString::number(i));

            const QString NoRec = atten->text(u"NoRec");
            const QString SynLast = atten->text(u"SynLast");
            // No version to answer about: the resolution drops the row.
            if (!Ledger_Row_Usable(ctx, NoRec, treco, atten->text(u"branch"), SynLast, kin1::Deletion))
                continue;
            data::RecordsetVar& rec = ctx.vars.Rs_Target;
            if (!ctx.db.Open_Rs_Loc(rec, treco, "where No_Rec = " + lit(NoRec))) {
                w.XXXK.setForeColor(StatusLabelModel::Red);
                w.Label2.setText(7, kLocalDbError);
                return failed + 1;
            }
            const data::RecordsetVar record = rec;
            QString reply;
            if (record->recordCount() > 0) {
                record->moveFirst();
                // One unreadable row must not hold up every later announcement of the table.
                if (record->isNull(u"no_rec") || record->isNull(u"DatTim2")) {
                    ++failed;
                    continue;
                }
                const QString held = record->text(u"DatTim2");
                // Only the announced version is answered: an answer about another version is never
                // counted and would stall the exchange.
                if (held < SynLast) {
                    ++failed;  // our copy of the announced version has not arrived yet
                    continue;
                }
                if (held > SynLast) {
                    // A newer version lives here: the announcement is superseded.
                    atten->setValue(u"kin3", text(kin3::Done));
                    atten->update();
                    continue;
                }
                // This branch's own edit still to be sent outlives the deletion, as it would had it
                // reached the server first.
                bool free = false;
                if (!ledger::ownPending(*record, ctx.run.config.My_Branch)) {
                    const std::optional<bool> named = Check_Dele_Named(ctx, treco, record->text(u"no_rec"));
                    // A check that failed decides nothing: the announcement waits, unanswered.
                    if (!named) {
                        ++failed;
                        continue;
                    }
                    free = !*named;
                }
                w.ImgSav.setVisible(true);
                reply = ctx.web.Web_Save_Syn(treco, held, record->text(u"no_rec"), kin1::DeletionAnswer,
                                             free ? kin2::Announced : kin2::Refused, ledger::kFirstStage);
                if (reply == u"OK" && free) {
                    record->setValue(u"SynDele", ledger::synDele::Pending);
                    record->update();
                }
            } else {
                // Nothing here to keep: accepted at once.
                w.ImgSav.setVisible(true);
                reply = ctx.web.Web_Save_Syn(treco, SynLast, NoRec, kin1::DeletionAnswer, kin2::Announced,
                                             ledger::kFirstStage);
            }
            if (reply != u"OK") {
                ++failed;
                continue;
            }
            atten->setValue(u"kin3", text(kin3::Done));
            atten->update();
        }
    } catch (const std::exception&) {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
        return failed + 1;
    }
    w.ImgSav.setVisible(false);
    w.ImgLoa.setVisible(false);
    return failed;
}

}  // namespace tarvelo::sync
