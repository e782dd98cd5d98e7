#include "sync/exchange_end.h"

#include <QSet>

namespace tarvelo::sync::ledger {

namespace {
const QString kAtten = QStringLiteral("atten_rec");
}

bool removeExchange(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& SynLast,
                    qint32 family)
{
    return ctx.web.Web_Delete_Syn(treco, SynLast, NoRec, qint16(family)) == u"1";
}

bool oweRemoval(SyncContext& ctx, const LedgerRow& r)
{
    if (removeExchange(ctx, r.treco, r.NoRec, r.SynLast, r.family()))
        return true;
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, kAtten,
                            recordClause(r.treco, r.NoRec) + " and branch = " + lit(r.branch) + " and SynLast = "
                                + lit(r.SynLast) + " and kin1 = " + lit(text(r.kin1))))
        return false;
    try {
        if (rs->recordCount() > 0) {
            rs->moveFirst();
            rs->setValue(u"kin3", text(kin3::RemovalOwed));
            rs->update();
        } else {
            rs->addNew();
            fillRow(*rs, r, kin3::RemovalOwed);
            rs->insertOnly();
        }
    } catch (const std::exception&) {
        return false;
    }
    // The resolution takes it up.
    (r.family() == kin1::Deletion ? ctx.branch.Chk_Del : ctx.branch.Chk_Rec) += 1;
    return true;
}

std::optional<std::vector<LedgerRow>> announcerRowsOnServer(SyncContext& ctx, const QString& treco,
                                                            const QString& NoRec, const QString& SynLast,
                                                            qint32 family)
{
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Ser(rs, kAtten,
                            recordClause(treco, NoRec) + " and SynLast = " + lit(SynLast) + " and kin1 = "
                                + lit(text(family))))
        return std::nullopt;
    try {
        std::vector<LedgerRow> out;
        const long long n = rs->recordCount();
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext())
            out.push_back(readRow(*rs));
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<bool> ownAnnouncementStands(SyncContext& ctx, const LedgerRow& r)
{
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, r.treco, "where No_Rec = " + lit(r.NoRec)))
        return std::nullopt;
    try {
        if (rs->recordCount() == 0)
            return false;  // deleted since (or never kept): nothing of it is left to exchange
        rs->moveFirst();
        const QString held = rs->isNull(u"DatTim2") ? QString() : rs->text(u"DatTim2");
        // The send pass gives the record the announced stamp, and only the closing marks it closed.
        if (r.family() == kin1::Record)
            return held == r.SynLast && rs->text(u"SynAdd") != synAdd::Closed;
        // Marked deleted for this announcement; a newer version received since supersedes it.
        return rs->text(u"SynDele") == synDele::Pending && held <= r.SynLast;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<bool> announcedBeforeItsDeletion(SyncContext& ctx, const LedgerRow& r)
{
    // Its announcer's copy has been marked deleted since, and a marked copy is never sent: only a
    // refused closing gives it back.
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, kAtten,
                            recordClause(r.treco, r.NoRec) + " and branch = " + lit(r.branch) + " and kin1 = "
                                + lit(text(kin1::Deletion)) + " and (kin2 = " + lit(text(kin2::Announced))
                                + " or kin2 = " + lit(text(kin2::Closed)) + ") and SynLast < " + lit(r.SynLast)))
        return std::nullopt;
    return rs->recordCount() > 0;
}

bool releaseOlderVersions(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& newer,
                          bool newerIsRecord, long long& older)
{
    older = 0;
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, kAtten, recordClause(treco, NoRec) + " and SynLast < " + lit(newer) + notOwed()))
        return false;
    const QString& me = ctx.run.config.My_Branch;
    bool openDeletion = false;
    QSet<QString> released;
    try {
        const long long n = rs->recordCount();
        older = n;
        if (n > 0)
            rs->moveFirst();
        for (long long i = 0; i < n; ++i, rs->moveNext()) {
            const LedgerRow r = readRow(*rs);
            const bool own = r.branch == me;
            if (own && isAnnouncerRow(r.kin1) && r.kin3 < kin3::Finished) {
                const QString key = r.SynLast + u'|' + text(r.family());
                if (!released.contains(key)) {
                    released.insert(key);
                    // Left on the server, the row would come back into this ledger for good.
                    if (!removeExchange(ctx, treco, NoRec, r.SynLast, r.family()))
                        return false;
                }
            }
            if (r.kin1 == kin1::Deletion
                && ((own && r.kin3 == kin3::Open) || (!own && r.kin3 != kin3::ClosingAnswered)))
                openDeletion = true;
        }
    } catch (const std::exception&) {
        return false;
    }
    if (!openDeletion || !newerIsRecord)
        return true;
    data::RecordsetVar exec;
    return ctx.db.Update_Loc(exec, restoredSet(), treco,
                             "where No_Rec = " + lit(NoRec) + " and SynDele = " + lit(synDele::Pending));
}

bool dropOlderRows(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& newer)
{
    data::RecordsetVar del;
    const QString older = " and SynLast < " + lit(newer) + notOwed();
    const bool records = ctx.db.Delete_Loc(del, kAtten, recordClause(treco, NoRec) + " and "
                                                            + familyClause(kin1::Record) + older);
    const bool deletions = ctx.db.Delete_Loc(del, kAtten, recordClause(treco, NoRec) + " and "
                                                              + familyClause(kin1::Deletion) + older);
    return records && deletions;
}

}  // namespace tarvelo::sync::ledger
