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
void deleteOlderRows(SyncContext& ctx, const LedgerRow& r)
{
    data::RecordsetVar del;
    const QString older = " and SynLast < " + lit(r.SynLast);
    const QString base = "where NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco);
    ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"),
                      base + " and kin1 = '0'" + older + " or NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco)
                          + " and kin1 = '1'" + older);
    ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"),
                      base + " and kin1 = '2'" + older + " or NoRec = " + lit(r.NoRec) + " and treco = " + lit(r.treco)
                          + " and kin1 = '3'" + older);
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

// The record keys (treco, NoRec) of the local ledger with the oldest version of each, read once
// per update, so that a record with no older version here needs no search for one. Only keys of
// ASCII letters, digits, '_' and '-' and versions of digits are compared here, case and trailing
// blanks folded, so that this never tells apart what a where clause takes as equal; any other
// value in the ledger switches the shortcut off.
class LedgerKeys {
public:
    bool load(SyncContext& ctx)
    {
        data::RecordsetVar rs;
        if (!ctx.db.Select_Loc(rs, QStringLiteral("NoRec, treco, SynLast"), QStringLiteral("atten_rec"), QString()))
            return false;
        usable_ = true;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n && usable_; ++i, rs->moveNext())
            add(rs->text(u"treco"), rs->text(u"NoRec"), rs->text(u"SynLast"));
        return usable_;
    }

    // False only when the ledger surely holds no row of the record older than `version`.
    bool mayHoldOlder(const QString& treco, const QString& noRec, const QString& version) const
    {
        if (!usable_)
            return true;
        const std::optional<QString> key = keyOf(treco, noRec);
        const std::optional<QString> v = plain(version, true);
        if (!key || !v)
            return true;
        const auto it = oldest_.constFind(*key);
        return it != oldest_.cend() && *it < *v;
    }

    void add(const QString& treco, const QString& noRec, const QString& version)
    {
        if (!usable_)
            return;
        const std::optional<QString> key = keyOf(treco, noRec);
        const std::optional<QString> v = plain(version, true);
        if (!key || !v) {
            usable_ = false;
            oldest_.clear();
            return;
        }
        auto it = oldest_.find(*key);
        if (it == oldest_.end())
            oldest_.insert(*key, *v);
        else if (*v < *it)
            *it = *v;
    }

private:
    // Trailing blanks dropped, case folded; nullopt for anything else than the plain characters.
    static std::optional<QString> plain(const QString& text, bool digitsOnly)
    {
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == u' ')
            --end;
        for (qsizetype i = 0; i < end; ++i) {
            const char16_t c = text.at(i).unicode();
            const bool digit = c >= u'0' && c <= u'9';
            const bool other = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'-';
            if (!digit && (digitsOnly || !other))
                return std::nullopt;
        }
        return text.left(end).toLower();
    }

    static std::optional<QString> keyOf(const QString& treco, const QString& noRec)
    {
        const std::optional<QString> t = plain(treco, false), n = plain(noRec, false);
        if (!t || !n)
            return std::nullopt;
        return *t + u'\n' + *n;
    }

    QHash<QString, QString> oldest_;
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
        // Worth a read of the whole ledger's keys only when many rows come.
        LedgerKeys known;
        if (n >= 8)
            known.load(ctx);
        if (n > 0)
            server->moveFirst();
        for (long long i = 1; i <= n; ++i, server->moveNext()) {
            ctx.window.Label7.setText(QStringLiteral("UpDate_Atten_%1_to_%2").arg(i).arg(n));
            if (!ctx.run.Syn_Run) {
                ctx.window.Label2.setText(7, kSynOff);
                return true;
            }
            const LedgerRow r = readRow(*server);
            if (!Ledger_Row_Usable(ctx, r.NoRec, r.treco, r.branch, r.SynLast, r.kin1))
                continue;
            const QString version = "where NoRec  = " + lit(r.NoRec) + " and treco  = " + lit(r.treco);

            // A closing is only taken for a version this branch has seen announced.
            const bool closing = (r.kin1 == 0 && r.kin2 == 1) || (r.kin1 == 2 && (r.kin2 == 1 || r.kin2 == 2));
            if (closing) {
                data::RecordsetVar chk;
                if (!ctx.db.Open_Rs_Loc_Where_Order(chk, QStringLiteral("atten_rec"),
                                                    version + " and SynLast  = " + lit(r.SynLast),
                                                    QStringLiteral("DTNow")))
                    return false;
                if (chk->recordCount() == 0)
                    continue;
            }
            // Answers to a closing go to the branch that announced (a refusal names no branch).
            const bool closingAnswer = (r.kin1 == 1 && r.kin2 == 1) || (r.kin1 == 3 && (r.kin2 == 1 || r.kin2 == 2));
            if (closingAnswer && num(r.mainbranch) != 0 && r.mainbranch != me)
                continue;
            if (r.kin3 > 1)
                continue;
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

            if (!ctx.db.Open_Rs_Loc_Where_Order(scan, QStringLiteral("atten_rec"),
                                                "where NoRec  = " + lit(r.NoRec) + " and branch  = " + lit(r.branch)
                                                    + " and treco  = " + lit(r.treco) + " and SynLast  = "
                                                    + lit(r.SynLast) + " and kin1  = " + lit(QString::number(r.kin1)),
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
            if (scan->recordCount() == 0) {
                release();
                known.add(r.treco, r.NoRec, r.SynLast);
                scan->addNew();
                scan->setValue(u"NoRec", r.NoRec);
                scan->setValue(u"branch", r.branch);
                scan->setValue(u"treco", r.treco);
                scan->setValue(u"SynLast", r.SynLast);
                scan->setValue(u"kin1", QString::number(r.kin1));
                scan->setValue(u"kin2", r.kin2Text);
                scan->setValue(u"DTNow", r.DTNow);
                scan->setValue(u"mainbranch", r.mainbranch);
                scan->update();
            } else {
                scan->moveFirst();
                if (num(scan->text(u"kin2")) == r.kin2 && scan->text(u"DTNow") == r.DTNow)
                    continue;
                release();
                scan->setValue(u"kin2", r.kin2Text);
                scan->setValue(u"DTNow", r.DTNow);
                scan->update();
            }

            // Nothing older was there a moment ago and only this pass writes the ledger: the
            // deletes would find nothing, and each costs a connection.
            if (olderRows > 0)
                deleteOlderRows(ctx, r);

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
