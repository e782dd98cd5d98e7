#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "records/record_copy.h"
#include "sync/links.h"
#include "sync/row_pass.h"

namespace tarvelo::sync {

namespace {

using data::sqlLiteral;
namespace kin1 = ledger::kin1;
namespace kin2 = ledger::kin2;

const char16_t* const kCommonCopied[] = {u"Na_Rec", u"Ne_Rec", u"Date_Edit_H", u"Date_Edit_G"};
const char16_t* const kCommonCopiedLast[] = {u"Time_Edit", u"DesEna", u"SpaBra", u"HidSho", u"No_UseEdi", u"No_Branch"};

// Send_Reco: one send pass over one table, in named steps. Each row step says how
// the pass goes on.
class SendPass {
public:
    using Step = RowStep;

    SendPass(SyncContext& ctx, const QString& treco)
        : ctx_(ctx), w_(ctx.window), run_(ctx.run), me_(ctx.run.config.My_Branch), treco_(treco),
          prefix_("SR_" + treco.left(3) + "_rec_"), links_(linkColumns(treco, isMaster_)), rctx_(ctx.records())
    {
    }

    qint32 run()
    {
        w_.Text4567.setText(QStringLiteral("Send_Reco"));
        w_.XXXK.setCaption(QStringLiteral("p"));
        w_.Label7.setText(prefix_ + "0_0_(0)");
        run_.Snd_Pass = 0;
        if (!run_.Syn_Run) {
            w_.Label2.setText(7, kSynOff);
            return 0;
        }
        if (!select())
            return 1;
        const data::RecordsetVar src = ctx_.vars.Rs_Source;
        return runRows(ctx_, *src, RowPass{prefix_, run_.Snd_Pass, 200, true}, [&] { return sendRow(*src); });
    }

private:
    // This branch's rows marked to be sent, oldest edit first.
    bool select()
    {
        using namespace ledger;
        const QString clause = "where SynAdd = " + sqlLiteral(synAdd::ToSend) + " and No_Branch = " + sqlLiteral(me_)
                               + " and SynDele = " + sqlLiteral(synDele::Live) + " or SynAdd = " + sqlLiteral(synAdd::ToSendToo)
                               + " and No_Branch = " + sqlLiteral(me_) + "and SynDele = " + sqlLiteral(synDele::Live);
        return ctx_.db.Open_Rs_Loc_Where_Order(ctx_.vars.Rs_Source, treco_, clause, QStringLiteral("DatTim1"));
    }

    // The row steps for the current local row.
    Step sendRow(data::Recordset& src)
    {
        if (notThisBranchs(src))
            return Step::Skipped;
        // A row without a readable edit stamp is left marked and counted; the rows after it go on.
        const std::optional<QString> stamp = src.isNull(u"DatTim1") || src.isNull(u"no_rec")
                                                 ? std::nullopt
                                                 : editStampServerTime(src.text(u"DatTim1"), run_.Time_Diff);
        if (!stamp)
            return Step::Counted;
        const QString noRec = src.text(u"no_rec");
        bool onServer = false;
        if (const std::optional<Step> stop = lookUpServerRow(noRec, *stamp, onServer))
            return *stop;
        // Our own reference: a handler run during a request may point Rs_Target elsewhere.
        const data::RecordsetVar target = ctx_.vars.Rs_Target;
        data::Recordset& tgt = *target;
        if (!prepareServerRow(src, tgt, onServer && ledger::num(tgt.text(u"SynDele")) == 0))
            return Step::Counted;
        const QString serverStamp = newServerStamp(ctx_.now(), run_.Time_Diff, ctx_.state.Last_Stamp);
        writeCommonColumns(src, tgt, *stamp, serverStamp);
        if (!announce(noRec, serverStamp))
            return Step::EndPass;
        if (!commit(src, tgt, noRec, onServer, *stamp, serverStamp))
            return Step::EndPass;
        logSent(src, noRec);
        return Step::Written;
    }

    // Only this branch's own statistics row and notices leave it.
    bool notThisBranchs(const data::Recordset& src) const
    {
        return (treco_ == u"branchsyn_tab" && src.text(u"no_rec") != me_)
               || (treco_ == u"notic_tab" && src.text(u"No_Branch") != me_);
    }

    // The server's row of the record into Rs_Target (a new one when it has none); a step when the
    // row goes no further.
    std::optional<Step> lookUpServerRow(const QString& noRec, const QString& stamp, bool& onServer)
    {
        if (!ctx_.db.Open_Rs_Ser(ctx_.vars.Rs_Target, treco_, "where No_Rec = " + sqlLiteral(noRec)))
            // Work left, not work done; a lost connection ends the pass, the cycle stops on it.
            return run_.Syn_Stop ? Step::EndPass : Step::Counted;
        data::Recordset& tgt = *ctx_.vars.Rs_Target;
        onServer = tgt.recordCount() > 0;
        if (onServer) {
            tgt.moveFirst();
            // Another branch's newer version is on the server: the receive pass brings it here.
            if (tgt.text(u"No_Branch") != me_ && tgt.text(u"DatTim1") > stamp)
                return Step::Skipped;
        } else {
            tgt.addNew();
            tgt.setValue(u"no_rec", noRec);
        }
        return std::nullopt;
    }

    // The link columns, the master's check that its details are all here, the family's that it
    // stands on the server, the table's columns; false when the record may not go yet.
    bool prepareServerRow(const data::Recordset& src, data::Recordset& tgt, bool standsOnServer)
    {
        for (const char16_t* c : links_)
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
        if (isMaster_ && !Check_Save_Other(ctx_, treco_, 1))
            return false;
        if (!Family_On_Server(ctx_, treco_, src, standsOnServer))
            return false;
        records::Copy_Reco(rctx_, treco_);
        return true;
    }

    void writeCommonColumns(const data::Recordset& src, data::Recordset& tgt, const QString& stamp,
                            const QString& serverStamp)
    {
        for (const char16_t* c : kCommonCopied)
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
        tgt.setValue(u"DatTim1", stamp);
        tgt.setValue(u"DatTim2", serverStamp);
        tgt.setValue(u"SynAdd", src.value(u"SynAdd"));
        for (const char16_t* c : kCommonCopiedLast)
            tgt.setValue(QStringView(c), src.value(QStringView(c)));
    }

    // The version's announcement in the server's ledger; nothing is saved unless it is stored.
    bool announce(const QString& noRec, const QString& serverStamp)
    {
        w_.ImgSav.setVisible(true);
        if (ctx_.web.Web_Save_Syn(treco_, serverStamp, noRec, kin1::Record, kin2::Announced, ledger::kFirstStage) != u"OK")
            return false;
        Note_Announced(ctx_, treco_, noRec, serverStamp, kin1::Record);
        return true;
    }

    // The server row, then the local row marked sent. Only now, with the master's details known
    // complete and its version announced, do the server's details of older revisions go.
    bool commit(data::Recordset& src, data::Recordset& tgt, const QString& noRec, bool onServer, const QString& stamp,
                const QString& serverStamp)
    {
        if (onServer && isMaster_) {
            data::RecordsetVar exec;
            const bool removed = removeStaleDetails(
                treco_, noRec, src.text(u"DRS1"),
                [&](const QString& table, const QString& where) { return ctx_.db.Delete_Ser(exec, table, where); },
                [&](const QString& set, const QString& table, const QString& where) {
                    return ctx_.db.Update_Ser(exec, set, table, where);
                });
            if (!removed)
                return false;
        }
        tgt.update();
        src.setValue(u"DatTim1", stamp);
        src.setValue(u"DatTim2", serverStamp);
        src.setValue(u"SynAdd", ledger::synAdd::Held);
        src.update();
        ++run_.Snd_Pass;
        return true;
    }

    void logSent(const data::Recordset& src, const QString& noRec)
    {
        if (ledger::isStatisticsTable(treco_))
            return;
        ++ctx_.state.Cnt_Send;
        const QString message = treco_ == u"rst_tab" ? "ارسال " + noRec : "ارسال " + noRec + " : " + src.text(u"Na_Rec");
        ctx_.logs.Add_LogSyn(message, QStringLiteral("1"), noRec, QString());
    }

    void hideBusy()
    {
        w_.ImgSav.setVisible(false);
        w_.ImgLoa.setVisible(false);
    }

    SyncContext& ctx_;
    SyncWindow& w_;
    data::RunState& run_;
    const QString me_;
    const QString treco_;
    const QString prefix_;
    bool isMaster_ = false;
    const std::span<const char16_t* const> links_;
    records::RecordsContext rctx_;
};

}  // namespace

qint32 Send_Reco(SyncContext& ctx, const QString& treco)
{
    return SendPass(ctx, treco).run();
}

}  // namespace tarvelo::sync
