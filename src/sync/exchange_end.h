#pragma once
// When an exchange is over, and what becomes of the ledger rows that outlive it.
//
// An exchange is one version of one record in one family (a record version, kin1 Record, or a
// deletion, kin1 Deletion). Its announcer ends it by removing its server rows ("delete_syn.php"),
// or leaves it when a newer version of the record supersedes it. A
// request that a branch gave up on (time-out, lost reply) may still be stored afterwards: a row
// that names a version whose exchange has ended, or an older one, lands late. The rule for every
// such row, whatever its kind:
//   - the branch whose row it is takes it off the server (for an answer to a closing, which only
//     its addressee reads, the announcer does); while that fails, the duty is kept in the local
//     ledger (kin3 RemovalOwed) and the resolution tries again, in this process or the next;
//   - no local ledger keeps it: a branch that copied it drops it once the exchange's announcer
//     row has left the server (resolution), or once a newer version of the record is held;
//   - a row of an exchange still running is never touched; an announcement that lands over its
//     own closing leaves the closing standing: the announcer posts it again.
#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include <optional>
#include <vector>

namespace tarvelo::sync::ledger {

// Removes the server rows of one exchange; true when the web service did ("1").
bool removeExchange(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& SynLast,
                    qint32 family);

// `r` landed after its exchange ended and is this branch's to take off the server: taken off
// now, or kept in the local ledger with kin3 RemovalOwed (the resolution tries again). False when
// the local ledger could not be written.
bool oweRemoval(SyncContext& ctx, const LedgerRow& r);

// The announcer's rows of an exchange as the server holds them now; nullopt when it can't be asked.
std::optional<std::vector<LedgerRow>> announcerRowsOnServer(SyncContext& ctx, const QString& treco,
                                                            const QString& NoRec, const QString& SynLast,
                                                            qint32 family);

// Whether this branch's own announcement `r` (kin2 Announced), not held in its ledger, is still
// the record's here: a record version still held as announced and not closed, or a deletion still
// pending. False: its exchange is over (finished, or superseded by a newer version). nullopt when
// the record can't be read.
std::optional<bool> ownAnnouncementStands(SyncContext& ctx, const LedgerRow& r);

// Whether another branch's announcement `r` of a record version was stored after that branch
// announced the record's deletion, which runs still and was not refused: the branch sent the version
// before it deleted the record, gave the request up, and the web service stored it late. That
// version never was; it supersedes nothing. (A deletion row whose closing a late first-stage
// row turned back looks the same; its closing is posted again.) nullopt when the ledger can't be
// read.
std::optional<bool> announcedBeforeItsDeletion(SyncContext& ctx, const LedgerRow& r);

// A newer version `newer` of the record (of the record family when `newerIsRecord`) ends the
// exchanges of the older ones: this branch takes its own open announcements and closings of them
// off the server, as nobody else will finish them, and a record whose deletion a newer record
// version supersedes gets its life back as a refused deletion does. `older` says how many rows of
// older versions the ledger held. False when a look-up or a removal failed: the older rows then
// stay, and the resolution tries again.
bool releaseOlderVersions(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& newer,
                          bool newerIsRecord, long long& older);

// Drops the local rows of the record's versions older than `newer`, of both families, but for
// removals still owed; false when a delete failed.
bool dropOlderRows(SyncContext& ctx, const QString& treco, const QString& NoRec, const QString& newer);

}  // namespace tarvelo::sync::ledger
