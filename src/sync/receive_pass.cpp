#include "sync/engine.h"

#include "records/record_copy.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"
#include "sync/row_pass.h"

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
                                + " and SynLast = " + sqlLiteral(version) + " and "
                                + ledger::familyClause(ledger::kin1::Record)))
        return false;
    bool announced = false, answered = false;
    const long long n = rs->recordCount();
    if (n > 0)
        rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext()) {
        const bool mine = rs->text(u"branch") == me;
        const ledger::LedgerRow r = ledger::readRow(*rs);
        if (r.kin1 == ledger::kin1::Record && !mine && r.kin2 == ledger::kin2::Announced && r.kin3 == ledger::kin3::Open)
            announced = true;
        if (r.kin1 == ledger::kin1::RecordAnswer && mine)
            answered = true;
    }
    return announced && !answered;
}

// A master held up for this long is named in the reason log.
constexpr qint64 kHeldUpSeconds = 3600;

QString heldUpStep(const QString& treco, const SyncState::HeldUp& h)
{
    return "receive pass on " + treco + " at record " + h.noRec + " from branch " + h.branch;
}

// What the pass saw of the master that holds the table up: the one it stopped at now (nothing
// when it stopped at none), or that it got past the one it stopped at before. A master waiting
// an hour is written to the reason log once, and its end when the table moves on.
void noteHeldUp(SyncContext& ctx, const QString& treco, const std::optional<SyncState::HeldUp>& stoppedAt, bool movedOn)
{
    auto& held = ctx.state.Held_Up;
    const auto it = held.find(treco);
    const bool same = it != held.end() && stoppedAt && it->second.noRec == stoppedAt->noRec;
    if (it != held.end() && !same && (stoppedAt || movedOn)) {
        if (it->second.logged)
            ctx.errors.works(heldUpStep(treco, it->second));
        held.erase(it);
    }
    if (!stoppedAt)
        return;
    const QDateTime now = ctx.now();
    if (!same) {
        SyncState::HeldUp h = *stoppedAt;
        h.since = now;
        held.emplace(treco, h);
        return;
    }
    SyncState::HeldUp& h = it->second;
    if (h.logged || h.since.secsTo(now) < kHeldUpSeconds)
        return;
    h.logged = true;
    ctx.errors.reason(heldUpStep(treco, h),
                      "the record's detail rows are not all here since "
                          + h.since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          + ", so the table's later records wait behind it",
                      "the record's detail rows on the server and at branch " + h.branch);
}

}  // namespace

namespace {

// One receive pass over one table, in named steps. Each row step says how the pass goes on.
class ReceivePass {
public:
    using Step = RowStep;

    ReceivePass(SyncContext& ctx, const QString& treco)
        : ctx_(ctx), run_(ctx.run), me_(ctx.run.config.My_Branch), treco_(treco), links_(linkColumns(treco, isMaster_))
    {
    }

    // The server rows to take, in their order: other branches' live rows from the resume point
    // on (every row in a full rescan, this branch's own too in the first synchronisation).
    QString selection(QString& order) const
    {
        if (treco_ == u"branch_tab") {
            order = QStringLiteral("No_Rec");
            return "where SynDele = " + sqlLiteral(ledger::synDele::Live);
        }
        order = QStringLiteral("DatTim2");
        const QString live = "SynDele = " + sqlLiteral(ledger::synDele::Live);
        const QString others = run_.Syn_First == 1 ? QString() : "No_Branch <> " + sqlLiteral(me_) + " and ";
        QString clause = "where " + others + live;
        if (ctx_.state.Syn_AllPass == 0)
            clause += " and DatTim2 >= " + sqlLiteral(resumePoint());
        return clause;
    }

    // The current server row of `src`.
    Step take(const data::RecordsetVar& src)
    {
        last_ = row(src);
        ++taken_;
        return last_;
    }

    // The master the pass stopped at for its details; nothing when it stopped at none.
    const std::optional<SyncState::HeldUp>& stoppedAt() const { return stoppedAt_; }
    // Whether the pass got past the master that held the table up: it wrote it, or went through
    // every row.
    bool movedOn(long long rows) const
    {
        return wroteHeld_ || (taken_ == rows && last_ != Step::EndPass && last_ != Step::Refused);
    }

private:
    Step row(const data::RecordsetVar& src)
    {
        // A server row without its key or stamps can't be placed or answered: count it, go on.
        if (src->isNull(u"no_rec") || src->isNull(u"DatTim2"))
            return Step::Counted;
        const QString noRec = src->text(u"no_rec");
        if (!ctx_.db.Open_Rs_Loc(ctx_.vars.Rs_Target, treco_, "where No_Rec = " + sqlLiteral(noRec)))
            return Step::EndPass;
        const data::RecordsetVar tgt = ctx_.vars.Rs_Target;
        const bool held = tgt->recordCount() > 0;
        if (held) {
            tgt->moveFirst();
            const std::optional<Step> kept = keepLocal(*src, *tgt);
            if (kept)
                return *kept;
        } else {
            tgt->addNew();
            tgt->setValue(u"no_rec", noRec);
        }
        return write(*src, *tgt, held);
    }

    // The resume point: the newest row received from the others; this branch's own rows carry
    // stamps of its later sends and would skip older rows not yet received. Only the newest row
    // is needed, not the whole table.
    QString resumePoint() const
    {
        const QString own = run_.Syn_First == 1 ? QString() : "where No_Branch <> " + sqlLiteral(me_) + u' ';
        data::RecordsetVar work;
        if (ctx_.db.Open_Rs_Loc(work, treco_, own + "order by DatTim2 DESC limit 1") && work->recordCount() > 0) {
            work->moveFirst();
            if (!work->isNull(u"DatTim2"))
                return work->text(u"DatTim2");
        }
        return QStringLiteral("0");
    }

    // Whether the local row stays as it is; nothing when the server row is to be written.
    std::optional<Step> keepLocal(const data::Recordset& src, const data::Recordset& local)
    {
        if (treco_ == u"branchsyn_tab" && local.text(u"no_rec") == me_)
            return Step::Skipped;
        if (treco_ == u"notic_tab" && local.text(u"No_Branch") == me_)
            return Step::Skipped;
        const QString serverStamp1 = src.text(u"DatTim1");
        const bool pending = ledger::ownPending(local, me_);
        QString localStamp = local.text(u"DatTim1");
        if (pending) {
            const std::optional<QString> s = editStampServerTime(localStamp, run_.Time_Diff);
            if (!s)
                return Step::Counted;
            localStamp = *s;
            // This branch's own edit, not older than the server's version, is still to be sent:
            // the next send pass carries it, nothing here may overwrite it.
            if (localStamp >= serverStamp1)
                return Step::Skipped;
        }
        if (local.text(u"DatTim2") != src.text(u"DatTim2"))
            return std::nullopt;
        if (!((serverStamp1 == localStamp && local.text(u"No_Branch") == src.text(u"No_Branch"))
              || localStamp > serverStamp1))
            return std::nullopt;
        // Held already. A full rescan also answers what is held but was never answered.
        if (ctx_.state.Syn_AllPass != 0 && run_.Syn_First != 1 && !pending && src.text(u"SynAdd") != ledger::synAdd::Closed
            && answerOwed(ctx_, treco_, src.text(u"no_rec"), src.text(u"DatTim2"))
            && !answer(src))
            return Step::Refused;
        return Step::Skipped;
    }

    bool answer(const data::Recordset& src)
    {
        return ctx_.web.Web_Save_Syn(treco_, src.text(u"DatTim2"), src.text(u"no_rec"), ledger::kin1::RecordAnswer,
                                     ledger::kin2::Announced, ledger::kFirstStage)
               == u"OK";
    }

    // The server row into the local row: links, columns, the answer, the stale details, the save.
    Step write(const data::Recordset& src, data::Recordset& tgt, bool held)
    {
        for (const char16_t* c : links_)
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
        if (isMaster_ && !Check_Save_Other(ctx_, treco_, 0)) {
            stoppedAt_ = SyncState::HeldUp{src.text(u"no_rec"), src.text(u"No_Branch"), {}, false};
            return Step::EndPass;
        }
        records::RecordsContext rctx = ctx_.records();
        records::Copy_Reco(rctx, treco_);
        for (const char16_t* c : {u"Na_Rec", u"Ne_Rec", u"Date_Edit_H", u"Date_Edit_G", u"DatTim2", u"DatTim1"})
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
        ctx_.window.ImgSav.setVisible(true);

        if (src.text(u"SynAdd") == ledger::synAdd::Closed) {
            tgt.setValue(u"SynAdd", ledger::synAdd::Closed);
        } else {
            tgt.setValue(u"SynAdd", ledger::synAdd::Held);
            if (!answer(src))
                return Step::Refused;
        }
        // The master's details of this revision are all here and its answer is posted: only now do
        // the older ones go, so a refused answer leaves the old revision whole.
        if (held && isMaster_ && !removeOldDetails(src))
            return Step::EndPass;

        for (const char16_t* c : {u"Time_Edit", u"DesEna", u"SpaBra", u"HidSho", u"No_UseEdi", u"No_Branch"})
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
        tgt.update();
        if (!held && treco_ == u"branch_tab")
            ctx_.state.Bra_Changed = true;
        ++run_.Rec_Pass;
        if (isMaster_) {
            const auto h = ctx_.state.Held_Up.find(treco_);
            wroteHeld_ = wroteHeld_ || (h != ctx_.state.Held_Up.end() && h->second.noRec == src.text(u"no_rec"));
        }
        logReceived(src);
        return Step::Written;
    }

    bool removeOldDetails(const data::Recordset& src)
    {
        data::RecordsetVar exec;
        return removeStaleDetails(
            treco_, src.text(u"no_rec"), src.text(u"DRS1"),
            [&](const QString& table, const QString& where) { return ctx_.db.Delete_Loc(exec, table, where); },
            [&](const QString& set, const QString& table, const QString& where) {
                return ctx_.db.Update_Loc(exec, set, table, where);
            });
    }

    void logReceived(const data::Recordset& src)
    {
        if (treco_ == u"notic_tab" || treco_ == u"branchsyn_tab")
            return;
        ++ctx_.state.Cnt_Rece;
        const QString from = src.text(u"No_Branch");
        const QString noRec = src.text(u"no_rec");
        QString message = "استيراد من الفرع " + from + " = " + noRec;
        if (treco_ != u"rst_tab")
            message += " : " + src.text(u"Na_Rec");
        ctx_.logs.Add_LogSyn(message, QStringLiteral("2"), noRec, from);
    }

    SyncContext& ctx_;
    data::RunState& run_;
    const QString& me_;
    const QString treco_;
    bool isMaster_ = false;
    const std::span<const char16_t* const> links_;
    std::optional<SyncState::HeldUp> stoppedAt_;
    bool wroteHeld_ = false;
    long long taken_ = 0;
    Step last_ = Step::Skipped;
};

}  // namespace

qint32 Rece_Reco(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    data::RunState& run = ctx.run;
    const QString prefix = "RR_" + treco.left(3) + "_rec_";

    w.Label7.setText(prefix + "0_0_(0)");
    run.Rec_Pass = 0;
    if (!run.Syn_Run) {
        w.Label2.setText(7, kSynOff);
        return 0;
    }

    try {
        ReceivePass pass(ctx, treco);
        QString order;
        const QString clause = pass.selection(order);
        if (!ctx.db.Open_Rs_Ser_Where_Order(ctx.vars.Rs_Source, treco, clause, order))
            return 1;
        const data::RecordsetVar src = ctx.vars.Rs_Source;
        if (src->recordCount() == 0) {
            noteHeldUp(ctx, treco, std::nullopt, true);
            return 0;
        }
        const qint32 left = runRows(ctx, *src, RowPass{prefix, run.Rec_Pass, run.Syn_First == 1 ? 4000 : 1000, false},
                                    [&] { return pass.take(src); });
        noteHeldUp(ctx, treco, pass.stoppedAt(), pass.movedOn(src->recordCount()));
        return left;
    } catch (const std::exception&) {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
        return 1;
    }
}

}  // namespace tarvelo::sync
