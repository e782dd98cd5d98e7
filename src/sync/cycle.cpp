#include "sync/engine.h"

#include "data/sql_text.h"
#include "records/record_copy.h"
#include "sync/ledger_rows.h"

#include <cmath>

namespace tarvelo::sync {

namespace {

using data::sqlLiteral;

// After every table an operation ran for: true when the cycle must end here.
bool stopChecks(SyncContext& ctx)
{
    if (ctx.run.Syn_Stop || ctx.state.Branch_Lock.interrupted())
        return true;
    if (!ctx.run.Syn_Run) {
        ctx.window.Label2.setText(7, kSynOff);
        return true;
    }
    return false;
}

using TablePass = qint32 (*)(SyncContext&, const QString&);
using Counters = std::array<qint32, records::TableList::Slots>;

enum class PassEnd { Completed, Stopped, BranchesChanged };

// One pass over the table list. `branchFirst`: branch_tab runs whatever its counter and every
// other table only while Bra_Only is 0.
PassEnd tablePass(SyncContext& ctx, TablePass op, Counters& counters, bool branchRule)
{
    records::TableList& t = ctx.tables;
    const int last = t.Tab_Count;  // read once when the pass starts
    for (int i = 0; i <= last && i < records::TableList::Slots; ++i) {
        const QString name = t.Syn_Tabs[size_t(i)];
        if (branchRule && name == u"branch_tab") {
            t.Tab_Index = qint16(i);
            counters[size_t(i)] = op(ctx, name);
            if (stopChecks(ctx))
                return PassEnd::Stopped;
            Show_Progress(ctx, t.Tab_Index);
            if (ctx.state.Bra_Changed) {
                Read_Branch_Set(ctx);
                return PassEnd::BranchesChanged;
            }
            continue;
        }
        if (branchRule && ctx.branch.Bra_Only != 0)
            continue;
        if (name.isEmpty() || counters[size_t(i)] == 0)
            continue;
        t.Tab_Index = qint16(i);
        counters[size_t(i)] = op(ctx, name);
        if (stopChecks(ctx))
            return PassEnd::Stopped;
        Show_Progress(ctx, t.Tab_Index);
    }
    return PassEnd::Completed;
}

void endSteps(SyncContext& ctx)
{
    ctx.state.Syn_AllPass = 0;
    ctx.window.ImgLoa.setVisible(false);
    if (ctx.state.Name_Tab.isEmpty() && ctx.run.Syn_First == 0) {
        ctx.window.Label2.setText(3, QString());
        if (ctx.devices) {
            if (ctx.logs.MSFG4.rows() > 1) {
                ctx.devices->Run_Pull_Plan();
                ctx.devices->Next_Pull_Plan();
                if (ctx.run.Syn_Stop)
                    return;
            } else {
                ctx.devices->Load_Pull_Plan();
            }
        }
    }
    ctx.window.Text4567.setText(QStringLiteral("MakData5"));
}

// Removes from the local ledger every exchange this branch has finished with; removals of late
// rows still owed to the server stay (exchange_end.h).
// False when the cycle must end without its end steps.
bool purgeLedger(SyncContext& ctx)
{
    using ledger::text;
    namespace kin1 = ledger::kin1;
    ctx.window.Text4567.setText(QStringLiteral("MakData1"));
    data::RecordsetVar rs;
    if (!ctx.db.Open_Rs_Loc(rs, QStringLiteral("atten_rec"),
                            "where kin3 > " + sqlLiteral(text(ledger::kin3::Done)) + ledger::notOwed())) {
        ctx.window.Text4567.setText(QStringLiteral("MakData4"));
        return true;
    }
    ctx.window.Text4567.setText(QStringLiteral("MakData2"));
    if (rs->recordCount() == 0) {
        ctx.window.Text4567.setText(QStringLiteral("MakData4"));
        return true;
    }
    ctx.window.Text4567.setText(QStringLiteral("MakData3"));
    rs->moveFirst();
    const long long n = rs->recordCount();
    for (long long i = 1; i <= n; ++i, rs->moveNext()) {
        if (stopChecks(ctx))
            return false;
        const QString no = rs->text(u"NoRec");
        const QString treco = rs->text(u"treco");
        const double kin1Value = records::leadingNumber(rs->text(u"kin1"));
        // Only the finished version and older ones: a newer version's exchange is still open, and
        // its rows, once gone, would never be copied again.
        const QString upTo = " and SynLast <= " + sqlLiteral(rs->text(u"SynLast")) + ledger::notOwed();
        auto familyDelete = [&](qint32 family) {
            data::RecordsetVar del;
            ctx.db.Delete_Loc(del, QStringLiteral("atten_rec"),
                              ledger::recordClause(treco, no) + " and " + ledger::familyClause(family) + upTo);
        };
        if (kin1Value == kin1::Record || kin1Value == kin1::RecordAnswer)
            familyDelete(kin1::Record);
        if (kin1Value == kin1::Deletion || kin1Value == kin1::DeletionAnswer)
            familyDelete(kin1::Deletion);
    }
    ctx.window.Text4567.setText(QStringLiteral("MakData4"));
    return true;
}

// Whether this copy may run the cycle: it holds the branch database's lock.
bool holdBranchLock(SyncContext& ctx)
{
    BranchLock& lock = ctx.state.Branch_Lock;
    switch (lock.take(ctx.db, ctx.web)) {
    case BranchLock::Take::Held:
        // This copy synchronises now: the second-copy text goes and its end is logged.
        if (ctx.window.Label2.text(7) == kBranchBusy)
            ctx.window.Label2.setText(7, ctx.state.Busy_Replaced);
        ctx.errors.works(QStringLiteral("branch database lock"));
        return true;
    case BranchLock::Take::Failed:
        if (!ctx.db.Conn_Loc)
            return false;  // the failed connection tells its own reason
        ctx.errors.reason(QStringLiteral("branch database lock"), ctx.db.lastError,
                          QStringLiteral("the local database in the Veld settings (SaveInServer_Databes, SaveInPort, "
                                         "SaveInName_Databes)"));
        return false;
    case BranchLock::Take::Stopped:
        return false;
    case BranchLock::Take::Busy:
        break;
    }
    if (ctx.window.Label2.text(7) != kBranchBusy)
        ctx.state.Busy_Replaced = ctx.window.Label2.text(7);
    ctx.window.Label2.setText(7, kBranchBusy);
    ctx.errors.reason(QStringLiteral("branch database lock"),
                      "another copy of the program synchronises the database " + ctx.db.DB_Name_Loc
                          + " (it holds the lock " + lock.name() + " on local database connection " + lock.holder() + ")",
                      QStringLiteral("the other copy, on this machine or another: this one tries again at its next "
                                     "cycle and runs none while that copy does"));
    return false;
}

}  // namespace

void Check_ClosSyn(SyncContext& ctx)
{
    const QString v = ctx.settings.read(QStringLiteral("Tarvelo"), QStringLiteral("Settings"), QStringLiteral("ClosSyn"));
    if (std::nearbyint(records::leadingNumber(v)) != 0)
        return;
    ctx.state.Program_Ended = true;
    if (ctx.exitProgram)
        ctx.exitProgram();
}

bool Clear_SynFirst(SyncContext& ctx)
{
    try {
        if (!ctx.db.Open_Tab_Loc(ctx.vars.Rs_Target, QStringLiteral("Proj_Tab")))
            return false;
        data::Recordset& rs = *ctx.vars.Rs_Target;
        if (rs.recordCount() < 1)
            return false;
        rs.moveFirst();
        rs.setValue(u"SynFirst", QStringLiteral("0"));
        rs.update();
        ctx.run.Syn_First = 0;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void Syn_Cycle(SyncContext& ctx)
{
    records::TableList& t = ctx.tables;
    ctx.web.Int_Branx();
    t.Tab_Index = 0;
    Reset_Progress(ctx);

    if (!ctx.state.Name_Tab.isEmpty()) {
        Check_ClosSyn(ctx);
        if (ctx.state.Program_Ended)  // an exit that returned (tests): nothing more runs
            return;
    }

    if (!holdBranchLock(ctx))
        return;

    if (ctx.run.Syn_First == 1) {
        for (int i = 0; i <= t.Tab_Count && i < records::TableList::Slots; ++i) {
            const QString name = t.Syn_Tabs[size_t(i)];
            if (name.isEmpty() || t.Tab_Rece[size_t(i)] == 0)
                continue;
            t.Tab_Index = qint16(i);
            t.Tab_Rece[size_t(i)] = Rece_Reco(ctx, name);
            if (stopChecks(ctx))
                return;
            Show_Progress(ctx, t.Tab_Index);
        }
        qint64 left = 0;
        for (int i = 0; i <= t.Tab_Count && i < records::TableList::Slots; ++i) {
            const QString& name = t.Syn_Tabs[size_t(i)];
            if (!name.isEmpty() && name != u"notic_tab" && name != u"branchsyn_tab")
                left += t.Tab_Rece[size_t(i)];
        }
        if (left != 0 || !Clear_SynFirst(ctx)) {
            endSteps(ctx);
            return;
        }
    }

    Read_Branch_Set(ctx);
    ctx.pumpEvents();
    if (!Read_Work_Tab(ctx))
        return;

    if (tablePass(ctx, &Send_Reco, t.Tab_Send, true) != PassEnd::Completed)
        return;
    if (tablePass(ctx, &Send_Delete, t.Tab_SendDel, false) != PassEnd::Completed)
        return;
    ctx.state.Work_Mark[0] = ctx.state.Work_Mark[1];
    ctx.state.Work_Mark[1] = QString();

    UpDate_Atten(ctx);

    if (tablePass(ctx, &Rece_Reco, t.Tab_Rece, true) != PassEnd::Completed)
        return;
    if (tablePass(ctx, &Rece_Delete, t.Tab_ReceDel, false) != PassEnd::Completed)
        return;

    records::BranchSettings& b = ctx.branch;
    if (b.Chk_Rec != 0 || b.Chk_Del != 0) {
        const qint32 left = Check_Send(ctx);
        b.Chk_Rec = left;
        if (ctx.run.Syn_Stop)
            return;
        if (!ctx.run.Syn_Run) {
            ctx.window.Label2.setText(7, kSynOff);
            return;
        }
        b.Chk_Del = left;
    }

    if (!purgeLedger(ctx))
        return;
    endSteps(ctx);
}

}  // namespace tarvelo::sync
