#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "records/record_copy.h"

#include <QHash>
#include <QSet>

#include <optional>
#include <vector>

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

// An answer row: who answered, and how.
struct Answer {
    QString branch, kin2;
};

}  // namespace

// The answer rows of the ledger as the resolution read it, by announced version, so that the
// answer count needs no select of its own. Values are compared in the form ledger::collationKey()
// gives, so this never tells apart what a where clause takes as equal; with any other value in
// the ledger it is not used, and a question about such a value goes to the database.
class AnswerIndex {
public:
    // Reads every row of `rs`.
    explicit AnswerIndex(data::Recordset& rs)
    {
        const long long n = rs.recordCount();
        if (n > 0)
            rs.moveFirst();
        for (long long i = 0; i < n; ++i, rs.moveNext()) {
            const std::optional<QString> key = versionKey(rs.text(u"treco"), rs.text(u"NoRec"), rs.text(u"SynLast"));
            const QString kin2 = rs.text(u"kin2");
            const std::optional<QString> k1 = ledger::collationKey(rs.text(u"kin1")), k2 = ledger::collationKey(kin2);
            if (!key || !k1 || !k2) {
                byVersion_.clear();
                usable_ = false;
                return;
            }
            byVersion_[*key].push_back({*k1, *k2, Answer{rs.text(u"branch"), kin2}});
        }
        usable_ = true;
    }

    // The rows of that version whose kin1 is `kin1` and kin2 one of `kin2s` (any when empty);
    // nullopt when only the database can tell.
    std::optional<std::vector<Answer>> answers(const QString& treco, const QString& NoRec, const QString& SynLast,
                                               QStringView kin1, const QStringList& kin2s) const
    {
        const std::optional<QString> key = versionKey(treco, NoRec, SynLast);
        const std::optional<QString> record = recordKey(treco, NoRec);
        if (!usable_ || !key || !record || changed_.contains(*record))
            return std::nullopt;
        std::vector<Answer> out;
        const auto it = byVersion_.constFind(*key);
        if (it != byVersion_.cend())
            for (const Row& r : *it)
                if (r.kin1 == kin1 && (kin2s.isEmpty() || kin2s.contains(r.kin2)))
                    out.push_back(r.answer);
        return out;
    }

    // The pass changed the record's ledger rows since the read: ask the database about it.
    void forget(const QString& treco, const QString& NoRec)
    {
        if (const std::optional<QString> record = recordKey(treco, NoRec))
            changed_.insert(*record);
        else
            usable_ = false;
    }

private:
    struct Row {
        QString kin1, kin2;  // as compared
        Answer answer;
    };

    static std::optional<QString> recordKey(const QString& treco, const QString& NoRec)
    {
        const std::optional<QString> t = ledger::collationKey(treco), n = ledger::collationKey(NoRec);
        if (!t || !n)
            return std::nullopt;
        return *t + u'\n' + *n;
    }

    static std::optional<QString> versionKey(const QString& treco, const QString& NoRec, const QString& SynLast)
    {
        const std::optional<QString> r = recordKey(treco, NoRec), v = ledger::collationKey(SynLast);
        if (!r || !v)
            return std::nullopt;
        return *r + u'\n' + *v;
    }

    QHash<QString, std::vector<Row>> byVersion_;
    QSet<QString> changed_;
    bool usable_ = false;
};

namespace {

// A record deleted for good ends the exchanges of its versions up to the deleted one, answered by
// everybody or not: this branch takes its own announcements and closings of them off the server,
// and its ledger keeps none of their rows.
void endRecordExchanges(SyncContext& ctx, AnswerIndex& answers, const QString& treco, const QString& NoRec,
                        const QString& upTo)
{
    answers.forget(treco, NoRec);
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
                      const QString&, qint16 kin1, qint16 kin2, const AnswerIndex* index)
{
    SyncState& s = ctx.state;
    if (!s.Ans_Branches_Known && Read_Branch_List(ctx) != BranchListRead::Read)
        return kOK4;

    // The answer kind that settles the row asked about; a deletion announcement takes both answers.
    // A closing is settled by the answers to it (kin2 `closingAnswer`) of the branches that
    // answered the announcement: each branch's one answer row takes the new kin2 (a branch that
    // joined after the announcement stage has nothing to answer).
    QString kinds;
    QStringView kin1Answer;
    QStringList kin2Answers;  // empty: any
    qint32 closingAnswer = -1;
    const bool deletionAnnouncement = kin1 == 2 && kin2 == 0;
    if (kin1 == 0 && kin2 == 0) {
        kinds = QStringLiteral("kin1 = '1' and kin2 = '0'");
        kin1Answer = u"1";
        kin2Answers = {QStringLiteral("0")};
    } else if (kin1 == 0 && kin2 == 1) {
        kinds = QStringLiteral("kin1 = '1'");
        kin1Answer = u"1";
        closingAnswer = 1;
    } else if (deletionAnnouncement) {
        kinds = QStringLiteral("kin1 = '3' and (kin2 = '0' or kin2 = '1')");
        kin1Answer = u"3";
        kin2Answers = {QStringLiteral("0"), QStringLiteral("1")};
    } else if (kin1 == 2 && (kin2 == 1 || kin2 == 2)) {
        kinds = QStringLiteral("kin1 = '3'");
        kin1Answer = u"3";
        closingAnswer = kin2;
    } else {
        return kOK4;
    }

    if (s.Ans_Branches.isEmpty())
        return kOK3;

    std::optional<std::vector<Answer>> rows;
    if (index)
        rows = index->answers(treco, NoRec, SynLast, kin1Answer, kin2Answers);
    if (!rows) {
        data::RecordsetVar rs;
        if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                                "where treco = " + lit(treco) + " and norec = " + lit(NoRec) + " and SynLast = "
                                    + lit(SynLast) + " and " + kinds))
            return kOK4;
        try {
            rows.emplace();
            const long long n = rs->recordCount();
            if (n > 0)
                rs->moveFirst();
            for (long long i = 0; i < n; ++i, rs->moveNext())
                rows->push_back({rs->text(u"branch"), rs->text(u"kin2")});
        } catch (const std::exception&) {
            return kOK4;
        }
    }

    QSet<QString> answered, owing;
    bool refused = false;
    for (const Answer& a : *rows) {
        if (a.branch == ctx.run.config.My_Branch)
            continue;
        const qint32 answer = num(a.kin2);
        // A refusal stands whoever gives it; only the active branches' answers are counted.
        if (deletionAnnouncement && answer == 1)
            refused = true;
        if (!s.Ans_Branches.contains(a.branch))
            continue;
        if (closingAnswer < 0 || answer == closingAnswer)
            answered.insert(a.branch);
        else
            owing.insert(a.branch);
    }
    if (closingAnswer >= 0 ? !owing.isEmpty() || answered.isEmpty() : answered.size() != s.Ans_Branches.size())
        return kOK4;
    return refused ? kOK2 : kOK1;
}

namespace {

// One local ledger row and the second-stage rules that fit it. Every step either succeeds or
// throws StepFailed; the row's kin3 is saved only once its rule's steps are all done.
class LedgerRowRules {
public:
    LedgerRowRules(SyncContext& ctx, data::Recordset& row, AnswerIndex& answers)
        : ctx_(ctx),
          row_(row),
          answers_(answers),
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
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 0, 0, &answers_);
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
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 0, qint16(kin2), &answers_);
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
        // kin3 1 with kin2 still 0 after the ledger update: the server lost the closing (a late
        // announcement overwrote it), so it is posted again.
        if (own && kin2 == 0 && kin3 < 2) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 2, 0, &answers_);
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
                // Restored once only: a deletion made here since must not be undone.
                if (kin3 == 0)
                    restoreLocal();
                post(2, 2, QStringLiteral("0"));
                save("1");
            }
        } else if (own && kin2 != 0 && kin3 != 2) {
            const QString a = Check_Answers(ctx_, treco, SynLast, NoRec, branch, 2, qint16(kin2), &answers_);
            if (a == kOK4)
                return false;
            if (a == kOK1 || a == kOK2 || a == kOK3) {
                finish(2);
                save("2");
            }
        } else if (!own && kin2 == 1 && kin3 != 3) {
            post(3, 1, branch);
            require(Delete_Reco_Loc(ctx_, treco, NoRec));
            endRecordExchanges(ctx_, answers_, treco, NoRec, SynLast);
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
        endRecordExchanges(ctx_, answers_, treco, NoRec, SynLast);
    }

    void save(const char* kin3Value)
    {
        row_.setValue(u"kin3", QString::fromLatin1(kin3Value));
        row_.update();
    }

    SyncContext& ctx_;
    data::Recordset& row_;
    AnswerIndex& answers_;
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
        // The answers are counted in this same read of the ledger, not one select per question.
        AnswerIndex answers(*scan);
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
            LedgerRowRules row(ctx, *scan, answers);
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
