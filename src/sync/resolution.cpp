#include "sync/engine.h"
#include "sync/exchange_end.h"
#include "sync/ledger_rows.h"

#include "records/record_copy.h"

#include <QHash>
#include <QSet>

#include <map>
#include <optional>
#include <vector>

namespace tarvelo::sync {

using ledger::LedgerKey;
using ledger::LedgerRow;
using ledger::lit;
using ledger::num;
using ledger::text;
namespace kin1 = ledger::kin1;
namespace kin2 = ledger::kin2;
namespace kin3 = ledger::kin3;

namespace {

const QString kAtten = QStringLiteral("atten_rec");

// A failed step of a rule: the row stays as it is and is taken up again by the next pass.
struct StepFailed {};

void require(bool ok)
{
    if (!ok)
        throw StepFailed{};
}

// An answer row: who answered, and how.
struct Answer {
    QString branch, kin2, mainbranch;
};

}  // namespace

// The answer rows of the ledger as the resolution read it, by announced version, so that the
// answer count needs no select of its own. Values are compared in the form LedgerKey gives, so
// this never tells apart what a where clause takes as equal; with any other value in the ledger
// it is not used, and a question about such a value goes to the database.
class AnswerIndex {
public:
    // Reads every row of `rs`.
    explicit AnswerIndex(data::Recordset& rs)
    {
        const long long n = rs.recordCount();
        if (n > 0)
            rs.moveFirst();
        for (long long i = 0; i < n; ++i, rs.moveNext()) {
            const std::optional<LedgerKey> key = LedgerKey::of(rs.text(u"treco"), rs.text(u"NoRec"), rs.text(u"SynLast"));
            const QString kin2Text = rs.text(u"kin2");
            const std::optional<QString> k1 = ledger::collationKey(rs.text(u"kin1")), k2 = ledger::collationKey(kin2Text);
            if (!key || !k1 || !k2) {
                byVersion_.clear();
                usable_ = false;
                return;
            }
            byVersion_[key->exchange()].push_back({*k1, *k2, Answer{rs.text(u"branch"), kin2Text, rs.text(u"mainbranch")}});
        }
        usable_ = true;
    }

    // The rows of that version whose kin1 is `kin1Value` and kin2 one of `kin2s` (any when
    // empty); nullopt when only the database can tell.
    std::optional<std::vector<Answer>> answers(const QString& treco, const QString& NoRec, const QString& SynLast,
                                               qint32 kin1Value, const QList<qint32>& kin2s) const
    {
        const std::optional<LedgerKey> key = LedgerKey::of(treco, NoRec, SynLast);
        if (!usable_ || !key || changed_.contains(key->record))
            return std::nullopt;
        std::vector<Answer> out;
        const auto it = byVersion_.constFind(key->exchange());
        if (it != byVersion_.cend())
            for (const Row& r : *it)
                if (r.kin1 == text(kin1Value)
                    && (kin2s.isEmpty() || std::any_of(kin2s.cbegin(), kin2s.cend(), [&](qint32 k) { return r.kin2 == text(k); })))
                    out.push_back(r.answer);
        return out;
    }

    // The pass changed the record's ledger rows since the read: ask the database about it.
    void forget(const QString& treco, const QString& NoRec)
    {
        if (const std::optional<LedgerKey> key = LedgerKey::of(treco, NoRec))
            changed_.insert(key->record);
        else
            usable_ = false, forgotUnknown_ = true;
    }

    // Whether the pass changed the record's rows since the read (or changed rows it could not name).
    bool changed(const std::optional<LedgerKey>& key) const
    {
        return forgotUnknown_ || (key && changed_.contains(key->record));
    }

private:
    struct Row {
        QString kin1, kin2;  // as compared
        Answer answer;
    };

    QHash<QString, std::vector<Row>> byVersion_;
    QSet<QString> changed_;
    bool usable_ = false;
    bool forgotUnknown_ = false;
};

namespace {

// A record deleted for good ends the exchanges of its versions up to the deleted one, answered by
// everybody or not: this branch takes its own announcements and closings of them off the server,
// and its ledger keeps none of their rows.
void endRecordExchanges(SyncContext& ctx, AnswerIndex& answers, const QString& treco, const QString& NoRec,
                        const QString& upTo)
{
    answers.forget(treco, NoRec);
    const QString clause = ledger::recordClause(treco, NoRec) + " and " + ledger::familyClause(kin1::Record)
                           + " and SynLast <= " + lit(upTo) + ledger::notOwed();
    data::RecordsetVar rs;
    require(ctx.db.Open_Rs_Loc(rs, kAtten, clause));
    const long long n = rs->recordCount();
    if (n == 0)
        return;
    QSet<QString> released;
    rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext()) {
        const LedgerRow r = ledger::readRow(*rs);
        if (r.branch == ctx.run.config.My_Branch && r.kin1 == kin1::Record && r.kin3 < kin3::Finished
            && !released.contains(r.SynLast)) {
            require(ledger::removeExchange(ctx, treco, NoRec, r.SynLast, kin1::Record));
            released.insert(r.SynLast);
        }
    }
    data::RecordsetVar del;
    require(ctx.db.Delete_Loc(del, kAtten, clause));
}

}  // namespace

Answers Check_Answers(SyncContext& ctx, const QString& treco, const QString& SynLast, const QString& NoRec,
                      const QString&, qint16 kin1Value, qint16 kin2Value, const AnswerIndex* index)
{
    SyncState& s = ctx.state;
    if (!s.Ans_Branches_Known && Read_Branch_List(ctx) != BranchListRead::Read)
        return Answers::Undecided;

    // The answer kind that settles the row asked about; a deletion announcement takes both answers.
    // A closing is settled by the answers to it (kin2 `closingAnswer`) of the branches that
    // answered the announcement: each branch's one answer row takes the new kin2 (a branch that
    // joined after the announcement stage has nothing to answer).
    if (!ledger::isAnnouncerRow(kin1Value))
        return Answers::Undecided;
    const qint32 answerKind = ledger::answerOf(kin1Value);
    QList<qint32> kin2Answers;  // empty: any
    qint32 closingAnswer = -1;
    const bool deletionAnnouncement = kin1Value == kin1::Deletion && kin2Value == kin2::Announced;
    if (kin1Value == kin1::Record && kin2Value == kin2::Announced)
        kin2Answers = {kin2::Announced};
    else if (kin1Value == kin1::Record && kin2Value == kin2::Closed)
        closingAnswer = kin2::Closed;
    else if (deletionAnnouncement)
        kin2Answers = {kin2::Announced, kin2::Refused};
    else if (kin1Value == kin1::Deletion && (kin2Value == kin2::Closed || kin2Value == kin2::ClosedRefused))
        closingAnswer = kin2Value;
    else
        return Answers::Undecided;

    if (s.Ans_Branches.isEmpty())
        return Answers::NoOtherBranch;

    std::optional<std::vector<Answer>> rows;
    if (index)
        rows = index->answers(treco, NoRec, SynLast, answerKind, kin2Answers);
    if (!rows) {
        QString kinds = "kin1 = " + lit(text(answerKind));
        if (!kin2Answers.isEmpty()) {
            QStringList any;
            for (qint32 k : kin2Answers)
                any << "kin2 = " + lit(text(k));
            kinds += " and " + (any.size() == 1 ? any.first() : u'(' + any.join(QStringLiteral(" or ")) + u')');
        }
        data::RecordsetVar rs;
        if (!ctx.db.Open_Rs_Loc(rs, kAtten,
                                "where treco = " + lit(treco) + " and norec = " + lit(NoRec) + " and SynLast = "
                                    + lit(SynLast) + " and " + kinds))
            return Answers::Undecided;
        try {
            rows.emplace();
            const long long n = rs->recordCount();
            if (n > 0)
                rs->moveFirst();
            for (long long i = 0; i < n; ++i, rs->moveNext())
                rows->push_back({rs->text(u"branch"), rs->text(u"kin2"), rs->text(u"mainbranch")});
        } catch (const std::exception&) {
            return Answers::Undecided;
        }
    }

    QSet<QString> answered, owing;
    bool refused = false;
    const QString& me = ctx.run.config.My_Branch;
    for (const Answer& a : *rows) {
        if (a.branch == me)
            continue;
        // An answer row says which stage it answers: the announcement names no branch, a closing
        // its announcer. A row of the other stage, left by an earlier exchange of the same key,
        // answers nothing here.
        const bool toClosing = num(a.mainbranch) != 0;
        if (closingAnswer < 0 && toClosing)
            continue;
        const qint32 answer = num(a.kin2);
        // A refusal stands whoever gives it; only the active branches' answers are counted.
        if (deletionAnnouncement && answer == kin2::Refused)
            refused = true;
        if (!s.Ans_Branches.contains(a.branch))
            continue;
        if (closingAnswer < 0 || (answer == closingAnswer && toClosing && a.mainbranch == me))
            answered.insert(a.branch);
        else
            owing.insert(a.branch);
    }
    if (closingAnswer >= 0 ? !owing.isEmpty() || answered.isEmpty() : answered.size() != s.Ans_Branches.size())
        return Answers::Undecided;
    return refused ? Answers::Refused : Answers::AllIn;
}

namespace {

// One local ledger row and the second-stage rules that fit it (record rules R1 to R3, deletion rules D1 to D4),
// with the one this branch adds: its closing lost on the server. Every step either succeeds or
// throws StepFailed; the row's kin3 is saved only once its rule's steps are all done.
class LedgerRowRules {
public:
    LedgerRowRules(SyncContext& ctx, data::Recordset& row, AnswerIndex& answers)
        : ctx_(ctx), row_(row), answers_(answers), r(ledger::readRow(row)), own(r.branch == ctx.run.config.My_Branch)
    {
    }

    // The rule that fits the row; false when the row is left open (not yet answered, or a step failed).
    bool run()
    {
        try {
            if (r.kin1 == kin1::Record)
                return recordRules();
            if (r.kin1 == kin1::Deletion)
                return deletionRules();
            return true;
        } catch (const StepFailed&) {
            return false;
        }
    }

    // This branch answered another branch's closing in this pass.
    bool answeredClosing() const { return answeredClosing_; }

private:
    // R1 to R3.
    bool recordRules()
    {
        if (own && r.kin3 == kin3::Open) {
            if (!announcementStands())
                return true;
            const Answers a = answersTo(kin2::Announced);
            if (a == Answers::Undecided)
                return false;
            if (a == Answers::NoOtherBranch) {
                closeLocal();
                closeServer();
                ++ctx_.state.Cnt_Check;
                finish();
                save(kin3::Finished);
            } else if (a == Answers::AllIn) {
                closeLocal();
                closeServer();
                ++ctx_.state.Cnt_Check;
                closeWith(kin2::Closed);
            }
        } else if (own && r.kin3 == kin3::Done) {
            return closingAnswered();
        } else if (!own && r.kin2 == kin2::Closed && r.kin3 != kin3::ClosingAnswered) {
            post(kin1::RecordAnswer, kin2::Closed, r.branch);
            closeLocal();
            answered();
        }
        return true;
    }

    // D1 to D4.
    bool deletionRules()
    {
        if (own && r.kin3 == kin3::Open) {
            if (!announcementStands())
                return true;
            const Answers a = answersTo(kin2::Announced);
            if (a == Answers::Undecided) {
                ownRowLost();
                return false;
            }
            if (a == Answers::NoOtherBranch) {
                deleteBoth();
                finish();
                save(kin3::Finished);
            } else if (a == Answers::AllIn) {
                deleteBoth();
                closeWith(kin2::Closed);
            } else if (a == Answers::Refused) {
                restoreLocal();
                closeWith(kin2::ClosedRefused);
            }
        } else if (own && r.kin3 == kin3::Done) {
            return closingAnswered();
        } else if (!own && r.kin2 == kin2::Closed && r.kin3 != kin3::ClosingAnswered) {
            // Judged before the answer goes: a check that fails leaves the row for the next pass.
            const bool stays = mustStayHere();
            post(kin1::DeletionAnswer, kin2::Closed, r.branch);
            if (stays) {
                sendAgain();
            } else {
                require(Delete_Reco_Loc(ctx_, r.treco, r.NoRec));
                endRecordExchanges(ctx_, answers_, r.treco, r.NoRec, r.SynLast);
            }
            answered();
        } else if (!own && r.kin2 == kin2::ClosedRefused && r.kin3 != kin3::ClosingAnswered) {
            if (!refusalKnown())
                return false;
            post(kin1::DeletionAnswer, kin2::ClosedRefused, r.branch);
            restoreLocal();
            answered();
        }
        return true;
    }

    // The announcer's row on the server says the announcer's stage, whatever landed late over it.
    // Until this branch closes, only the announcement is its own: a closing there was posted in an
    // earlier exchange of the same key, and the announcement is posted again.
    bool announcementStands()
    {
        if (r.kin2 == kin2::Announced)
            return true;
        post(r.kin1, kin2::Announced, ledger::kFirstStage);
        return false;
    }

    // Once it closed (kin3 Done), the closing it decided then: posted again over anything else
    // there, then waited on until its answers are in.
    bool closingAnswered()
    {
        const qint32 closing = closingDecided();
        if (r.kin2 != closing) {
            post(r.kin1, closing, ledger::kFirstStage);
            return true;
        }
        const Answers a = answersTo(closing);
        if (a == Answers::Undecided) {
            if (r.kin1 == kin1::Deletion)
                ownRowLost();
            return false;
        }
        finish();
        save(kin3::Finished);
        return true;
    }

    // A record's closing; for a deletion, all accepted when the record is gone here, refused when
    // it was restored.
    qint32 closingDecided()
    {
        if (r.kin1 != kin1::Deletion)
            return kin2::Closed;
        require(ctx_.db.Open_Rs_Loc(exec_, r.treco, "where No_Rec = " + lit(r.NoRec)));
        return exec_->recordCount() > 0 ? kin2::ClosedRefused : kin2::Closed;
    }

    // The stage is saved before its closing goes out: a closing on the server is then never newer
    // than what this ledger says, and one that failed is posted again from kin3 Done.
    void closeWith(qint32 closing)
    {
        save(kin3::Done);
        post(r.kin1, closing, ledger::kFirstStage);
    }

    // A deletion waiting on its answers whose own row has left the server (a removal of an
    // earlier exchange of the key, carried out late, took it): posted again, and the others,
    // seeing it come again without their answer, answer again. True when it was.
    bool ownRowLost()
    {
        const auto rows = ledger::announcerRowsOnServer(ctx_, r.treco, r.NoRec, r.SynLast, r.family());
        require(rows.has_value());
        for (const LedgerRow& a : *rows)
            if (a.branch == ctx_.run.config.My_Branch)
                return false;
        post(r.kin1, r.kin3 == kin3::Open ? kin2::Announced : closingDecided(), ledger::kFirstStage);
        return true;
    }

    // An all-accepted closing fits a branch that accepted, or would now: its copy marked deleted,
    // gone, or free to go. A copy that must stay (something here names it, or this branch's edit
    // of it waits to be sent) met an acceptance it never gave for this exchange: one of an earlier
    // exchange of the key that landed late over its refusal, counted before it was posted again.
    bool mustStayHere()
    {
        require(ctx_.db.Open_Rs_Loc(exec_, r.treco, "where No_Rec = " + lit(r.NoRec)));
        if (exec_->recordCount() == 0)
            return false;
        exec_->moveFirst();
        if (exec_->text(u"SynDele") == ledger::synDele::Pending)
            return false;
        const data::RecordsetVar record = exec_;
        if (ledger::ownPending(*record, ctx_.run.config.My_Branch))
            return true;
        const std::optional<bool> named = Check_Dele_Named(ctx_, r.treco, r.NoRec);
        require(named.has_value());
        return *named;
    }

    // The announcer and the server deleted the record with its family when the closing went out,
    // so a copy kept here alone would stay apart for good: it goes out again with its family, as a
    // new version, to every branch, as this branch's rows (the send pass sends only its own), as a
    // repaired serial state does.
    void sendAgain() { require(Send_Again(ctx_, r.treco, r.NoRec)); }

    // A refused closing fits only an exchange some branch refused: a refusal among its answers,
    // here or on the server (an answer to the refused closing says the same).
    bool refusalKnown()
    {
        if (const auto rows = answers_.answers(r.treco, r.NoRec, r.SynLast, kin1::DeletionAnswer, {kin2::Refused}))
            for (const Answer& a : *rows)
                if (num(a.mainbranch) == 0)
                    return true;
        require(ctx_.db.Open_Rs_Ser(exec_, kAtten,
                                    ledger::recordClause(r.treco, r.NoRec) + " and SynLast = " + lit(r.SynLast)
                                        + " and kin1 = " + lit(text(kin1::DeletionAnswer))));
        const long long n = exec_->recordCount();
        if (n > 0)
            exec_->moveFirst();
        for (long long i = 0; i < n; ++i, exec_->moveNext()) {
            const qint32 k2 = num(exec_->text(u"kin2"));
            const bool toClosing = num(exec_->text(u"mainbranch")) != 0;
            if ((k2 == kin2::Refused && !toClosing) || (k2 == kin2::ClosedRefused && toClosing))
                return true;
        }
        return false;
    }

    Answers answersTo(qint32 stage)
    {
        return Check_Answers(ctx_, r.treco, r.SynLast, r.NoRec, r.branch, qint16(r.kin1), qint16(stage), &answers_);
    }

    // Only the announced version is marked closed, and a local edit waiting to be sent is never
    // overwritten: it will be announced and closed on its own.
    void closeLocal()
    {
        require(ctx_.db.Update_Loc(exec_, ledger::closedSet(), r.treco, announced() + ledger::notPending()));
    }
    void closeServer() { require(ctx_.db.Update_Ser(exec_, ledger::closedSet(), r.treco, announced())); }
    QString announced() const { return "where no_rec = " + lit(r.NoRec) + " and DatTim2 = " + lit(r.SynLast); }

    void restoreLocal()
    {
        require(ctx_.db.Update_Loc(exec_, ledger::restoredSet(), r.treco,
                                   "where No_Rec = " + lit(r.NoRec)));
    }

    void post(qint32 k1, qint32 k2, const QString& mainbranch)
    {
        require(ctx_.web.Web_Save_Syn(r.treco, r.SynLast, r.NoRec, qint16(k1), qint16(k2), mainbranch) == u"OK");
        ++ctx_.state.Cnt_Check;
    }

    void finish()
    {
        require(ledger::removeExchange(ctx_, r.treco, r.NoRec, r.SynLast, r.family()));
        ++ctx_.state.Cnt_Check;
    }

    void deleteBoth()
    {
        require(Delete_Reco_Loc(ctx_, r.treco, r.NoRec));
        require(Delete_Reco_Ser(ctx_, r.treco, r.NoRec));
        ++ctx_.state.Cnt_Check;
        endRecordExchanges(ctx_, answers_, r.treco, r.NoRec, r.SynLast);
    }

    void answered()
    {
        save(kin3::ClosingAnswered);
        answeredClosing_ = true;
    }

    void save(qint32 kin3Value)
    {
        row_.setValue(u"kin3", text(kin3Value));
        row_.update();
    }

    SyncContext& ctx_;
    data::Recordset& row_;
    AnswerIndex& answers_;
    data::RecordsetVar exec_;
    bool answeredClosing_ = false;

public:
    const LedgerRow r;
    const bool own;
};

// A row no pass can act on leaves the local ledger.
void dropRow(SyncContext& ctx, const LedgerRow& r, const QString& kin1Text)
{
    data::RecordsetVar exec;
    ctx.db.Delete_Loc(exec, kAtten,
                      ledger::recordClause(r.treco, r.NoRec) + " and branch = " + lit(r.branch)
                          + " and SynLast = " + lit(r.SynLast) + " and kin1 = " + lit(kin1Text));
}

// Rows that landed after their exchange ended and that this branch still has to take off the
// server (kin3 RemovalOwed): taken off, then out of the local ledger. One removal per exchange.
class OwedRemovals {
public:
    // False when the removal failed again (the row stays for the next pass).
    bool settle(SyncContext& ctx, const LedgerRow& r)
    {
        const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
        const QString id = key ? key->exchange() + u'\n' + text(r.family()) : QString();
        if (!id.isEmpty() && done_.contains(id))
            return true;
        // The key's exchange runs again (a deletion made again after a refusal): the removal would
        // take that exchange's rows, and the rows it was owed for are overwritten by them.
        data::RecordsetVar del;
        if (!ctx.db.Open_Rs_Loc(del, kAtten,
                                ledger::exchangeClause(r.treco, r.NoRec, r.SynLast, r.family()) + ledger::notOwed()))
            return false;
        if (del->recordCount() == 0) {
            if (!ledger::removeExchange(ctx, r.treco, r.NoRec, r.SynLast, r.family()))
                return false;
            ++ctx.state.Cnt_Check;
        }
        ctx.db.Delete_Loc(del, kAtten,
                          ledger::exchangeClause(r.treco, r.NoRec, r.SynLast, r.family()) + " and kin3 = "
                              + lit(text(kin3::RemovalOwed)));
        if (!id.isEmpty())
            done_.insert(id);
        return true;
    }

private:
    QSet<QString> done_;
};

// Versions of a record older than another one the ledger holds: the ledger update drops them as
// the newer row comes, but not when settling what they leave open failed, nor for an older row
// that landed after the newer one. Settled here, from the ledger itself, so that no failure and
// no restart leaves them. True when the ledger changed (it is then read again).
bool settleOlderVersions(SyncContext& ctx, data::Recordset& rows)
{
    struct Record {
        QString treco, NoRec, newest, newestKey;
        bool newestIsRecord = false, comparable = true;
        QSet<QString> versions;
    };
    QHash<QString, Record> records;
    const long long n = rows.recordCount();
    if (n > 0)
        rows.moveFirst();
    for (long long i = 0; i < n; ++i, rows.moveNext()) {
        const LedgerRow r = ledger::readRow(rows);
        if (r.kin3 == kin3::RemovalOwed || !ledger::isSynchronised(r.treco) || r.SynLast.trimmed().isEmpty())
            continue;
        const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
        if (!key)
            continue;  // only the database can compare it: the update's own deletes are its judge
        Record& rec = records[key->record];
        rec.comparable = rec.comparable && key->ordered;
        rec.versions.insert(key->version);
        const bool record = r.family() == kin1::Record;
        if (rec.newest.isEmpty() || key->version > rec.newestKey) {
            rec.treco = r.treco;
            rec.NoRec = r.NoRec;
            rec.newest = r.SynLast;
            rec.newestKey = key->version;
            rec.newestIsRecord = record;
        } else if (key->version == rec.newestKey) {
            rec.newestIsRecord = rec.newestIsRecord || record;
        }
    }
    bool changed = false;
    for (const Record& rec : std::as_const(records)) {
        if (!rec.comparable || rec.versions.size() < 2)
            continue;
        long long older = 0;
        if (ledger::releaseOlderVersions(ctx, rec.treco, rec.NoRec, rec.newest, rec.newestIsRecord, older) && older > 0
            && ledger::dropOlderRows(ctx, rec.treco, rec.NoRec, rec.newest))
            changed = true;
    }
    return changed;
}

// The exchanges this branch holds rows of but did not announce. Their announcer ends them by
// taking their rows off the server, after a closing this branch answers, or without one: when a
// newer version supersedes them, or when a row of them landed late. So an exchange whose
// announcer row has left the server has ended: this branch's rows of it leave its ledger, and its
// own rows of it still on the server (answers that landed after the end) go too.
class OthersExchanges {
public:
    void note(SyncContext& ctx, const LedgerRow& r, bool finishedHere)
    {
        if (r.kin3 == kin3::RemovalOwed || ledger::isStatisticsTable(r.treco))
            return;
        const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
        const QString id = key ? key->exchange() + u'\n' + text(r.family())
                               : r.treco + u'\n' + r.NoRec + u'\n' + r.SynLast + u'\n' + text(r.family());
        Exchange& e = exchanges_[id];
        if (e.treco.isEmpty()) {
            e.treco = r.treco;
            e.NoRec = r.NoRec;
            e.SynLast = r.SynLast;
            e.family = r.family();
            e.key = key;
        }
        const bool own = r.branch == ctx.run.config.My_Branch;
        e.announcedHere = e.announcedHere || (own && ledger::isAnnouncerRow(r.kin1));
        e.ownRows = e.ownRows || own;
        e.finishedHere = e.finishedHere || finishedHere || r.kin3 >= kin3::Finished;
    }

    // Asks the server about the exchanges still waiting here and ends those it no longer has;
    // the number of those it still has (rows left open).
    qint32 settle(SyncContext& ctx, const AnswerIndex& answers)
    {
        // Those this branch announced are its own to end; those it finished, or whose rows this
        // pass changed, are not waiting.
        std::vector<const Exchange*> waiting;
        for (const Exchange& e : std::as_const(exchanges_))
            if (!e.announcedHere && !e.finishedHere && !answers.changed(e.key))
                waiting.push_back(&e);
        qint32 open = 0;
        for (size_t from = 0; from < waiting.size(); from += kChunk) {
            const std::vector<const Exchange*> chunk(waiting.begin() + qsizetype(from),
                                                     waiting.begin() + qsizetype(std::min(waiting.size(), from + kChunk)));
            const std::optional<QSet<QString>> onServer = announcersOnServer(ctx, chunk);
            for (const Exchange* e : chunk) {
                std::optional<bool> present;
                if (onServer && e->key)
                    present = onServer->contains(idOf(*e->key, e->family));
                else if (const auto rows = ledger::announcerRowsOnServer(ctx, e->treco, e->NoRec, e->SynLast, e->family))
                    present = !rows->empty();
                if (!present || *present)
                    ++open;
                else if (!end(ctx, *e))
                    ++open;
            }
        }
        return open;
    }

private:
    static constexpr size_t kChunk = 200;

    struct Exchange {
        QString treco, NoRec, SynLast;
        qint32 family = kin1::Record;
        std::optional<LedgerKey> key;
        bool announcedHere = false, ownRows = false, finishedHere = false;
    };

    static QString idOf(const LedgerKey& key, qint32 family) { return key.exchange() + u'\n' + text(family); }

    // The announcer rows on the server of the chunk's records, as keys; nullopt when the server
    // can't be asked or holds a value only it can compare.
    static std::optional<QSet<QString>> announcersOnServer(SyncContext& ctx, const std::vector<const Exchange*>& chunk)
    {
        QStringList numbers;
        for (const Exchange* e : chunk)
            if (e->key)
                numbers << lit(e->NoRec);
        if (numbers.isEmpty())
            return std::nullopt;
        data::RecordsetVar rs;
        if (!ctx.db.Open_Rs_Ser(rs, kAtten,
                                "where (kin1 = " + lit(text(kin1::Record)) + " or kin1 = " + lit(text(kin1::Deletion))
                                    + ") and NoRec in (" + numbers.join(u',') + u')'))
            return std::nullopt;
        QSet<QString> out;
        try {
            const long long n = rs->recordCount();
            if (n > 0)
                rs->moveFirst();
            for (long long i = 0; i < n; ++i, rs->moveNext()) {
                const LedgerRow r = ledger::readRow(*rs);
                const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
                if (!key)
                    return std::nullopt;
                out.insert(idOf(*key, r.family()));
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
        return out;
    }

    // The exchange has ended without this branch's part in it: its own rows off the server (kept
    // as owed when that fails), a deletion it accepted settled as the server's record stands, its
    // rows out of the ledger. False when a step failed.
    static bool end(SyncContext& ctx, const Exchange& e)
    {
        const QString& me = ctx.run.config.My_Branch;
        const QString rows = ledger::exchangeClause(e.treco, e.NoRec, e.SynLast, e.family);
        data::RecordsetVar exec;
        if (e.ownRows && !ledger::removeExchange(ctx, e.treco, e.NoRec, e.SynLast, e.family)
            && !ctx.db.Update_Loc(exec, "kin3 = " + lit(text(kin3::RemovalOwed)), kAtten,
                                  rows + " and branch = " + lit(me)))
            return false;
        if (e.family == kin1::Deletion ? !settleAcceptedDeletion(ctx, e) : !markClosedAsServer(ctx, e))
            return false;
        return ctx.db.Delete_Loc(exec, kAtten, rows + ledger::notOwed());
    }

    // A record version whose closing this branch never answered (its answer landed after it gave
    // up, and the announcer finished on it): marked closed as the answer would have, where the
    // server's copy of that version is.
    static bool markClosedAsServer(SyncContext& ctx, const Exchange& e)
    {
        const QString version = "where no_rec = " + lit(e.NoRec) + " and DatTim2 = " + lit(e.SynLast);
        data::RecordsetVar rs;
        if (!ctx.db.Open_Rs_Loc(rs, e.treco, version + ledger::notPending() + " and (SynAdd is null or SynAdd <> " + lit(ledger::synAdd::Closed) + u')'))
            return false;
        if (rs->recordCount() == 0)
            return true;
        if (!ctx.db.Open_Rs_Ser(rs, e.treco, version + " and SynAdd = " + lit(ledger::synAdd::Closed)))
            return false;
        if (rs->recordCount() == 0)
            return true;
        data::RecordsetVar exec;
        return ctx.db.Update_Loc(exec, ledger::closedSet(), e.treco, version + ledger::notPending());
    }

    // A record this branch marked deleted when it accepted the deletion, whose closing never
    // came: deleted as the server's copy is, or given back its life when the server still has it.
    static bool settleAcceptedDeletion(SyncContext& ctx, const Exchange& e)
    {
        data::RecordsetVar rs;
        if (!ctx.db.Open_Rs_Loc(rs, e.treco, "where No_Rec = " + lit(e.NoRec) + " and SynDele = " + lit(ledger::synDele::Pending)))
            return false;
        if (rs->recordCount() == 0)
            return true;
        // This branch's own deletion of the record is its own to settle.
        if (!ctx.db.Open_Rs_Loc(rs, kAtten,
                                ledger::recordClause(e.treco, e.NoRec) + " and branch = "
                                    + lit(ctx.run.config.My_Branch) + " and kin1 = " + lit(text(kin1::Deletion))))
            return false;
        if (rs->recordCount() > 0)
            return true;
        if (!ctx.db.Open_Rs_Ser(rs, e.treco, "where No_Rec = " + lit(e.NoRec)))
            return false;
        if (rs->recordCount() == 0)
            return Delete_Reco_Loc(ctx, e.treco, e.NoRec);
        data::RecordsetVar exec;
        return ctx.db.Update_Loc(exec, ledger::restoredSet(), e.treco,
                                 "where No_Rec = " + lit(e.NoRec) + " and SynDele = " + lit(ledger::synDele::Pending));
    }

    QHash<QString, Exchange> exchanges_;
};

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
    auto readLedger = [&] {
        if (ctx.db.Open_Rs_Loc(scan, kAtten, QString()))
            return true;
        w.XXXK.setForeColor(StatusLabelModel::Red);
        w.Label2.setText(7, ledger::kConnectionError);
        return false;
    };
    if (!readLedger())
        return 1;  // the ledger could not be looked at: work may be left
    try {
        if (scan->recordCount() <= 0)
            return 0;
        if (settleOlderVersions(ctx, *scan) && !readLedger())
            return 1;
        const long long n = scan->recordCount();
        if (n <= 0)
            return 0;
        // The answers are counted in this same read of the ledger, not one select per question.
        AnswerIndex answers(*scan);
        OwedRemovals owed;
        OthersExchanges others;
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
            LedgerRowRules row(ctx, *scan, answers);
            const LedgerRow& r = row.r;
            if (r.kin3 == kin3::RemovalOwed) {
                if (!owed.settle(ctx, r))
                    ++count;
                continue;
            }
            if (ledger::isStatisticsTable(treco))
                continue;
            if (!Ledger_Row_Usable(ctx, r.NoRec, r.treco, r.branch, r.SynLast, r.kin1)) {
                dropRow(ctx, r, scan->text(u"kin1"));
                continue;
            }
            if (!row.run())
                ++count;
            others.note(ctx, r, row.answeredClosing());
        }
        count += others.settle(ctx, answers);
        return count;
    } catch (const std::exception&) {
        ++count;
        ++s.Cnt_Check;
        return count;
    }
}

}  // namespace tarvelo::sync
