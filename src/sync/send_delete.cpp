#include "sync/engine.h"
#include "sync/ledger_rows.h"

namespace tarvelo::sync {

qint32 Send_Delete(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    const QString prefix = "sd_" + treco.left(3) + "ox" + treco + "_rec_2";
    w.Text4567.setText(QStringLiteral("Send_Delete"));
    w.Label7.setText(prefix + "_0_0");

    data::RecordsetVar& rs = ctx.vars.Rs_Target;
    if (!ctx.db.Open_Rs_Loc(rs, treco, QStringLiteral("where SynDele = '1'"))) {
        w.XXXK.setForeColor(StatusLabelModel::Red);
        w.Label2.setText(7, kLocalDbError);
        return 1;
    }
    qint32 failed = 0;
    long long n = 0;
    try {
        n = rs->recordCount();
        if (n == 0)
            return 0;
        rs->moveFirst();
    } catch (const std::exception&) {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
        return failed + 1;
    }
    // Keep our own reference: a handler run during a request may point Rs_Target elsewhere.
    const data::RecordsetVar rows = rs;
    for (long long i = 1; i <= n; ++i) {
        if (!ctx.run.Syn_Run) {
            w.Label2.setText(7, kSynOff);
            return failed;
        }
        w.ImgLoa.setVisible(true);
        w.ImgSav.setVisible(true);
        w.Label7.setText(prefix + u'_' + QString::number(n) + u'_' + QString::number(i));
        try {
            // A row without a stamp or a number cannot be announced; it must not hold up the rest.
            if (rows->isNull(u"DatTim2") || rows->isNull(u"no_rec"))
                throw data::DbError(QStringLiteral("a row to announce without DatTim2 or no_rec"));
            const QString reply = ctx.web.Web_Save_Syn(treco, rows->text(u"DatTim2"), rows->text(u"no_rec"), 2, 0,
                                                       QStringLiteral("0"));
            if (reply == u"OK") {
                rows->setValue(u"SynDele", QStringLiteral("2"));
                rows->update();
            } else {
                ++failed;
            }
        } catch (const std::exception&) {
            ++failed;
            try {
                rows->cancelUpdate();
            } catch (const std::exception&) {
            }
        }
        if (i < n)
            rows->moveNext();
    }
    w.ImgSav.setVisible(false);
    w.ImgLoa.setVisible(false);
    return failed;
}

}  // namespace tarvelo::sync
