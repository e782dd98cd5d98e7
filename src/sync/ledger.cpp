#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include <QHash>
#include <QSet>

#include <optional>

namespace tarvelo::sync {

using ledger::lit;
using ledger::num;

namespace {

// A server ledger row, read once.
struct LedgerRow {
    QString NoRec, treco, branch, SynLast, kin2Text, DTNow, mainbranch;
    qint32 kin1 = 0, kin2 = 0, kin3 = 0;
};

LedgerRow readRow(const data::Recordset& rs)
{
    LedgerRow r;
    r.NoRec = rs.text(u"NoRec");
    r.treco = rs.text(u"treco");
    r.branch = rs.text(u"branch");
    r.SynLast = rs.text(u"SynLast");
    r.kin1 = num(rs.text(u"kin1"));
    r.kin2Text = rs.text(u"kin2");
    r.kin2 = num(r.kin2Text);
    r.kin3 = num(rs.text(u"kin3"));
    r.mainbranch = rs.text(u"mainbranch");
    r.DTNow = rs.text(u"DTNow");
    return r;
}

// Rows of older versions of the record are about to be dropped. Those of exchanges still open
// would be left behind: this branch's own announcements and closings are taken off the server, as
// nobody else will finish them, and a record whose deletion is superseded by a newer version (it
// is marked deleted here, announced or accepted) is given back its life as a refused deletion is.
// `older` says how many such rows there were.
bool releaseSupersededRows(SyncContext& ctx, const LedgerRow& newer, long long& older)
{
    older = 0;
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                            "where NoRec = " + lit(newer.NoRec) + " and treco = " + lit(newer.treco)
                                + " and SynLast < " + lit(newer.SynLast)))
        return false;
    const QString& me = ctx.run.config.My_Branch;
    const bool newerRecord = newer.kin1 == 0 || newer.kin1 == 1;
    bool openDeletion = false;
    QSet<QString> removed;
    const long long n = rs->recordCount();
    older = n;
    if (n > 0)
        rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext()) {
        const bool own = rs->text(u"branch") == me;
        const qint32 kin1 = num(rs->text(u"kin1"));
        const qint32 kin3 = num(rs->text(u"kin3"));
        const qint16 family = ledger::familyOf(kin1);
        const QString oldVersion = rs->text(u"SynLast");
        if (own && (kin1 == 0 || kin1 == 2) && kin3 < 2) {
            const QString key = oldVersion + u'|' + QString::number(family);
            if (!removed.contains(key)) {
                removed.insert(key);
                // Left on the server, the row would come back into this ledger for good.
                if (ctx.web.Web_Delete_Syn(newer.treco, oldVersion, newer.NoRec, family) != u"1")
                    return false;
            }
        }
        if (kin1 == 2 && ((own && kin3 == 0) || (!own && kin3 != 3)))
            openDeletion = true;
    }
    if (!openDeletion || !newerRecord)
        return true;
    data::RecordsetVar exec;
    return ctx.db.Update_Loc(exec, QStringLiteral("SynDele = '0',NoBra3 = '--'"), newer.treco,
                             "where No_Rec = " + lit(newer.NoRec) + " and SynDele = '2'");
}

// Drops the local rows of the versions of `r`'s record older than `r`, of both families.
// Drops the local rows of the versions of `r`'s record older than `r`, of both families; false
// when either delete failed.
bool deleteOlderRows(SyncContext& ctx, const LedgerRow& r)
{
    data::RecordsetVar del;
    const QString older = " and SynLast < " + lit(r.SynLast);
    const QString base = "where NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco);
    const bool records = ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"),
                                           base + " and kin1 = '0'" + older + " or NoRec = " + lit(r.NoRec)
                                               + " and treco = " + lit(r.treco) + " and kin1 = '1'" + older);
    const bool deletions = ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"),
                                             base + " and kin1 = '2'" + older + " or NoRec = " + lit(r.NoRec)
                                                 + " and treco = " + lit(r.treco) + " and kin1 = '3'" + older);
    return records && deletions;
}

// Whether this branch's announcement or closing that an answer to a closing is about is still
// open here; nullopt when the ledger can't be read.
std::optional<bool> ownExchangeOpen(SyncContext& ctx, const LedgerRow& answer)
{
    data::RecordsetVar rs;
    const QString family = answer.kin1 == 1 ? QStringLiteral("0") : QStringLiteral("2");
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                            "where NoRec = " + lit(answer.NoRec) + " and treco = " + lit(answer.treco) + " and SynLast = "
                                + lit(answer.SynLast) + " and branch = " + lit(ctx.run.config.My_Branch)
                                + " and kin1 = " + lit(family)))
        return std::nullopt;
    const long long n = rs->recordCount();
    if (n > 0)
        rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext())
        if (num(rs->text(u"kin3")) < 2)
            return true;
    return false;
}

// An answer to an announcement (kin2 0) can land on the server late, when a delayed request does
// its work after a later one, and overwrite the answer to the closing. It then comes into ledgers
// that finished the exchange and hold no row of its version. In the answering branch the
// announcer's rows are copied again, below the watermark as they are, so its closing is answered
// again; elsewhere the row is left out when another branch announced that version, as nothing
// here would ever take it off. nullopt when a database can't be read; otherwise whether to copy it.
std::optional<bool> takeLateAnswer(SyncContext& ctx, const LedgerRow& r, bool& wrote)
{
    const QString announce = ledger::familyOf(r.kin1) == 2 ? QStringLiteral("2") : QStringLiteral("0");
    const QString answer = announce == u"2" ? QStringLiteral("3") : QStringLiteral("1");
    const QString version = "where NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco)
                            + " and SynLast = " + lit(r.SynLast);
    data::RecordsetVar local;
    if (!ctx.db.Open_Rs_Loc(local, QStringLiteral("atten_rec"),
                            version + " and kin1 = " + lit(announce) + " or NoRec = " + lit(r.NoRec) + " and treco = "
                                + lit(r.treco) + " and SynLast = " + lit(r.SynLast) + " and kin1 = " + lit(answer)))
        return std::nullopt;
    if (local->recordCount() > 0)
        return true;
    data::RecordsetVar server;
    if (!ctx.db.Open_Rs_Ser_Where_Order(server, QStringLiteral("atten_rec"), version + " and kin1 = " + lit(announce),
                                        QStringLiteral("DTNow")))
        return std::nullopt;
    const QString& me = ctx.run.config.My_Branch;
    const long long n = server->recordCount();
    if (n > 0)
        server->moveFirst();
    bool others = false, mine = false;
    for (long long i = 0; i < n; ++i, server->moveNext()) {
        const LedgerRow a = readRow(*server);
        (a.branch == me ? mine : others) = true;
        if (r.branch != me || a.branch == me)
            continue;
        local->addNew();
        local->setValue(u"NoRec", a.NoRec);
        local->setValue(u"branch", a.branch);
        local->setValue(u"treco", a.treco);
        local->setValue(u"SynLast", a.SynLast);
        local->setValue(u"kin1", QString::number(a.kin1));
        local->setValue(u"kin2", a.kin2Text);
        local->setValue(u"DTNow", a.DTNow);
        local->setValue(u"mainbranch", a.mainbranch);
        local->insertOnly();
        wrote = true;
    }
    return r.branch == me || mine || !others;
}

// Runs the server clean-ups that failed before; those failing again stay due.
void retryCleanups(SyncContext& ctx)
{
    std::vector<LedgerCleanup> due;
    due.swap(ctx.state.Cleanup_Due);
    for (const LedgerCleanup& c : due) {
        bool done = false;
        if (c.lateAnswer) {
            done = ctx.web.Web_Delete_Syn(c.treco, c.SynLast, c.NoRec, ledger::familyOf(c.kin1)) == u"1";
        } else {
            LedgerRow r;
            r.treco = c.treco;
            r.NoRec = c.NoRec;
            r.SynLast = c.SynLast;
            r.kin1 = c.kin1;
            long long older = 0;
            done = releaseSupersededRows(ctx, r, older);
            if (done && older > 0)
                deleteOlderRows(ctx, r);
        }
        if (!done)
            ctx.state.Cleanup_Due.push_back(c);
    }
}

// The local ledger, read once per update when many server rows come, and kept in step with what
// the update writes: a row already held unchanged, a row not held at all, the version a closing
// needs and a record with no older version are then known without a select. Values are compared
// only in the form ledger::collationKey() gives, so this never tells apart what a where clause
// takes as equal; any other value in the ledger switches it off, and a question about a value it
// cannot compare goes to the database.
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
            ++coming_[fullKey(readRow(server))];
        if (!ctx.db.Select_Loc(rows_, QStringLiteral("*"), QStringLiteral("atten_rec"), QString()))
            return false;
        usable_ = true;
        const long long m = rows_->recordCount();
        if (m > 0)
            rows_->moveFirst();
        for (long long i = 0; i < m && usable_; ++i, rows_->moveNext())
            note(rows_->text(u"treco"), rows_->text(u"NoRec"), rows_->text(u"SynLast"), rows_->text(u"branch"),
                 rows_->text(u"kin1"), num(rows_->text(u"kin2")), rows_->text(u"DTNow"), i);
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
    // `at` is its position in rows(), -1 when it cannot be saved through them.
    Held held(const LedgerRow& r, long long* at = nullptr) const
    {
        const std::vector<Entry>* entries = nullptr;
        std::optional<Entry> e;
        if (!find(r.treco, r.NoRec, r.SynLast, entries) || !(e = entryOf(r.SynLast, r.branch, QString::number(r.kin1))))
            return Held::Unknown;
        const Entry* hit = nullptr;
        for (const Entry& x : *entries) {
            if (x.version == e->version && x.branch == e->branch && x.kin1 == e->kin1) {
                if (hit)
                    return Held::Unknown;  // which one a select gives first is the database's choice
                hit = &x;
            }
        }
        if (!hit)
            return Held::Absent;
        if (at)
            *at = hit->pos;
        return hit->kin2 == r.kin2 && hit->DTNow == r.DTNow ? Held::Same : Held::Changed;
    }

    // Whether the ledger holds any row of that version of the record; nullopt when unknown.
    std::optional<bool> holdsVersion(const QString& treco, const QString& noRec, const QString& version) const
    {
        const std::vector<Entry>* entries = nullptr;
        const std::optional<QString> v = ledger::collationKey(version, true);
        if (!v || !find(treco, noRec, version, entries))
            return std::nullopt;
        for (const Entry& x : *entries)
            if (x.version == *v)
                return true;
        return false;
    }

    // False only when the ledger surely holds no row of the record older than `version`.
    bool mayHoldOlder(const QString& treco, const QString& noRec, const QString& version) const
    {
        const std::vector<Entry>* entries = nullptr;
        const std::optional<QString> v = ledger::collationKey(version, true);
        if (!v || !find(treco, noRec, version, entries))
            return true;
        for (const Entry& x : *entries)
            if (x.version < *v)
                return true;
        return false;
    }

    // `r` was written: added, or its one row given r's kin2 and DTNow; `at` as for held().
    void saved(const LedgerRow& r, long long at)
    {
        const Held h = held(r);
        if (h == Held::Absent || h == Held::Unknown) {
            note(r.treco, r.NoRec, r.SynLast, r.branch, QString::number(r.kin1), r.kin2, r.DTNow, at);
        } else if (h == Held::Changed) {
            const std::optional<Entry> e = entryOf(r.SynLast, r.branch, QString::number(r.kin1));
            for (Entry& x : records_[*keyOf(r.treco, r.NoRec)])
                if (x.version == e->version && x.branch == e->branch && x.kin1 == e->kin1) {
                    x.kin2 = r.kin2;
                    x.DTNow = r.DTNow;
                    x.pos = at;
                }
        }
    }

    // The rows of kin1 0 to 3 of the record older than `version` were deleted.
    void droppedOlder(const QString& treco, const QString& noRec, const QString& version)
    {
        const std::optional<QString> key = keyOf(treco, noRec);
        const std::optional<QString> v = ledger::collationKey(version, true);
        if (!usable_ || !key || !v) {
            switchOff();
            return;
        }
        auto it = records_.find(*key);
        if (it == records_.end())
            return;
        std::erase_if(*it, [&](const Entry& x) {
            return x.version < *v && (x.kin1 == u"0" || x.kin1 == u"1" || x.kin1 == u"2" || x.kin1 == u"3");
        });
    }

    void switchOff()
    {
        usable_ = false;
        records_.clear();
    }

private:
    struct Entry {
        QString version, branch, kin1;
        qint32 kin2 = 0;
        QString DTNow;
        long long pos = -1;
    };

    static std::optional<QString> keyOf(const QString& treco, const QString& noRec)
    {
        const std::optional<QString> t = ledger::collationKey(treco), n = ledger::collationKey(noRec);
        if (!t || !n)
            return std::nullopt;
        return *t + u'\n' + *n;
    }

    static std::optional<Entry> entryOf(const QString& version, const QString& branch, const QString& kin1)
    {
        const std::optional<QString> v = ledger::collationKey(version, true), b = ledger::collationKey(branch),
                                     k = ledger::collationKey(kin1);
        if (!v || !b || !k)
            return std::nullopt;
        return Entry{*v, *b, *k, 0, {}, -1};
    }

    // The rows held of the record, when the ledger and the values can be compared here.
    bool find(const QString& treco, const QString& noRec, const QString& version,
              const std::vector<Entry>*& entries) const
    {
        static const std::vector<Entry> none;
        const std::optional<QString> key = keyOf(treco, noRec);
        if (!usable_ || !key || !ledger::collationKey(version, true))
            return false;
        const auto it = records_.constFind(*key);
        entries = it == records_.cend() ? &none : &*it;
        return true;
    }

    // `r`'s key as compared here; empty when it cannot be.
    static QString fullKey(const LedgerRow& r)
    {
        const std::optional<QString> key = keyOf(r.treco, r.NoRec);
        const std::optional<Entry> e = entryOf(r.SynLast, r.branch, QString::number(r.kin1));
        return key && e ? *key + u'\n' + e->version + u'\n' + e->branch + u'\n' + e->kin1 : QString();
    }

    void note(const QString& treco, const QString& noRec, const QString& version, const QString& branch,
              const QString& kin1, qint32 kin2, const QString& DTNow, long long at)
    {
        if (!usable_)
            return;
        const std::optional<QString> key = keyOf(treco, noRec);
        std::optional<Entry> e = entryOf(version, branch, kin1);
        if (!key || !e) {
            switchOff();
            return;
        }
        e->kin2 = kin2;
        e->DTNow = DTNow;
        e->pos = at;
        records_[*key].push_back(*e);
    }

    data::RecordsetVar rows_;
    QHash<QString, std::vector<Entry>> records_;
    QHash<QString, int> coming_;
    bool usable_ = false;
};

}  // namespace

bool Ledger_Row_Usable(SyncContext& ctx, const QString& NoRec, const QString& treco, const QString& branch,
                       const QString& SynLast, qint32 kin1)
{
    if (ledger::isSynchronised(treco) && !SynLast.trimmed().isEmpty())
        return true;
    const QString line = QStringLiteral("atten_rec: no pass can act on treco %1 NoRec %2 branch %3 SynLast '%4' kin1 %5")
                             .arg(treco, NoRec, branch, SynLast)
                             .arg(kin1);
    if (!ctx.state.Ledger_Logged.contains(line)) {
        ctx.state.Ledger_Logged.insert(line);
        ctx.errors.Save_Code(line);
    }
    return false;
}

bool UpDate_Atten(SyncContext& ctx)
{
    SyncState& s = ctx.state;
    records::TableList& tabs = ctx.tables;
    const QString& me = ctx.run.config.My_Branch;
    try {
        // Watermark: the newest row copied so far; only that row is needed, not the whole ledger.
        data::RecordsetVar scan;
        if (!ctx.db.Open_Rs_Loc(scan, QStringLiteral("atten_rec"),
                                QStringLiteral("where DTNow = (select max(DTNow) from atten_rec)")))
            return false;
        s.Atten_Mark = scan->recordCount() > 0 ? (scan->moveFirst(), scan->text(u"DTNow")) : QStringLiteral("000000");

        data::RecordsetVar server;
        if (!ctx.db.Open_Rs_Ser_Where_Order(server, QStringLiteral("atten_rec"), "where DTNow  >= " + lit(s.Atten_Mark),
                                            QStringLiteral("DTNow")))
            return false;
        retryCleanups(ctx);

        const long long n = server->recordCount();
        // Worth a read of the whole ledger only when many rows come.
        LedgerKeys known;
        if (n >= 8)
            known.load(ctx, *server);
        if (n > 0)
            server->moveFirst();
        for (long long i = 1; i <= n; ++i, server->moveNext()) {
            ctx.window.Label7.setText(QStringLiteral("UpDate_Atten_%1_to_%2").arg(i).arg(n));
            if (!ctx.run.Syn_Run) {
                ctx.window.Label2.setText(7, kSynOff);
                return true;
            }
            const LedgerRow r = readRow(*server);
            const bool comesAgain = known.comesAgain(r);
            if (!Ledger_Row_Usable(ctx, r.NoRec, r.treco, r.branch, r.SynLast, r.kin1))
                continue;
            const QString version = "where NoRec  = " + lit(r.NoRec) + " and treco  = " + lit(r.treco);

            // A closing is only taken for a version this branch has seen announced.
            const bool closing = (r.kin1 == 0 && r.kin2 == 1) || (r.kin1 == 2 && (r.kin2 == 1 || r.kin2 == 2));
            if (closing) {
                std::optional<bool> announced = known.holdsVersion(r.treco, r.NoRec, r.SynLast);
                if (!announced) {
                    data::RecordsetVar chk;
                    if (!ctx.db.Open_Rs_Loc_Where_Order(chk, QStringLiteral("atten_rec"),
                                                        version + " and SynLast  = " + lit(r.SynLast),
                                                        QStringLiteral("DTNow")))
                        return false;
                    announced = chk->recordCount() > 0;
                }
                if (!*announced)
                    continue;
            }
            // Answers to a closing go to the branch that announced (a refusal names no branch).
            const bool closingAnswer = (r.kin1 == 1 && r.kin2 == 1) || (r.kin1 == 3 && (r.kin2 == 1 || r.kin2 == 2));
            if (closingAnswer && num(r.mainbranch) != 0 && r.mainbranch != me)
                continue;
            if (r.kin3 > 1)
                continue;
            if ((r.kin1 == 1 || r.kin1 == 3) && r.kin2 == 0
                && known.holdsVersion(r.treco, r.NoRec, r.SynLast) != std::optional<bool>(true)) {
                bool wrote = false;
                const std::optional<bool> take = takeLateAnswer(ctx, r, wrote);
                if (wrote)
                    known.switchOff();
                if (!take)
                    return false;
                if (!*take)
                    continue;
            }
            // An answer posted again after this branch finished its exchange: nobody else would
            // ever take it off the server.
            if (closingAnswer && r.mainbranch == me) {
                const std::optional<bool> open = ownExchangeOpen(ctx, r);
                if (!open)
                    return false;
                if (!*open) {
                    if (ctx.web.Web_Delete_Syn(r.treco, r.SynLast, r.NoRec, ledger::familyOf(r.kin1)) != u"1")
                        s.Cleanup_Due.push_back({r.treco, r.NoRec, r.SynLast, r.kin1, true});
                    continue;
                }
            }

            // A row held unchanged needs nothing; the others are written through the ledger read
            // where it can say which row is theirs.
            long long at = -1;
            const LedgerKeys::Held held = known.held(r, &at);
            if (held == LedgerKeys::Held::Same)
                continue;
            const bool inRead = held == LedgerKeys::Held::Absent || (held == LedgerKeys::Held::Changed && at >= 0);
            if (inRead)
                scan = known.rows();
            else if (!ctx.db.Open_Rs_Loc_Where_Order(scan, QStringLiteral("atten_rec"),
                                                     "where NoRec  = " + lit(r.NoRec) + " and branch  = "
                                                         + lit(r.branch) + " and treco  = " + lit(r.treco)
                                                         + " and SynLast  = " + lit(r.SynLast) + " and kin1  = "
                                                         + lit(QString::number(r.kin1)),
                                                     QStringLiteral("DTNow")))
                return false;
            // The older rows go with this row's copy once whatever they leave open is settled; when
            // that fails they stay until a later update settles them, and the copy goes on.
            long long olderRows = 0;
            const bool mayHaveOlder = known.mayHoldOlder(r.treco, r.NoRec, r.SynLast);
            auto release = [&] {
                if (mayHaveOlder && !releaseSupersededRows(ctx, r, olderRows)) {
                    s.Cleanup_Due.push_back({r.treco, r.NoRec, r.SynLast, r.kin1, false});
                    olderRows = 0;
                }
            };
            if (held == LedgerKeys::Held::Absent || scan->recordCount() == 0) {
                release();
                scan->addNew();
                scan->setValue(u"NoRec", r.NoRec);
                scan->setValue(u"branch", r.branch);
                scan->setValue(u"treco", r.treco);
                scan->setValue(u"SynLast", r.SynLast);
                scan->setValue(u"kin1", QString::number(r.kin1));
                scan->setValue(u"kin2", r.kin2Text);
                scan->setValue(u"DTNow", r.DTNow);
                scan->setValue(u"mainbranch", r.mainbranch);
                // Its auto-numbered key is read back only when this update saves it again.
                if (inRead && comesAgain) {
                    scan->update();
                    at = scan->position();
                } else {
                    scan->insertOnly();
                }
            } else {
                if (inRead)
                    scan->moveTo(at);
                else
                    scan->moveFirst();
                if (num(scan->text(u"kin2")) == r.kin2 && scan->text(u"DTNow") == r.DTNow)
                    continue;
                release();
                scan->setValue(u"kin2", r.kin2Text);
                scan->setValue(u"DTNow", r.DTNow);
                scan->update();
            }
            known.saved(r, inRead ? at : -1);

            // Nothing older was there a moment ago and only this pass writes the ledger: the
            // deletes would find nothing, and each costs a connection.
            if (olderRows > 0) {
                // Rows a failed delete left are no longer known for sure.
                if (deleteOlderRows(ctx, r))
                    known.droppedOlder(r.treco, r.NoRec, r.SynLast);
                else
                    known.switchOff();
            }

            if (r.kin1 == 0 || r.kin1 == 1)
                ++ctx.branch.Chk_Rec;
            else if (r.kin1 == 2 || r.kin1 == 3)
                ++ctx.branch.Chk_Del;

            const bool other = r.branch != me;
            if (r.kin1 == 0 && r.kin2 == 0 && other) {
                const int j = tabs.slotOf(r.treco);
                if (j >= 0) {
                    ++tabs.Tab_Rece[size_t(j)];
                    Mark_Sub_Tabs(ctx, tabs.Syn_Tabs[size_t(j)]);
                }
            } else if (r.kin1 == 2 && r.kin2 == 0 && other) {
                const int j = tabs.slotOf(r.treco);
                if (j >= 0)
                    ++tabs.Tab_ReceDel[size_t(j)];
            }
        }

        for (int j = 0; j <= tabs.Tab_Count && j < records::TableList::Slots; ++j) {
            const QString& name = tabs.Syn_Tabs[size_t(j)];
            if (name == u"branch_tab" || name == u"branchsyn_tab" || name == u"notic_tab")
                ++tabs.Tab_Rece[size_t(j)];
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarvelo::sync
