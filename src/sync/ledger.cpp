#include "sync/engine.h"
#include "sync/exchange_end.h"
#include "sync/ledger_rows.h"

#include <QHash>
#include <algorithm>
#include <QSet>

#include <optional>

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

// The key of a row of this branch's announcements in SyncState::Announced.
QString announcedKey(const QString& treco, const QString& NoRec, const QString& SynLast, qint32 kin1Value)
{
    return treco + u'\n' + NoRec + u'\n' + SynLast + u'\n' + text(kin1Value);
}

// The local ledger, read once per update when many server rows come, and kept in step with what
// the update writes: a row already held unchanged, a row not held at all, the rows of a version
// and a record with no older version are then known without a select. Values are compared only
// in the form LedgerKey gives, so this never tells apart what a where clause takes as equal; any
// other value in the ledger switches it off, and a question about a value it cannot compare goes
// to the database.
class LedgerKeys {
public:
    enum class Held { Unknown, Absent, Same, Changed };

    // Reads the local ledger, and takes note of the server rows `server` as the rows to come.
    bool load(SyncContext& ctx, data::Recordset& server)
    {
        const long long n = server.recordCount();
        if (n > 0)
            server.moveFirst();
        for (long long i = 0; i < n; ++i, server.moveNext())
            ++coming_[fullKey(ledger::readRow(server))];
        if (!ctx.db.Select_Loc(rows_, QStringLiteral("*"), kAtten, QString()))
            return false;
        usable_ = true;
        const long long m = rows_->recordCount();
        if (m > 0)
            rows_->moveFirst();
        for (long long i = 0; i < m && usable_; ++i, rows_->moveNext())
            note(ledger::readRow(*rows_), i);
        return usable_;
    }

    // Takes `r` off the rows to come: whether a row of its key follows.
    bool comesAgain(const LedgerRow& r)
    {
        const QString key = fullKey(r);
        if (key.isEmpty())
            return true;  // no telling which rows are its
        const auto it = coming_.find(key);
        return it != coming_.end() && --*it > 0;
    }

    // The rows as read, to add rows to; empty unless loaded.
    data::RecordsetVar& rows() { return rows_; }

    // Whether the ledger holds the row of `r`'s key, and whether with `r`'s kin2 and DTNow;
    // `at` is its position in rows(), -1 when it cannot be saved through them; `kin3` its kin3.
    Held held(const LedgerRow& r, long long* at = nullptr, qint32* kin3Value = nullptr) const
    {
        const std::vector<Entry>* entries = nullptr;
        std::optional<LedgerKey> key;
        std::optional<QString> branch;
        if (!find(r.treco, r.NoRec, r.SynLast, entries, key) || !(branch = ledger::collationKey(r.branch)))
            return Held::Unknown;
        const Entry* hit = nullptr;
        for (const Entry& x : *entries) {
            if (x.version == key->version && x.branch == *branch && x.kin1 == r.kin1) {
                if (hit)
                    return Held::Unknown;  // which one a select gives first is the database's choice
                hit = &x;
            }
        }
        if (!hit)
            return Held::Absent;
        if (at)
            *at = hit->pos;
        if (kin3Value)
            *kin3Value = hit->kin3;
        return hit->kin2 == r.kin2 && hit->DTNow == r.DTNow ? Held::Same : Held::Changed;
    }

    // Whether the ledger holds a row of that version of the record: of any family, or of the
    // family `family` but for removals owed; nullopt when unknown.
    std::optional<bool> holdsVersion(const QString& treco, const QString& noRec, const QString& version,
                                     std::optional<qint32> family = std::nullopt) const
    {
        const std::vector<Entry>* entries = nullptr;
        std::optional<LedgerKey> key;
        if (!find(treco, noRec, version, entries, key))
            return std::nullopt;
        for (const Entry& x : *entries)
            if (x.version == key->version && (!family || (ledger::familyOf(x.kin1) == *family && x.kin3 != kin3::RemovalOwed)))
                return true;
        return false;
    }

    // False only when the ledger surely holds no row of the record older than `version`.
    bool mayHoldOlder(const QString& treco, const QString& noRec, const QString& version) const
    {
        const std::vector<Entry>* entries = nullptr;
        std::optional<LedgerKey> key;
        if (!find(treco, noRec, version, entries, key) || !key->ordered)
            return true;
        for (const Entry& x : *entries)
            if (!x.ordered || x.version < key->version)
                return true;
        return false;
    }

    // `r` was written: added, or its one row given r's kin2 and DTNow; `at` as for held().
    void saved(const LedgerRow& r, long long at)
    {
        const Held h = held(r);
        if (h == Held::Absent || h == Held::Unknown) {
            LedgerRow added = r;
            added.kin3 = kin3::Open;  // the table's default: the update writes no kin3
            note(added, at);
        } else if (h == Held::Changed) {
            const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
            const std::optional<QString> branch = ledger::collationKey(r.branch);
            for (Entry& x : records_[key->record])
                if (x.version == key->version && x.branch == *branch && x.kin1 == r.kin1) {
                    x.kin2 = r.kin2;
                    x.DTNow = r.DTNow;
                    x.pos = at;
                }
        }
    }

    // The record's rows older than `version` were deleted, but for removals owed.
    void droppedOlder(const QString& treco, const QString& noRec, const QString& version)
    {
        const std::optional<LedgerKey> key = LedgerKey::of(treco, noRec, version);
        if (!usable_ || !key || !key->ordered) {
            switchOff();
            return;
        }
        auto it = records_.find(key->record);
        if (it == records_.end())
            return;
        std::erase_if(*it, [&](const Entry& x) { return x.ordered && x.version < key->version && x.kin3 != kin3::RemovalOwed; });
        // What the database takes for older among other values is its own business.
        if (std::any_of(it->cbegin(), it->cend(), [](const Entry& x) { return !x.ordered; }))
            switchOff();
    }

    void switchOff()
    {
        usable_ = false;
        records_.clear();
    }

private:
    struct Entry {
        QString version, branch;
        qint32 kin1{}, kin2{}, kin3{};
        bool ordered = false;
        QString DTNow;
        long long pos = -1;
    };

    // The rows held of the record, when the ledger and the values can be compared here.
    bool find(const QString& treco, const QString& noRec, const QString& version, const std::vector<Entry>*& entries,
              std::optional<LedgerKey>& key) const
    {
        static const std::vector<Entry> none;
        key = LedgerKey::of(treco, noRec, version);
        if (!usable_ || !key)
            return false;
        const auto it = records_.constFind(key->record);
        entries = it == records_.cend() ? &none : &*it;
        return true;
    }

    // `r`'s key as compared here; empty when it cannot be.
    static QString fullKey(const LedgerRow& r)
    {
        const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
        const std::optional<QString> branch = ledger::collationKey(r.branch);
        return key && branch ? key->exchange() + u'\n' + *branch + u'\n' + text(r.kin1) : QString();
    }

    void note(const LedgerRow& r, long long at)
    {
        if (!usable_)
            return;
        const std::optional<LedgerKey> key = LedgerKey::of(r.treco, r.NoRec, r.SynLast);
        const std::optional<QString> branch = ledger::collationKey(r.branch);
        if (!key || !branch) {
            switchOff();
            return;
        }
        records_[key->record].push_back(Entry{key->version, *branch, r.kin1, r.kin2, r.kin3, key->ordered, r.DTNow, at});
    }

    data::RecordsetVar rows_;
    QHash<QString, std::vector<Entry>> records_;
    QHash<QString, int> coming_;
    bool usable_ = false;
};

// UpDate_Atten: the server's new ledger rows into the local ledger, in named steps.
// Each server row is first admitted (the Part's tests, and the rule for rows that landed after
// their exchange ended, exchange_end.h), then copied, then counted as work for the passes.
class LedgerUpdate {
public:
    explicit LedgerUpdate(SyncContext& ctx) : ctx_(ctx), me_(ctx.run.config.My_Branch) {}

    bool run()
    {
        try {
            if (!readWatermark() || !readServerRows())
                return false;
            const long long n = server_->recordCount();
            // Worth a read of the whole ledger only when many rows come.
            if (n >= 8)
                known_.load(ctx_, *server_);
            if (n > 0)
                server_->moveFirst();
            for (long long i = 1; i <= n; ++i, server_->moveNext()) {
                ctx_.window.Label7.setText(QStringLiteral("UpDate_Atten_%1_to_%2").arg(i).arg(n));
                if (!ctx_.run.Syn_Run) {
                    ctx_.window.Label2.setText(7, kSynOff);
                    return true;
                }
                const LedgerRow r = ledger::readRow(*server_);
                const bool comesAgain = known_.comesAgain(r);
                if (!Ledger_Row_Usable(ctx_, r.NoRec, r.treco, r.branch, r.SynLast, r.kin1))
                    continue;
                const Step admitted = admit(r);
                if (admitted == Step::Failed)
                    return false;
                if (admitted == Step::Skip)
                    continue;
                const Step copied = copy(r, comesAgain);
                if (copied == Step::Failed)
                    return false;
                if (copied == Step::Written)
                    raiseWork(r);
            }
            standingTables();
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

private:
    enum class Step { Copy, Skip, Written, Failed };

    // Watermark: the newest row copied so far; only that row is needed, not the whole ledger.
    bool readWatermark()
    {
        data::RecordsetVar top;
        if (!ctx_.db.Open_Rs_Loc(top, kAtten, QStringLiteral("where DTNow = (select max(DTNow) from atten_rec)")))
            return false;
        ctx_.state.Atten_Mark = top->recordCount() > 0 ? (top->moveFirst(), top->text(u"DTNow"))
                                                       : QStringLiteral("000000");
        return true;
    }

    bool readServerRows()
    {
        return ctx_.db.Open_Rs_Ser_Where_Order(server_, kAtten, "where DTNow  >= " + lit(ctx_.state.Atten_Mark),
                                               QStringLiteral("DTNow"));
    }

    // ---- admission: whether a server row is copied ------------------------------------------

    Step admit(const LedgerRow& r)
    {
        if (r.kin3 > kin3::Done)
            return Step::Skip;
        const bool own = r.branch == me_;
        if (own && ledger::isAnnouncerRow(r.kin1))
            return ownAnnouncerRow(r);
        if (own && !r.answersClosing())
            return ownFirstAnswer(r);
        // A closing is only taken for a version this branch has seen announced.
        if (ledger::isAnnouncerRow(r.kin1) && r.kin2 != kin2::Announced) {
            const std::optional<bool> seen = holds(r, std::nullopt);
            if (!seen)
                return Step::Failed;
            if (!*seen)
                return closingNotHeld(r);
        }
        // Answers to a closing go to the branch that announced (a refusal names no branch).
        if (r.answersClosing()) {
            if (own && !ownAnswerFits(r))
                return Step::Failed;
            if (r.mainbranch != me_)
                return Step::Skip;
            return answerToOwnClosing(r);
        }
        return Step::Copy;
    }

    // This branch's own announcement or closing. Held: copied as always (an announcement landing
    // over the closing turns the row back, and the resolution posts the closing again), unless
    // the exchange is finished here. Not held: a closing is late (only a held row is ever closed),
    // and so is an announcement whose record is no longer as it was announced.
    Step ownAnnouncerRow(const LedgerRow& r)
    {
        const bool justAnnounced = r.kin2 == kin2::Announced
                                   && ctx_.state.Announced.remove(announcedKey(r.treco, r.NoRec, r.SynLast, r.kin1));
        qint32 localKin3 = 0;
        const KeyHeld held = heldKey(r, localKin3);
        if (held == KeyHeld::Failed)
            return Step::Failed;
        if (held == KeyHeld::Held)
            return localKin3 == kin3::Finished ? late(r) : Step::Copy;
        if (r.kin2 == kin2::Announced) {
            if (justAnnounced)
                return Step::Copy;
            const std::optional<bool> stands = ledger::ownAnnouncementStands(ctx_, r);
            if (!stands)
                return Step::Failed;
            if (*stands)
                return Step::Copy;
        }
        return late(r);
    }

    // This branch's own answer to an announcement. While the ledger holds rows of the exchange it
    // is copied as always. Otherwise the server says: without the announcer's row the exchange has
    // ended and the answer is late; with it, the answer may have landed over this branch's answer
    // to the closing, so the announcer's row is taken again and the resolution answers it again.
    Step ownFirstAnswer(const LedgerRow& r)
    {
        const std::optional<bool> held = holds(r, r.family());
        if (!held)
            return Step::Failed;
        if (*held)
            return ownAnswerFits(r) ? Step::Copy : Step::Failed;
        const auto announcer = ledger::announcerRowsOnServer(ctx_, r.treco, r.NoRec, r.SynLast, r.family());
        if (!announcer)
            return Step::Failed;
        if (announcer->empty())
            return late(r);
        for (const LedgerRow& a : *announcer) {
            qint32 localKin3 = 0;
            const KeyHeld aHeld = heldKey(a, localKin3);
            if (aHeld == KeyHeld::Failed)
                return Step::Failed;
            if (aHeld == KeyHeld::Held)
                continue;
            // A deletion this branch has answered is not answered again in the first stage.
            const bool answered = a.kin1 == kin1::Deletion && a.kin2 == kin2::Announced;
            data::RecordsetVar rs;
            if (!ctx_.db.Open_Rs_Loc(rs, kAtten, QStringLiteral("where 1 = 0")))
                return Step::Failed;
            rs->addNew();
            ledger::fillRow(*rs, a, answered ? std::optional<qint32>(kin3::Done) : std::nullopt);
            rs->insertOnly();
            known_.switchOff();
            raiseWork(a);
        }
        return Step::Copy;
    }

    // This branch's own answer about a deletion, back from the server, must be the one it gave
    // last. An answer of an earlier exchange of the key that landed over it (an acceptance while
    // the copy stands unmarked here, an answer to a closing while this exchange is in its first
    // stage, or one of the first stage after this branch answered the closing) has it answer
    // again as things stand here. False when the ledger can't be read or written.
    bool ownAnswerFits(const LedgerRow& r)
    {
        if (r.family() != kin1::Deletion)
            return true;
        data::RecordsetVar rs;
        if (!ctx_.db.Open_Rs_Loc(rs, kAtten,
                                 ledger::recordClause(r.treco, r.NoRec) + " and SynLast = " + lit(r.SynLast)
                                     + " and kin1 = " + lit(text(kin1::Deletion))))
            return false;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext()) {
            const LedgerRow a = ledger::readRow(*rs);
            qint32 again = a.kin3;
            if (a.kin3 == kin3::ClosingAnswered && (!r.answersClosing() || r.kin2 != a.kin2))
                again = kin3::Done;
            else if (a.kin2 == kin2::Announced && a.kin3 == kin3::Done && (r.answersClosing() || !acceptanceHolds(r)))
                again = kin3::Open;
            if (again == a.kin3)
                continue;
            rs->setValue(u"kin3", text(again));
            rs->update();
            known_.switchOff();
            raiseWork(a);  // an announcement answered again goes through the receive-delete pass
        }
        return true;
    }

    // An acceptance stands while the copy is marked deleted here, or gone.
    bool acceptanceHolds(const LedgerRow& r)
    {
        if (r.kin2 != kin2::Announced)
            return true;
        data::RecordsetVar rs;
        if (!ctx_.db.Open_Rs_Loc(rs, r.treco, "where No_Rec = " + lit(r.NoRec)))
            throw data::DbError(QStringLiteral("the record can't be read"));
        return rs->recordCount() == 0 || (rs->moveFirst(), rs->text(u"SynDele") == ledger::synDele::Pending);
    }

    // An answer to this branch's closing: copied while the exchange is open here; once it has
    // ended, the answer (posted again, or landing late) is this branch's to take off.
    Step answerToOwnClosing(const LedgerRow& r)
    {
        data::RecordsetVar rs;
        if (!ctx_.db.Open_Rs_Loc(rs, kAtten,
                                 ledger::recordClause(r.treco, r.NoRec) + " and SynLast = " + lit(r.SynLast)
                                     + " and branch = " + lit(me_) + " and kin1 = " + lit(text(r.family()))))
            return Step::Failed;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext())
            if (num(rs->text(u"kin3")) < kin3::Finished)
                return Step::Copy;
        return late(r);
    }

    // A row that landed after its exchange ended, this branch's to take off the server.
    Step late(const LedgerRow& r)
    {
        if (!ledger::oweRemoval(ctx_, r))
            return Step::Failed;
        known_.switchOff();
        return Step::Skip;
    }

    // Whether the local ledger holds the row of `r`'s key, and its kin3 when it does.
    enum class KeyHeld { Failed, Absent, Held };
    KeyHeld heldKey(const LedgerRow& r, qint32& kin3Value)
    {
        const LedgerKeys::Held h = known_.held(r, nullptr, &kin3Value);
        if (h == LedgerKeys::Held::Absent)
            return KeyHeld::Absent;
        if (h != LedgerKeys::Held::Unknown)
            return KeyHeld::Held;
        data::RecordsetVar rs;
        if (!ctx_.db.Open_Rs_Loc_Where_Order(rs, kAtten, keyClause(r), QStringLiteral("DTNow")))
            return KeyHeld::Failed;
        if (rs->recordCount() == 0)
            return KeyHeld::Absent;
        rs->moveFirst();
        kin3Value = num(rs->text(u"kin3"));
        return KeyHeld::Held;
    }

    // Whether the local ledger holds rows of `r`'s version (of `family` only, owed removals left out).
    std::optional<bool> holds(const LedgerRow& r, std::optional<qint32> family)
    {
        if (const std::optional<bool> known = known_.holdsVersion(r.treco, r.NoRec, r.SynLast, family))
            return known;
        data::RecordsetVar rs;
        const QString version = "where NoRec  = " + lit(r.NoRec) + " and treco  = " + lit(r.treco)
                                + " and SynLast  = " + lit(r.SynLast);
        if (!ctx_.db.Open_Rs_Loc_Where_Order(
                rs, kAtten, family ? version + " and " + ledger::familyClause(*family) + ledger::notOwed() : version,
                QStringLiteral("DTNow")))
            return std::nullopt;
        return rs->recordCount() > 0;
    }

    static QString keyClause(const LedgerRow& r)
    {
        return "where NoRec  = " + lit(r.NoRec) + " and branch  = " + lit(r.branch) + " and treco  = " + lit(r.treco)
               + " and SynLast  = " + lit(r.SynLast) + " and kin1  = " + lit(text(r.kin1));
    }

    // ---- the copy ----------------------------------------------------------------------------

    // Adds the row or gives the held row its kin2 and DTNow; Written when it did either. The older
    // versions go with the copy once whatever they leave open is settled; when that fails they
    // stay, and the resolution settles them later.
    Step copy(const LedgerRow& r, bool comesAgain)
    {
        // A row held unchanged needs nothing; the others are written through the ledger read
        // where it can say which row is theirs.
        long long at = -1;
        const LedgerKeys::Held held = known_.held(r, &at);
        if (held == LedgerKeys::Held::Same)
            return Step::Skip;
        const bool inRead = held == LedgerKeys::Held::Absent || (held == LedgerKeys::Held::Changed && at >= 0);
        if (inRead)
            scan_ = known_.rows();
        else if (!ctx_.db.Open_Rs_Loc_Where_Order(scan_, kAtten, keyClause(r), QStringLiteral("DTNow")))
            return Step::Failed;

        long long olderRows = 0;
        bool mayHaveOlder = known_.mayHoldOlder(r.treco, r.NoRec, r.SynLast);
        // Copied as any row, and ended as late rows are, but it ends no older exchange.
        if (mayHaveOlder && r.kin1 == kin1::Record && r.kin2 == kin2::Announced && r.branch != me_) {
            const std::optional<bool> lost = ledger::announcedBeforeItsDeletion(ctx_, r);
            if (!lost)
                return Step::Failed;
            mayHaveOlder = !*lost;
        }
        auto release = [&] {
            const bool newerIsRecord = ledger::familyOf(r.kin1) == kin1::Record;
            if (mayHaveOlder && !ledger::releaseOlderVersions(ctx_, r.treco, r.NoRec, r.SynLast, newerIsRecord, olderRows))
                olderRows = 0;
        };
        if (held == LedgerKeys::Held::Absent || scan_->recordCount() == 0) {
            release();
            scan_->addNew();
            ledger::fillRow(*scan_, r);
            // Its auto-numbered key is read back only when this update saves it again.
            if (inRead && comesAgain) {
                scan_->update();
                at = scan_->position();
            } else {
                scan_->insertOnly();
            }
        } else {
            if (inRead)
                scan_->moveTo(at);
            else
                scan_->moveFirst();
            const LedgerRow local = ledger::readRow(*scan_);
            if (local.kin2 == r.kin2 && local.DTNow == r.DTNow)
                return Step::Skip;
            if (refusalStands(local, r))
                return Step::Skip;
            release();
            scan_->setValue(u"kin2", r.kin2Text);
            scan_->setValue(u"DTNow", r.DTNow);
            // Which stage an answer row answers, as the resolution counts it.
            if (local.mainbranch != r.mainbranch)
                scan_->setValue(u"mainbranch", r.mainbranch);
            const std::optional<qint32> again = answerAgain(local, r);
            if (!again)
                return Step::Failed;
            if (*again != local.kin3) {
                scan_->setValue(u"kin3", text(*again));
                known_.switchOff();
                if (*again == kin3::Open)
                    raiseWork(r);
            }
            scan_->update();
        }
        known_.saved(r, inRead ? at : -1);

        // Nothing older was there a moment ago and only this pass writes the ledger: the
        // deletes would find nothing, and each costs a connection.
        if (olderRows > 0) {
            // Rows a failed delete left are no longer known for sure.
            if (ledger::dropOlderRows(ctx_, r.treco, r.NoRec, r.SynLast))
                known_.droppedOlder(r.treco, r.NoRec, r.SynLast);
            else
                known_.switchOff();
        }
        return Step::Written;
    }

    // A refusal of a running deletion is not taken back by an acceptance landing over it: the
    // same key answered in an earlier exchange, delivered late, says the same.
    static bool refusalStands(const LedgerRow& held, const LedgerRow& r)
    {
        return r.kin1 == kin1::DeletionAnswer && !held.answersClosing() && !r.answersClosing()
               && held.kin2 == kin2::Refused && r.kin2 == kin2::Announced;
    }

    // Another branch's deletion announcement or closing stored again (posted again because its
    // rows left the server): when this branch's answer is no longer there, it answers again:
    // the kin3 its row is to take, its own when nothing is owed; nullopt when the server can't say.
    std::optional<qint32> answerAgain(const LedgerRow& held, const LedgerRow& r)
    {
        if (r.branch == me_ || r.kin1 != kin1::Deletion)
            return held.kin3;
        // A closing of the other kind posted over the one answered here: the answer fits it no more.
        if (r.kin2 != kin2::Announced && held.kin3 == kin3::ClosingAnswered && held.kin2 != r.kin2)
            return kin3::Done;
        const bool again = r.kin2 == kin2::Announced ? held.kin3 != kin3::Open
                                                     : held.kin2 == r.kin2 && held.kin3 == kin3::ClosingAnswered;
        if (!again)
            return held.kin3;
        const auto answers = ownAnswersOnServer(r);
        if (!answers)
            return std::nullopt;
        if (!answers->empty())
            return held.kin3;
        return r.kin2 == kin2::Announced ? kin3::Open : kin3::Done;
    }

    // Another branch's deletion closing of a version this branch holds no rows of: it answered
    // that exchange's closing and ended it here. Its answer on the server to a closing of the
    // other kind (an earlier exchange's, landed late, that the announcer has since posted its own
    // back over) fits it no more: the closing is taken again, and answered again.
    Step closingNotHeld(const LedgerRow& r)
    {
        if (r.kin1 != kin1::Deletion)
            return Step::Skip;
        const auto answers = ownAnswersOnServer(r);
        if (!answers)
            return Step::Failed;
        for (const LedgerRow& a : *answers)
            if (a.answersClosing() && a.mainbranch == r.branch && a.kin2 != r.kin2)
                return Step::Copy;
        return Step::Skip;
    }

    // This branch's answers on the server about the deletion of `r`'s version; nullopt when the
    // server can't say.
    std::optional<std::vector<LedgerRow>> ownAnswersOnServer(const LedgerRow& r)
    {
        data::RecordsetVar rs;
        if (!ctx_.db.Open_Rs_Ser(rs, kAtten,
                                 ledger::recordClause(r.treco, r.NoRec) + " and SynLast = " + lit(r.SynLast)
                                     + " and branch = " + lit(me_) + " and kin1 = " + lit(text(kin1::DeletionAnswer))))
            return std::nullopt;
        std::vector<LedgerRow> out;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext())
            out.push_back(ledger::readRow(*rs));
        return out;
    }

    // ---- the work a copied row calls for ------------------------------------------------------

    void raiseWork(const LedgerRow& r)
    {
        records::TableList& tabs = ctx_.tables;
        if (r.family() == kin1::Record)
            ++ctx_.branch.Chk_Rec;
        else
            ++ctx_.branch.Chk_Del;
        if (r.branch == me_ || r.kin2 != kin2::Announced || !ledger::isAnnouncerRow(r.kin1))
            return;
        // Another branch's announcement: its table is to be received, or its deletion answered.
        const int j = tabs.slotOf(r.treco);
        if (j < 0)
            return;
        if (r.kin1 == kin1::Record) {
            ++tabs.Tab_Rece[size_t(j)];
            Mark_Sub_Tabs(ctx_, tabs.Syn_Tabs[size_t(j)]);
        } else {
            ++tabs.Tab_ReceDel[size_t(j)];
        }
    }

    // Tables received in every cycle.
    void standingTables()
    {
        records::TableList& tabs = ctx_.tables;
        for (int j = 0; j <= tabs.Tab_Count && j < records::TableList::Slots; ++j) {
            const QString& name = tabs.Syn_Tabs[size_t(j)];
            if (name == u"branch_tab" || name == u"branchsyn_tab" || name == u"notic_tab")
                ++tabs.Tab_Rece[size_t(j)];
        }
    }

    SyncContext& ctx_;
    const QString me_;
    data::RecordsetVar server_;
    data::RecordsetVar scan_;
    LedgerKeys known_;
};

}  // namespace

void Note_Announced(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& SynLast,
                    qint32 kin1Value)
{
    QSet<QString>& set = ctx.state.Announced;
    if (set.size() >= 100000)  // copies that never came: start afresh, the record says the rest
        set.clear();
    set.insert(announcedKey(treco, NoRec, SynLast, kin1Value));
}

bool Ledger_Row_Usable(SyncContext& ctx, const QString& NoRec, const QString& treco, const QString& branch,
                       const QString& SynLast, qint32 kin1Value)
{
    if (ledger::isSynchronised(treco) && !SynLast.trimmed().isEmpty())
        return true;
    const QString line = QStringLiteral("atten_rec: no pass can act on treco %1 NoRec %2 branch %3 SynLast '%4' kin1 %5")
                             .arg(treco, NoRec, branch, SynLast)
                             .arg(kin1Value);
    if (!ctx.state.Ledger_Logged.contains(line)) {
        ctx.state.Ledger_Logged.insert(line);
        ctx.errors.Save_Code(line);
    }
    return false;
}

bool UpDate_Atten(SyncContext& ctx)
{
    return LedgerUpdate(ctx).run();
}

}  // namespace tarvelo::sync
