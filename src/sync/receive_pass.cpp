#include "sync/engine.h"

#include "records/record_copy.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"

namespace tarvelo::sync {

namespace {

using data::sqlLiteral;

// Whether this branch owes an answer for a version it already holds: another branch announced it
// and no answer of this branch is in the ledger (a branch that joined while the exchange was open
// received it in its first synchronisation, which posts no answers). False when unsure.
bool answerOwed(SyncContext& ctx, const QString& treco, const QString& noRec, const QString& version)
{
    const QString& me = ctx.run.config.My_Branch;
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                            "where NoRec = " + sqlLiteral(noRec) + " and treco = " + sqlLiteral(treco)
                                + " and SynLast = " + sqlLiteral(version) + " and (kin1 = '0' or kin1 = '1')"))
        return false;
    bool announced = false, answered = false;
    const long long n = rs->recordCount();
    if (n > 0)
        rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext()) {
        const bool mine = rs->text(u"branch") == me;
        const qint32 kin1 = ledger::num(rs->text(u"kin1"));
        if (kin1 == 0 && !mine && ledger::num(rs->text(u"kin2")) == 0 && ledger::num(rs->text(u"kin3")) == 0)
            announced = true;
        if (kin1 == 1 && mine)
            answered = true;
    }
    return announced && !answered;
}

}  // namespace

qint32 Rece_Reco(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    data::RunState& run = ctx.run;
    const QString& me = run.config.My_Branch;
    const QString prefix = "RR_" + treco.left(3) + "_rec_";

    w.Label7.setText(prefix + "0_0_(0)");
    run.Rec_Pass = 0;
    if (!run.Syn_Run) {
        w.Label2.setText(7, kSynOff);
        return 0;
    }

    auto hideBusy = [&] {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
    };
    qint32 failed = 0;  // rows that could not be taken and were left for a later pass
    try {
        QString clause, order;
        if (treco == u"branch_tab") {
            clause = "where SynDele = " + sqlLiteral(u"0");
            order = QStringLiteral("No_Rec");
        } else {
            order = QStringLiteral("DatTim2");
            QString bound = QStringLiteral("0");
            if (ctx.state.Syn_AllPass == 0) {
                // The resume point is the newest row received from the others: this branch's own
                // rows carry stamps of its later sends and would skip older rows not yet received.
                // Only the newest row is needed, not the whole table.
                const QString own = run.Syn_First == 1 ? QString() : "where No_Branch <> " + sqlLiteral(me) + u' ';
                data::RecordsetVar work;
                if (ctx.db.Open_Rs_Loc(work, treco, own + "order by DatTim2 DESC limit 1") && work->recordCount() > 0) {
                    work->moveFirst();
                    if (!work->isNull(u"DatTim2"))
                        bound = work->text(u"DatTim2");
                }
            }
            const QString live = "SynDele = " + sqlLiteral(u"0");
            const QString others = run.Syn_First == 1 ? QString() : "No_Branch <> " + sqlLiteral(me) + " and ";
            clause = "where " + others + live;
            if (ctx.state.Syn_AllPass == 0)
                clause += " and DatTim2 >= " + sqlLiteral(bound);
        }
        if (!ctx.db.Open_Rs_Ser_Where_Order(ctx.vars.Rs_Source, treco, clause, order))
            return 1;
        const data::RecordsetVar src = ctx.vars.Rs_Source;
        const long long n = src->recordCount();
        if (n == 0)
            return 0;

        bool isMaster = false;
        const auto links = linkColumns(treco, isMaster);
        records::RecordsContext rctx = ctx.records();
        const qint32 limit = run.Syn_First == 1 ? 4000 : 1000;

        src->moveFirst();
        for (long long i = 1; i <= n; ++i, src->moveNext()) {
            w.ImgLoa.setVisible(true);
            w.Label7.setText(prefix + QString::number(n) + u'_' + QString::number(i) + "_("
                             + QString::number(run.Rec_Pass) + u')');
            if (run.Rec_Pass > limit) {
                hideBusy();
                return failed + 1;
            }
            // A server row without its key or stamps can't be placed or answered: count it, go on.
            if (src->isNull(u"no_rec") || src->isNull(u"DatTim2")) {
                ++failed;
                continue;
            }
            const QString noRec = src->text(u"no_rec");
            const QString serverStamp2 = src->text(u"DatTim2");
            const QString serverStamp1 = src->text(u"DatTim1");

            if (!ctx.db.Open_Rs_Loc(ctx.vars.Rs_Target, treco, "where No_Rec = " + sqlLiteral(noRec))) {
                hideBusy();
                return failed + 1;
            }
            const data::RecordsetVar tgt = ctx.vars.Rs_Target;
            const bool held = tgt->recordCount() > 0;
            if (held) {
                tgt->moveFirst();
                if (treco == u"branchsyn_tab" && tgt->text(u"no_rec") == me)
                    continue;
                if (treco == u"notic_tab" && tgt->text(u"No_Branch") == me)
                    continue;
                const bool pending = ledger::ownPending(*tgt, me);
                QString localStamp = tgt->text(u"DatTim1");
                if (pending) {
                    const std::optional<QString> s = editStampServerTime(localStamp, run.Time_Diff);
                    if (!s) {
                        ++failed;
                        continue;
                    }
                    localStamp = *s;
                    // This branch's own edit, not older than the server's version, is still to be
                    // sent: the next send pass carries it, nothing here may overwrite it.
                    if (localStamp >= serverStamp1)
                        continue;
                }
                if (tgt->text(u"DatTim2") == serverStamp2) {
                    if ((serverStamp1 == localStamp && tgt->text(u"No_Branch") == src->text(u"No_Branch"))
                        || localStamp > serverStamp1) {
                        // A full rescan also answers what is held but was never answered.
                        if (ctx.state.Syn_AllPass != 0 && run.Syn_First != 1 && !pending
                            && src->text(u"SynAdd") != u"4" && answerOwed(ctx, treco, noRec, serverStamp2)
                            && ctx.web.Web_Save_Syn(treco, serverStamp2, noRec, 1, 0, QStringLiteral("0")) != u"OK") {
                            hideBusy();
                            return failed + 2;
                        }
                        continue;
                    }
                }
            } else {
                tgt->addNew();
                tgt->setValue(u"no_rec", noRec);
            }

            for (const char16_t* c : links)
                tgt->setValue(QStringView(c), src->value(QStringView(c)));
            if (isMaster && !Check_Save_Other(ctx, treco, 0)) {
                hideBusy();
                return failed + 1;
            }
            records::Copy_Reco(rctx, treco);
            for (const char16_t* c : {u"Na_Rec", u"Ne_Rec", u"Date_Edit_H", u"Date_Edit_G", u"DatTim2", u"DatTim1"})
                tgt->setValue(QStringView(c), src->value(QStringView(c)));
            w.ImgSav.setVisible(true);

            if (src->text(u"SynAdd") == u"4") {
                tgt->setValue(u"SynAdd", QStringLiteral("4"));
            } else {
                tgt->setValue(u"SynAdd", QStringLiteral("0"));
                if (ctx.web.Web_Save_Syn(treco, serverStamp2, noRec, 1, 0, QStringLiteral("0")) != u"OK") {
                    hideBusy();
                    return failed + 2;
                }
            }
            // The master's details of this revision are all here and its answer is posted: only now do
            // the older ones go, so a refused answer leaves the old revision whole.
            if (held && isMaster) {
                data::RecordsetVar exec;
                const bool removed = removeStaleDetails(
                    treco, noRec, src->text(u"DRS1"),
                    [&](const QString& table, const QString& where) { return ctx.db.Delete_Loc(exec, table, where); },
                    [&](const QString& set, const QString& table, const QString& where) {
                        return ctx.db.Update_Loc(exec, set, table, where);
                    });
                if (!removed) {
                    hideBusy();
                    return failed + 1;
                }
            }

            for (const char16_t* c : {u"Time_Edit", u"DesEna", u"SpaBra", u"HidSho", u"No_UseEdi", u"No_Branch"})
                tgt->setValue(QStringView(c), src->value(QStringView(c)));
            tgt->update();
            if (!held && treco == u"branch_tab")
                ctx.state.Bra_Changed = true;

            ++run.Rec_Pass;
            if (treco != u"notic_tab" && treco != u"branchsyn_tab") {
                ++ctx.state.Cnt_Rece;
                const QString from = src->text(u"No_Branch");
                QString message = "استيراد من الفرع " + from + " = " + noRec;
                if (treco != u"rst_tab")
                    message += " : " + src->text(u"Na_Rec");
                ctx.logs.Add_LogSyn(message, QStringLiteral("2"), noRec, from);
            }
            if (!run.Syn_Run) {
                w.Label2.setText(7, kSynOff);
                return failed;
            }
        }
    } catch (const std::exception&) {
        hideBusy();
        return failed + 1;
    }
    hideBusy();
    return failed;
}

}  // namespace tarvelo::sync
