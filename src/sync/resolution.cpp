#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "records/record_copy.h"

#include <QSet>

namespace tarvelo::sync {

using ledger::lit;
using ledger::num;

namespace {

const QString kOK1 = QStringLiteral("OK1");
const QString kOK2 = QStringLiteral("OK2");
const QString kOK3 = QStringLiteral("OK3");
const QString kOK4 = QStringLiteral("OK4");

// A failed step of a rule: the row stays as it is and is taken up again by the next pass.
struct StepFailed {};

void require(bool ok)
{
    if (!ok)
        throw StepFailed{};
}

// A record deleted for good ends the exchanges of its versions up to the deleted one, answered by
// everybody or not: this branch takes its own announcements and closings of them off the server,
// and its ledger keeps none of their rows.
void endRecordExchanges(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& upTo)
{
    const QString clause = "where NoRec = " + lit(NoRec) + " and treco = " + lit(treco)
                           + " and (kin1 = '0' or kin1 = '1') and SynLast <= " + lit(upTo);
    data::RecordsetVar rs;
    require(ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"), clause));
    const long long n = rs->recordCount();
    if (n == 0)
        return;
    QSet<QString> released;
    rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext()) {
        const QString version = rs->text(u"SynLast");
        if (rs->text(u"branch") == ctx.run.config.My_Branch && num(rs->text(u"kin1")) == 0
            && num(rs->text(u"kin3")) < 2 && !released.contains(version)) {
            require(ctx.web.Web_Delete_Syn(treco, version, NoRec, 0) == u"1");
            released.insert(version);
        }
    }
    data::RecordsetVar del;
    require(ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"), clause));
}

}  // namespace

QString Check_Answers(SyncContext& ctx, const QString& treco, const QString& SynLast, const QString& NoRec,
                      const QString&, qint16 kin1, qint16 kin2)
{
    SyncState& s = ctx.state;
    if (!s.Ans_Branches_Known && Read_Branch_List(ctx) != BranchListRead::Read)
        return kOK4;

    // The answer kind that settles the row asked about; a deletion announcement takes both answers.
    // A closing is settled by the answers to it (kin2 `closingAnswer`) of the branches that
    // answered the announcement: each branch's one answer row takes the new kin2 (a branch that
    // joined after the announcement stage has nothing to answer).
    QString kinds;
    qint32 closingAnswer = -1;
    const bool deletionAnnouncement = kin1 == 2 && kin2 == 0;
    if (kin1 == 0 && kin2 == 0)
        kinds = QStringLiteral("kin1 = '1' and kin2 = '0'");
    else if (kin1 == 0 && kin2 == 1)
        kinds = QStringLiteral("kin1 = '1'"), closingAnswer = 1;
    else if (deletionAnnouncement)
        kinds = QStringLiteral("kin1 = '3' and (kin2 = '0' or kin2 = '1')");
    else if (kin1 == 2 && (kin2 == 1 || kin2 == 2))
        kinds = QStringLiteral("kin1 = '3'"), closingAnswer = kin2;
    else
        return kOK4;

    if (s.Ans_Branches.isEmpty())
        return kOK3;

    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                            "where treco = " + lit(treco) + " and norec = " + lit(NoRec) + " and SynLast = "
                                + lit(SynLast) + " and " + kinds))
        return kOK4;
    try {
        QSet<QString> answered, owing;
        bool refused = false;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext()) {
            const QString from = rs->text(u"branch");
            if (from == ctx.run.config.My_Branch)
                continue;
            const qint32 answer = num(rs->text(u"kin2"));
            // A refusal stands whoever gives it; only the active branches' answers are counted.
            if (deletionAnnouncement && answer == 1)
                refused = true;
            if (!s.Ans_Branches.contains(from))
                continue;
            if (closingAnswer < 0 || answer == closingAnswer)
                answered.insert(from);
            else
                owing.insert(from);
        }
        if (closingAnswer >= 0 ? !owing.isEmpty() || answered.isEmpty() : answered.size() != s.Ans_Branches.size())
            return kOK4;
        return refused ? kOK2 : kOK1;
    } catch (const std::exception&) {
        return kOK4;
    }
}

namespace {

// One local ledger row and the second-stage rules that fit it. Every step either succeeds or
// throws StepFailed; the row's kin3 is saved only once its rule's steps are all done.
class LedgerRowRules {
public:
    LedgerRowRules(SyncContext& ctx, data::Recordset& row)
        : ctx_(ctx),
          row_(row),
          treco(row.text(u"treco")),
          NoRec(row.text(u"NoRec")),
          SynLast(row.text(u"SynLast")),
          branch(row.text(u"branch")),
          kin1(num(row.text(u"kin1"))),
          kin2(num(row.text(u"kin2"))),
          kin3(num(row.text(u"kin3"))),
          own(branch == ctx.run.config.My_Branch)
    {
    }

    // The rule that fits the row; false when the row is left open (not yet answered, or a step failed).
    bool run()
    {
        try {
            if (kin1 == 0)
                return recordRules();
            if (kin1 == 2)
                return deletionRules();
            return true;
        } catch (const StepFailed&) {
            return false;
        }
    }

private:
    // R1 to R3.
    bool recordRules()
    {
        if (own && kin2 == 0 && kin3 == 0) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 0, 0);
            if (a == kOK4)
                return false;
            if (a == kOK3) {
                closeLocal();
                closeServer();
                ++ctx_.state.Cnt_Check;
                finish(0);
                save("2");
            } else if (a == kOK1) {
                closeLocal();
                closeServer();
                ++ctx_.state.Cnt_Check;
                post(0, 1, QStringLiteral("0"));
                save("1");
            }
        } else if (own && kin2 != 0 && kin3 != 2) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 0, qint16(kin2));
            if (a == kOK4)
                return false;
            if (a == kOK1 || a == kOK3) {
                finish(0);
                save("2");
            }
        } else if (!own && kin2 == 1 && kin3 != 3) {
            post(1, 1, branch);
            closeLocal();
            save("3");
        }
        return true;
    }

    // D1 to D4.
    bool deletionRules()
    {
        if (own && kin2 == 0 && kin3 == 0) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 2, 0);
            if (a == kOK4)
                return false;
            if (a == kOK3) {
                deleteBoth();
                finish(2);
                save("2");
            } else if (a == kOK1) {
                deleteBoth();
                post(2, 1, QStringLiteral("0"));
                save("1");
            } else if (a == kOK2) {
                restoreLocal();
                post(2, 2, QStringLiteral("0"));
                save("1");
            }
        } else if (own && kin2 != 0 && kin3 != 2) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 2, qint16(kin2));
            if (a == kOK4)
                return false;
            if (a == kOK1 || a == kOK2 || a == kOK3) {
                finish(2);
                save("2");
            }
        } else if (!own && kin2 == 1 && kin3 != 3) {
            post(3, 1, branch);
            require(Delete_Reco_Loc(ctx_, treco, NoRec));
            endRecordExchanges(ctx_, treco, NoRec, SynLast);
            save("3");
        } else if (!own && kin2 == 2 && kin3 != 3) {
            post(3, 2, branch);
            restoreLocal();
            save("3");
        }
        return true;
    }

    // Only the announced version is marked closed, and a local edit waiting to be sent is never
    // overwritten: it will be announced and closed on its own.
    void closeLocal()
    {
        require(ctx_.db.Update_Loc(exec_, closedSet(), treco,
                                   announced() + " and (SynAdd is null or SynAdd not in ('1','5'))"));
    }
    void closeServer() { require(ctx_.db.Update_Ser(exec_, closedSet(), treco, announced())); }
    static QString closedSet() { return QStringLiteral("SynAdd=  '4'"); }
    QString announced() const { return "where no_rec = " + lit(NoRec) + " and DatTim2 = " + lit(SynLast); }

    void restoreLocal()
    {
        require(ctx_.db.Update_Loc(exec_, QStringLiteral("SynDele = '0',NoBra3 = '--'"), treco,
                                   "where No_Rec = " + lit(NoRec)));
    }

    void post(qint16 k1, qint16 k2, const QString& mainbranch)
    {
        require(ctx_.web.Web_Save_Syn(treco, SynLast, NoRec, k1, k2, mainbranch) == u"OK");
        ++ctx_.state.Cnt_Check;
    }

    void finish(qint16 family)
    {
        require(ctx_.web.Web_Delete_Syn(treco, SynLast, NoRec, family) == u"1");
        ++ctx_.state.Cnt_Check;
    }

    void deleteBoth()
    {
        require(Delete_Reco_Loc(ctx_, treco, NoRec));
        require(Delete_Reco_Ser(ctx_, treco, NoRec));
        ++ctx_.state.Cnt_Check;
        endRecordExchanges(ctx_, treco, NoRec, SynLast);
    }

    void save(const char* kin3Value)
    {
        row_.setValue(u"kin3", QString::fromLatin1(kin3Value));
        row_.update();
    }

    SyncContext& ctx_;
    data::Recordset& row_;
    data::RecordsetVar exec_;

public:
    const QString treco, NoRec, SynLast, branch;
    const qint32 kin1, kin2, kin3;
    const bool own;
};

// A row no pass can act on leaves the local ledger.
void dropRow(SyncContext& ctx, const LedgerRowRules& r, const QString& kin1Text)
{
    data::RecordsetVar exec;
    ctx.db.Delete_Loc(exec, QStringLiteral("atten_rec"),
                      "where NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco) + " and branch = " + lit(r.branch)
                          + " and SynLast = " + lit(r.SynLast) + " and kin1 = " + lit(kin1Text));
}

}  // namespace

qint32 Check_Send(SyncContext& ctx)
{
    SyncState& s = ctx.state;
    SyncWindow& w = ctx.window;
    qint32 count = 0;

    w.Label7.setText(QStringLiteral("CS_0_0_(0)"));
    // The branches whose answers settle an announcement; a failed read keeps the last good list.
    Read_Branch_List(ctx);

    data::RecordsetVar scan;
    if (!ctx.db.Open_Rs_Loc(scan, QStringLiteral("atten_rec"), QString())) {
        w.XXXK.setForeColor(StatusLabelModel::Red);
        w.Label2.setText(7, ledger::kConnectionError);
        return 1;  // the ledger could not be looked at: work may be left
    }
    try {
        const long long n = scan->recordCount();
        if (n <= 0)
            return 0;
        scan->moveFirst();
        for (long long i = 1; i <= n; ++i, scan->moveNext()) {
            if (!ctx.run.Syn_Run) {
                w.Label2.setText(7, kSynOff);
                return count;
            }
            const QString treco = scan->text(u"treco");
            w.Label7.setText("CS_" + treco.left(3) + "_rec_" + QString::number(n) + u'_' + QString::number(i) + "_("
                             + QString::number(s.Cnt_Check) + u')');
            if (s.Cnt_Check > 1000) {
                ++count;
                ++s.Cnt_Check;
                return count;
            }
            if (treco == u"branchsyn_tab" || treco == u"notic_tab")
                continue;
            LedgerRowRules row(ctx, *scan);
            if (!Ledger_Row_Usable(ctx, row.NoRec, row.treco, row.branch, row.SynLast, row.kin1)) {
                dropRow(ctx, row, scan->text(u"kin1"));
                continue;
            }
            if (!row.run())
                ++count;
        }
        return count;
    } catch (const std::exception&) {
        ++count;
        ++s.Cnt_Check;
        return count;
    }
}

}  // namespace tarvelo::sync
