#pragma once
#include "sync/sync_state.h"

#include <QString>
#include <functional>
#include <optional>

namespace tarvelo::sync {

// Texts the engine shows.
inline const QString kSynOff = QStringLiteral("تشغيل المزامنة");
inline const QString kLocalDbError = QStringLiteral("خطاء باتصال القاعدة المحلية");
// Another copy of the program synchronises this branch database.
inline const QString kBranchBusy = QStringLiteral("نسخة اخرى من البرنامج تزامن هذه القاعدة");

// ---- cycle ----------------------------------------------------------------------------------
// One whole synchronisation cycle. Runs with the cycle timer off, so cycles never overlap.
void Syn_Cycle(SyncContext& ctx);
// In a hand-over run: ends the program when the calling application set "ClosSyn" to "0".
void Check_ClosSyn(SyncContext& ctx);
// Ends the first synchronisation in the local project row; false when it could not.
bool Clear_SynFirst(SyncContext& ctx);

// ---- branch settings and change queue --------------------------------------------------------
// Reads the local branch list: this branch's settings (Bra_Only, Bra_Set1..3) and the other
// active branches, whose answers settle an announcement. Nothing changes unless it is Read.
enum class BranchListRead { Read, Empty, Failed };
BranchListRead Read_Branch_List(SyncContext& ctx);
// Reads the branch list when it is due (not loaded yet, or a new branch_tab row came).
void Read_Branch_Set(SyncContext& ctx);
// Turns new work_tab rows into pending send and send-delete work; false when the queue can't be read.
bool Read_Work_Tab(SyncContext& ctx);
// Raises the send counters of the detail tables of `table`.
void Mark_Sub_Tabs(SyncContext& ctx, const QString& table);

// ---- master and detail -----------------------------------------------------------------------
// Whether the master in the current row of Rs_Source may be written now: every detail row of its
// revision is in the local database. kin 1 sending, 0 receiving. A mismatch schedules the detail
// table for receiving.
bool Check_Save_Other(SyncContext& ctx, const QString& treco, qint16 kin);
// Whether the record in the current row of `src` may be written to the server now, its family
// standing there. The one place every path that sends a master passes: when the server lacks the
// record it had before (`standsOnServer` false: deleted there), or holds fewer rows of the master's
// revision than its counts say, the members the server lacks are marked to leave as this branch's
// and the record waits for them. False too when a statement failed.
bool Family_On_Server(SyncContext& ctx, const QString& treco, const data::Recordset& src, bool standsOnServer);
// Sets `set` on the local rows of `table` that `clause` selects and makes them this branch's edit of
// now, its send pass due; false when the statement failed.
bool Mark_Mine(SyncContext& ctx, const QString& table, const QString& set, const QString& clause);

// ---- progress --------------------------------------------------------------------------------
void Reset_Progress(SyncContext& ctx);
void Show_Progress(SyncContext& ctx, qint16 index);

// ---- record stamps ---------------------------------------------------------------------------
// DatTim1's first 14 digits as a date and time plus Time_Diff seconds, "yyyyMMddhhmmss";
// nothing when they do not form a date and time.
std::optional<QString> editStampServerTime(const QString& DatTim1, const QString& Time_Diff);
// Server time "yyyyMMddhhmmss" followed by four digits of the millisecond, always above `last`
// (the previous stamp this branch made, updated here), so versions sort in the order they were made.
QString newServerStamp(const QDateTime& localNow, const QString& Time_Diff, QString& last);
// Time_Diff as a number; an empty or unreadable text counts 0.
qint64 timeDiffSeconds(const QString& Time_Diff);

// ---- per-table passes: each returns the work it left undone, 0 when the table is finished ----
qint32 Send_Reco(SyncContext& ctx, const QString& treco);
qint32 Send_Delete(SyncContext& ctx, const QString& treco);
qint32 Rece_Reco(SyncContext& ctx, const QString& treco);
qint32 Rece_Delete(SyncContext& ctx, const QString& treco);

// ---- acknowledgement ledger, answer count and resolution -------------------------------------
// Copies the server's new ledger rows into the local ledger and raises the work they call for;
// rows that landed after their exchange ended are not copied (exchange_end.h).
bool UpDate_Atten(SyncContext& ctx);
// Takes note of an announcement of this branch that the web service stored, so that its copy
// into the local ledger is known for this branch's own without a look at the record.
void Note_Announced(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& SynLast,
                    qint32 kin1);
// Whether a pass can act on a ledger row: it names a synchronised table and a version. One that
// cannot is logged once.
bool Ledger_Row_Usable(SyncContext& ctx, const QString& NoRec, const QString& treco, const QString& branch,
                       const QString& SynLast, qint32 kin1);
// Closes this branch's announcements and answers other branches' closings; rows left open.
qint32 Check_Send(SyncContext& ctx);
// What the answers to an announcement or closing say. Counted in `answers` where it can tell,
// else with a select of the ledger.
enum class Answers {
    AllIn,         // every branch answered (a deletion: all accepted)
    Refused,       // every branch answered a deletion, and some refused it
    NoOtherBranch, // nobody to wait for
    Undecided,     // answers still owed, or the count could not be made
};
class AnswerIndex;
Answers Check_Answers(SyncContext& ctx, const QString& treco, const QString& SynLast, const QString& NoRec,
                      const QString& branch, qint16 kin1, qint16 kin2, const AnswerIndex* answers = nullptr);

// ---- cycle statistics ------------------------------------------------------------------------
// Runs one step of the bookkeeping: a step that fails is reported by it, and the next runs.
using StatisticStep = std::function<void(const std::function<void()>&)>;
// The database part of the cycle bookkeeping, as the program's tick runs it after each
// cycle (Mode 1) and at the start of synchronisation (Mode 0): this branch's statistics row in
// branchsyn_tab (after a cycle marked to be sent), every tenth call (`Cnt_Cycle`) a full rescan
// with every table and the resolution due, the notices, and the resolution's step count back to 0.
// FromD and ToD: the row's times. Nothing more after a failed select of the row.
void Save_Syn_Statistic(SyncContext& ctx, qint16 Mode, const QString& FromD, const QString& ToD, qint32& Cnt_Cycle,
                        const StatisticStep& step);

// ---- deletions -------------------------------------------------------------------------------
// Whether a local row refers to the record; nullopt when a statement failed and nobody can tell.
std::optional<bool> Check_Dele_Named(SyncContext& ctx, const QString& treco, const QString& no_rec);
// True when no local row refers to the record (false also when that is not known).
bool Check_Dele_Other(SyncContext& ctx, const QString& treco, const QString& no_rec);
// The record with its dependent rows and pictures, in the local or the server database.
bool Delete_Reco_Loc(SyncContext& ctx, const QString& treco, const QString& no_rec);
bool Delete_Reco_Ser(SyncContext& ctx, const QString& treco, const QString& no_rec);
// Serial-number states set by a deleted invoice, back to the remaining history; 1 when done.
qint16 Seri_Restore_Loc(SyncContext& ctx, const QString& no_rec);
qint16 Seri_Restore_Ser(SyncContext& ctx, const QString& no_rec);
// The local state rows `states` (a where clause) selects, set to their newest history and marked to be sent.
qint16 Seri_Restore_States_Loc(SyncContext& ctx, const QString& states);
// The local record marked to go out again as this branch's new version (the send pass takes its
// family along), its serial states set back to this branch's history first; false when a
// statement failed.
bool Send_Again(SyncContext& ctx, const QString& treco, const QString& no_rec);

}  // namespace tarvelo::sync
