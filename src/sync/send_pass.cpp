#include "sync/engine.h"

#include "records/record_copy.h"
#include "sync/links.h"

namespace tarvelo::sync {

namespace {

using data::sqlLiteral;

const char16_t* const kCommonCopied[] = {u"Na_Rec", u"Ne_Rec", u"Date_Edit_H", u"Date_Edit_G"};
const char16_t* const kCommonCopiedLast[] = {u"Time_Edit", u"DesEna", u"SpaBra", u"HidSho", u"No_UseEdi", u"No_Branch"};

}  // namespace

qint32 Send_Reco(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    data::RunState& run = ctx.run;
    const QString& me = run.config.My_Branch;
    const QString prefix = "SR_" + treco.left(3) + "_rec_";

    w.Text4567.setText(QStringLiteral("Send_Reco"));
    w.XXXK.setCaption(QStringLiteral("p"));
    w.Label7.setText(prefix + "0_0_(0)");
    run.Snd_Pass = 0;
    if (!run.Syn_Run) {
        w.Label2.setText(7, kSynOff);
        return 0;
    }

    const QString clause = "where SynAdd = " + sqlLiteral(u"1") + " and No_Branch = " + sqlLiteral(me)
                           + " and SynDele = " + sqlLiteral(u"0") + " or SynAdd = " + sqlLiteral(u"5")
                           + " and No_Branch = " + sqlLiteral(me) + "and SynDele = " + sqlLiteral(u"0");
    if (!ctx.db.Open_Rs_Loc_Where_Order(ctx.vars.Rs_Source, treco, clause, QStringLiteral("DatTim1")))
        return 1;
    const data::RecordsetVar src = ctx.vars.Rs_Source;

    auto hideBusy = [&] {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
    };
    qint32 result = 0;
    try {
        const long long n = src->recordCount();
        if (n == 0) {
            hideBusy();
            return 0;
        }
        bool isMaster = false;
        const auto links = linkColumns(treco, isMaster);
        records::RecordsContext rctx = ctx.records();

        src->moveFirst();
        for (long long i = 1; i <= n; ++i, src->moveNext()) {
            w.ImgLoa.setVisible(true);
            w.Label7.setText(prefix + QString::number(n) + u'_' + QString::number(i) + "_("
                             + QString::number(run.Snd_Pass) + u')');
            if (run.Snd_Pass > 200) {
                hideBusy();
                return result + 1;
            }
            const QString noRec = src->text(u"no_rec");
            if (treco == u"branchsyn_tab" && noRec != me)
                continue;
            if (treco == u"notic_tab" && src->text(u"No_Branch") != me)
                continue;

            // A row without a readable edit stamp is left marked and counted; the rows after it go on.
            const std::optional<QString> stamp =
                src->isNull(u"DatTim1") || src->isNull(u"no_rec") ? std::nullopt
                                                                  : editStampServerTime(src->text(u"DatTim1"), run.Time_Diff);
            if (!stamp) {
                ++result;
                continue;
            }

            if (!ctx.db.Open_Rs_Ser(ctx.vars.Rs_Target, treco, "where No_Rec = " + sqlLiteral(noRec))) {
                // Work left, not work done; a lost connection ends the pass, the cycle stops on it.
                ++result;
                if (run.Syn_Stop) {
                    hideBusy();
                    return result;
                }
                continue;
            }
            const data::RecordsetVar tgt = ctx.vars.Rs_Target;
            const bool onServer = tgt->recordCount() > 0;
            if (onServer) {
                tgt->moveFirst();
                // Another branch's newer version is on the server: the receive pass brings it here.
                if (tgt->text(u"No_Branch") != me && tgt->text(u"DatTim1") > *stamp)
                    continue;
            } else {
                tgt->addNew();
                tgt->setValue(u"no_rec", noRec);
            }

            for (const char16_t* c : links)
                tgt->setValue(QStringView(c), src->value(QStringView(c)));
            if (isMaster && !Check_Save_Other(ctx, treco, 1)) {
                ++result;
                continue;
            }
            records::Copy_Reco(rctx, treco);

            const QString serverStamp = newServerStamp(ctx.now(), run.Time_Diff, ctx.state.Last_Stamp);
            for (const char16_t* c : kCommonCopied)
                tgt->setValue(QStringView(c), src->value(QStringView(c)));
            tgt->setValue(u"DatTim1", *stamp);
            tgt->setValue(u"DatTim2", serverStamp);
            tgt->setValue(u"SynAdd", src->value(u"SynAdd"));
            for (const char16_t* c : kCommonCopiedLast)
                tgt->setValue(QStringView(c), src->value(QStringView(c)));

            w.ImgSav.setVisible(true);
            if (ctx.web.Web_Save_Syn(treco, serverStamp, noRec, 0, 0, QStringLiteral("0")) != u"OK") {
                hideBusy();
                return result + 1;
            }
            // Only now, with the master's details known complete and its version announced, do the
            // server's details of older revisions go.
            if (onServer && isMaster) {
                data::RecordsetVar exec;
                const bool removed = removeStaleDetails(
                    treco, noRec, src->text(u"DRS1"),
                    [&](const QString& table, const QString& where) { return ctx.db.Delete_Ser(exec, table, where); },
                    [&](const QString& set, const QString& table, const QString& where) {
                        return ctx.db.Update_Ser(exec, set, table, where);
                    });
                if (!removed) {
                    hideBusy();
                    return result + 1;
                }
            }
            tgt->update();
            src->setValue(u"DatTim1", *stamp);
            src->setValue(u"DatTim2", serverStamp);
            src->setValue(u"SynAdd", QStringLiteral("0"));
            src->update();
            ++run.Snd_Pass;

            if (treco != u"notic_tab" && treco != u"branchsyn_tab") {
                ++ctx.state.Cnt_Send;
                const QString message = treco == u"rst_tab" ? "ارسال " + noRec
                                                             : "ارسال " + noRec + " : " + src->text(u"Na_Rec");
                ctx.logs.Add_LogSyn(message, QStringLiteral("1"), noRec, QString());
            }
            if (!run.Syn_Run) {
                w.Label2.setText(7, kSynOff);
                w.ImgSav.setVisible(false);
                return result;
            }
        }
    } catch (const std::exception&) {
        hideBusy();
        return result + 1;
    }
    hideBusy();
    return result;
}

}  // namespace tarvelo::sync
