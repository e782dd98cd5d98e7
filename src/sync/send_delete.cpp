#include "sync/engine.h"
#include "sync/exchange_end.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace tarvelo::sync {

using ledger::lit;
namespace kin1 = ledger::kin1;
namespace kin2 = ledger::kin2;

namespace {

// The version under which the deletion of a record never sent from here is announced: what of it
// left the branch, the server's copy, this branch's own announcements, or ("--") the detail rows
// of a master or the record's pictures. Empty when nothing did; nullopt when the server could not
// be asked.
std::optional<QString> versionOutside(SyncContext& ctx, const QString& treco, const QString& noRec)
{
    QString version;
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Ser(rs, treco, "where No_Rec = " + lit(noRec)))
        return std::nullopt;
    if (rs->recordCount() > 0) {
        rs->moveFirst();
        version = rs->text(u"DatTim2");
    }
    if (!ctx.db.Open_Rs_Ser(rs, QStringLiteral("atten_rec"),
                            "where NoRec = " + lit(noRec) + " and treco = " + lit(treco) + " and branch = "
                                + lit(ctx.run.config.My_Branch) + " and kin1 = " + lit(ledger::text(kin1::Record))))
        return std::nullopt;
    const long long n = rs->recordCount();
    if (n > 0)
        rs->moveFirst();
    for (long long i = 0; i < n; ++i, rs->moveNext())
        version = std::max(version, rs->text(u"SynLast"));
    // A member row or a picture that left before its record did goes with it: the deletion is
    // announced so that the cascade takes it everywhere. Kept and repaired members don't go.
    std::vector<std::pair<QString, QString>> members;
    for (const records::Member& m : records::membersOf(treco))
        if (m.onDelete != records::OnDelete::Kept && m.onDelete != records::OnDelete::Repaired)
            members.emplace_back(QString::fromUtf16(m.table), "where " + QString::fromUtf16(m.link) + " = " + lit(noRec));
    members.emplace_back(QString::fromUtf16(records::kPictures.table), picturesClause(treco, noRec));
    for (const auto& [table, clause] : members) {
        if (!version.isEmpty())
            break;
        if (!ctx.db.Open_Rs_Ser(rs, table, clause))
            return std::nullopt;
        if (rs->recordCount() > 0)
            version = QStringLiteral("--");
    }
    return version;
}

// A deletion announced again under the key of an earlier one (refused, the record given its life
// back with its version unchanged) starts on a clean key: what this ledger still holds of the
// earlier exchange (removals owed) is taken off the server first and out of the ledger, so that no
// removal of it meets the new exchange. False when that failed.
bool clearEarlierExchange(SyncContext& ctx, const QString& treco, const QString& noRec, const QString& version)
{
    const QString rows = ledger::exchangeClause(treco, noRec, version, kin1::Deletion);
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"), rows))
        return false;
    if (rs->recordCount() == 0)
        return true;
    return ledger::removeExchange(ctx, treco, noRec, version, kin1::Deletion)
           && ctx.db.Delete_Loc(rs, QStringLiteral("atten_rec"), rows);
}

}  // namespace

qint32 Send_Delete(SyncContext& ctx, const QString& treco)
{
    SyncWindow& w = ctx.window;
    const QString prefix = "sd_" + treco.left(3) + "ox" + treco + "_rec_2";
    w.Text4567.setText(QStringLiteral("Send_Delete"));
    w.Label7.setText(prefix + "_0_0");

    data::RecordsetVar& rs = ctx.vars.Rs_Target;
    if (!ctx.db.Open_Rs_Loc(rs, treco, "where SynDele = " + lit(ledger::synDele::ToAnnounce))) {
        w.XXXK.setForeColor(StatusLabelModel::Red);
        w.Label2.setText(7, kLocalDbError);
        return 1;
    }
    qint32 failed = 0;
    long long n = 0;
    try {
        n = rs->recordCount();
        if (n == 0)
            return 0;
        rs->moveFirst();
    } catch (const std::exception&) {
        w.ImgSav.setVisible(false);
        w.ImgLoa.setVisible(false);
        return failed + 1;
    }
    // Keep our own reference: a handler run during a request may point Rs_Target elsewhere.
    const data::RecordsetVar rows = rs;
    for (long long i = 1; i <= n; ++i) {
        if (!ctx.run.Syn_Run) {
            w.Label2.setText(7, kSynOff);
            return failed;
        }
        w.ImgLoa.setVisible(true);
        w.ImgSav.setVisible(true);
        w.Label7.setText(prefix + u'_' + QString::number(n) + u'_' + QString::number(i));
        try {
            // A row without a number cannot be announced; it must not hold up the rest.
            if (rows->isNull(u"no_rec"))
                throw data::DbError(QStringLiteral("a row to announce without no_rec"));
            const QString noRec = rows->text(u"no_rec");
            QString version = rows->isNull(u"DatTim2") ? QString() : rows->text(u"DatTim2");
            if (version.isEmpty() || version == u"--") {
                // Never sent from here: only what of it left the branch needs the others' consent.
                const std::optional<QString> outside = versionOutside(ctx, treco, noRec);
                if (!outside)
                    throw data::DbError(QStringLiteral("the server can't tell what of the record left the branch"));
                version = *outside;
            }
            if (version.isEmpty()) {
                // Nothing of it left the branch: deleted here at once, with its dependents.
                if (!Delete_Reco_Loc(ctx, treco, noRec))
                    ++failed;
            } else if (!clearEarlierExchange(ctx, treco, noRec, version)) {
                ++failed;
            } else if (ctx.web.Web_Save_Syn(treco, version, noRec, kin1::Deletion, kin2::Announced, ledger::kFirstStage)
                       == u"OK") {
                Note_Announced(ctx, treco, noRec, version, kin1::Deletion);
                rows->setValue(u"SynDele", ledger::synDele::Pending);
                rows->update();
            } else {
                ++failed;
            }
        } catch (const std::exception&) {
            ++failed;
            try {
                rows->cancelUpdate();
            } catch (const std::exception&) {
            }
        }
        if (i < n)
            rows->moveNext();
    }
    w.ImgSav.setVisible(false);
    w.ImgLoa.setVisible(false);
    return failed;
}

}  // namespace tarvelo::sync
