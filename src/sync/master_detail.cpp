#include "sync/engine.h"
#include "sync/ledger_rows.h"
#include "sync/links.h"

#include "data/sql_text.h"
#include "records/families.h"
#include "records/record_copy.h"

#include <QSet>

namespace tarvelo::sync {

using ledger::lit;

bool Check_Save_Other(SyncContext& ctx, const QString& treco, qint16 kin)
{
    if (ctx.run.Syn_First == 1)
        return true;
    try {
        const data::Recordset& src = *ctx.vars.Rs_Source;
        for (const records::Member& m : records::membersOf(treco)) {
            if (!m.count)
                continue;
            const double expected = records::leadingNumber(src.text(QStringView(m.count)));
            const QString noRec = src.text(u"no_rec");
            const QString clause = "where DRS1 = " + data::sqlLiteral(src.text(u"DRS1")) + " and NRS1 = "
                                   + data::sqlLiteral(noRec)
                                   + (kin == 1 ? " and SynAdd <> " + data::sqlLiteral(ledger::synAdd::ToSend) : QString());
            const std::optional<qint64> found = ctx.db.Count_Rows_Loc(QString::fromUtf16(m.table), clause);
            // A count that failed says nothing about the details: the master waits.
            if (!found)
                return false;
            if (double(*found) != expected) {
                ctx.tables.raiseRece(QStringView(m.table));
                return false;
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool Mark_Mine(SyncContext& ctx, const QString& table, const QString& set, const QString& clause)
{
    data::RecordsetVar exec;
    const QString mine = ",No_Branch = " + lit(ctx.run.config.My_Branch) + ",DatTim1 = "
                         + lit(ctx.now().toString(QStringLiteral("yyyyMMddhhmmss")));
    if (!ctx.db.Update_Loc(exec, set + mine, table, clause))
        return false;
    ctx.tables.raiseSend(table);
    return true;
}

namespace {

// Whether a row waits in this database to leave as this branch's.
bool leavesFromHere(const data::Recordset& row, const QString& me)
{
    const QString synAdd = row.text(u"SynAdd");
    return (synAdd == ledger::synAdd::ToSend || synAdd == ledger::synAdd::ToSendToo) && row.text(u"No_Branch") == me;
}

// Whether the rows of `table` that `clause` selects, live here, all stand on the server. Those the
// server lacks that are not on their way already are marked (`mark`) to leave as this branch's
// (`marked` set). nullopt when a statement failed.
std::optional<bool> allOnServer(SyncContext& ctx, const QString& table, const QString& clause, const QString& mark,
                                bool& marked)
{
    data::RecordsetVar here;
    if (!ctx.db.Select_Loc(here, QStringLiteral("no_rec,SynAdd,No_Branch"), table,
                           clause + " and SynDele = " + lit(ledger::synDele::Live)))
        return std::nullopt;
    const long long n = here->recordCount();
    if (n == 0)
        return true;
    data::RecordsetVar there;
    if (!ctx.db.Select_Ser(there, QStringLiteral("no_rec"), table, clause))
        return std::nullopt;
    QSet<QString> onServer;
    if (there->recordCount() > 0)
        for (there->moveFirst(); !there->eof(); there->moveNext())
            onServer.insert(there->text(u"no_rec"));
    bool all = true;
    QStringList toMark;
    here->moveFirst();
    for (long long i = 0; i < n; ++i, here->moveNext()) {
        const QString noRec = here->text(u"no_rec");
        if (onServer.contains(noRec))
            continue;
        all = false;
        if (!leavesFromHere(*here, ctx.run.config.My_Branch))
            toMark << lit(noRec);
    }
    if (!toMark.isEmpty()) {
        if (!Mark_Mine(ctx, table, "SynAdd = " + lit(mark), clause + " and no_rec in (" + toMark.join(u',') + u')'))
            return std::nullopt;
        marked = true;
    }
    return all;
}

// A row that has a server stamp was on the server once.
bool leftBefore(const data::Recordset& row)
{
    const QString stamp = row.text(u"DatTim2").trimmed();
    return !stamp.isEmpty() && stamp != u"--";
}

}  // namespace

bool Family_On_Server(SyncContext& ctx, const QString& treco, const data::Recordset& src, bool standsOnServer)
{
    if (ctx.run.Syn_First == 1)
        return true;
    bool complete = true;
    bool marked = false;
    try {
        // A record that was on the server and is gone from it (deleted there while this copy
        // stayed) goes back with all that belongs to it, every revision of rows whose older ones stay.
        const bool returns = !standsOnServer && leftBefore(src);
        const std::span<const records::Member> members = records::membersOf(treco);
        if (!returns && members.empty())
            return true;
        const QString key = lit(src.text(u"no_rec"));
        // Only a master has revisions.
        const QString revision = members.empty() ? QString() : " and DRS1 = " + lit(src.text(u"DRS1"));
        for (const records::Member& m : members) {
            const QString table = QString::fromUtf16(m.table);
            QString clause = "where " + QString::fromUtf16(m.link) + " = " + key;
            if (m.detail && (m.oldRevisionsGo || !returns))
                clause += revision;
            if (!returns) {
                // Otherwise the server must hold at least as many rows of the revision as the
                // master's count says, whoever sent them.
                if (!m.count)
                    continue;
                const double expected = records::leadingNumber(src.text(QStringView(m.count)));
                if (expected <= 0)
                    continue;
                data::RecordsetVar held;
                if (!ctx.db.Select_Ser(held, QStringLiteral("no_rec"), table, clause))
                    return false;
                if (double(held->recordCount()) >= expected)
                    continue;
            }
            const QString& mark = m.detail ? ledger::synAdd::ToSend : ledger::synAdd::ToSendToo;
            const std::optional<bool> all = allOnServer(ctx, table, clause, mark, marked);
            if (!all)
                return false;
            complete = complete && *all;
        }
        if (returns) {
            const std::optional<bool> all = allOnServer(ctx, QString::fromUtf16(records::kPictures.table),
                                                        picturesClause(treco, src.text(u"no_rec")),
                                                        ledger::synAdd::ToSendToo, marked);
            if (!all)
                return false;
            complete = complete && *all;
        }
    } catch (const std::exception&) {
        return false;
    }
    if (marked)
        ++ctx.state.Families_Taken;
    return complete;
}

}  // namespace tarvelo::sync
