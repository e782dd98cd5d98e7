#pragma once
#include "data/activity_log.h"
#include "data/database.h"
#include "data/error_log.h"
#include "data/run_state.h"
#include "data/settings_store.h"
#include "data/web_service.h"
#include "records/records_state.h"
#include "records/table_list.h"
#include "support/ref_web_service.h"
#include "support/test_db.h"
#include "sync/sync_state.h"

#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tarvelo::test {

// Settings held in memory, as the per-user store would hold them.
class MemorySettings : public data::SettingsStore {
public:
    QString read(const QString& application, const QString& section, const QString& key) const override
    {
        return values_.value(application + u'/' + section + u'/' + key);
    }
    bool write(const QString& application, const QString& section, const QString& key, const QString& value) override
    {
        values_[application + u'/' + section + u'/' + key] = value;
        return true;
    }

private:
    QMap<QString, QString> values_;
};

using Fields = QMap<QString, QString>;

// What a branch's cycle() runs: the engine's cycle alone, or the program's cycle tick: the cycle,
// then the bookkeeping (the statistics row in branchsyn_tab, every tenth tick a full rescan, the
// notices), as the program runs them. The program's tick keeps one statistics row and one notice
// of each branch in every ledger and announced on the server.
enum class Tick { Engine, Program };

// One branch: its own database and a whole engine context over it, in this process.
struct RigBranch {
    // `shared`: a second engine over another branch's database instead, as a second copy of the program.
    RigBranch(const QString& number, std::unique_ptr<ScratchDatabase> database, const ScratchDatabase& server,
              const QString& webBase, std::chrono::milliseconds webTimeout = std::chrono::seconds(5),
              Tick tick = Tick::Engine, ScratchDatabase* shared = nullptr);
    RigBranch(const RigBranch&) = delete;
    RigBranch& operator=(const RigBranch&) = delete;

    // The start of synchronisation: every table and the resolution marked for work, a full rescan
    // due; with the program's tick also its counts and its statistics row.
    void startSync();
    // One cycle tick: settings due for reload, the cycle, the bookkeeping (the program's, or only
    // its reset of the step count).
    void cycle();
    // Like cycle(), but the process ends when the engine lets window events run for the `pump`th
    // time in it: from there on nothing reaches a database or the web service. True when it ended
    // so; the context is then dead and SyncRig::restart gives a fresh one.
    bool cycleEndingAt(int pump);

    // Edits as the accounting application makes them: the row marked to be sent, owned by this
    // branch, stamped in local time, and a change-queue row naming the table.
    void add(const QString& table, const QString& noRec, const Fields& fields = {});
    void edit(const QString& table, const QString& noRec, const Fields& fields);
    void remove(const QString& table, const QString& noRec);
    void queue(const QString& table, const QString& kind);

    // A column of one row; empty when the row or the value is missing.
    QString value(const QString& table, const QString& noRec, const QString& column) const;
    qint64 count(const QString& table, const QString& where = {}) const;

    QString number;
    std::unique_ptr<ScratchDatabase> ownDb;
    ScratchDatabase& db;
    QTemporaryDir folder;
    data::RunState run;
    data::LampsModel lamps;
    std::function<void()> onPump;  // what a test lets happen when the engine lets window events run
    int pumps = 0;
    int endAtPump = 0;  // cycleEndingAt: the pump at which the process ends
    bool ended = false;
    int exits = 0;
    data::Database database;
    data::ErrorLog errors;
    data::WebService web;
    MemorySettings settings;
    records::TableList tables;
    data::ActivityLogs logs;
    data::TextListModel combo;
    records::BranchSettings branch;
    records::RecordsetVars vars;
    sync::SyncState state;
    sync::SyncWindow window;
    sync::SyncContext ctx;
    int workSeq = 0;
    Tick tick = Tick::Engine;
    qint32 cntCycle = 0;  // the program's Cnt_Cycle

private:
    void pumped();
    void statistics(qint16 mode);
};

// One server database with the reference web service over it, and branches A = 01, B = 02, C = 03
// already registered in branch_tab everywhere, each with its project row.
class SyncRig {
public:
    explicit SyncRig(int branchCount = 3, std::chrono::milliseconds webTimeout = std::chrono::seconds(5),
                     Tick tick = Tick::Engine);

    RigBranch& A() { return *branches.at(0); }
    RigBranch& B() { return *branches.at(1); }
    RigBranch& C() { return *branches.at(2); }

    // Adds a branch that has not synchronised yet: empty but for its project row (SynFirst "1")
    // and the branch list; registers it on the server's branch list.
    RigBranch& addNewBranch(const QString& number);

    // A fresh engine context over the databases of branch `index` (0 = A), as a restarted process
    // has: nothing kept from the old one, the start of synchronisation due. References to the old
    // branch are dead afterwards.
    RigBranch& restart(size_t index);

    // One cycle of every branch, in order; true when any database changed or a request took one
    // of the web service's faults.
    bool round();
    // One cycle of each branch named, in that order ("ABCABCB"; A = 01, B = 02, ...); true as for
    // round().
    bool round(const QString& order);
    // Rounds until one changes nothing and no request the web service delays is still to do its
    // work; the number of rounds run, or -1 when `maxRounds` did not settle.
    int settle(int maxRounds = 40);

    QString serverValue(const QString& table, const QString& noRec, const QString& column) const;
    qint64 serverCount(const QString& table, const QString& where = {}) const;
    // Checksums of every synchronised table and the ledger in every database; with the program's
    // tick, of all but the statistics and notices, which every tick rewrites, and their ledger rows.
    QString fingerprint() const;

    // Ledger rows of `db` beyond those of the statistics rows and notices the program's tick always
    // keeps (all rows when the tick is the engine's).
    qint64 exchangeRows(const ScratchDatabase& db) const;

private:
    std::vector<std::unique_ptr<ScratchDatabase>> databases_;  // made side by side: each takes seconds
    std::chrono::milliseconds webTimeout_;
    Tick tick_;

public:
    ScratchDatabase& server;
    RefWebService web;
    std::vector<std::unique_ptr<RigBranch>> branches;
};

// The plain records, invoices and lines with their versions, then the exchanges not closed and
// the ledger rows: equal on the server and every branch when nothing diverged.
QString recordsAndExchanges(const ScratchDatabase& db);

// What belongs to record `noRec` of `table` on `db`: lines, serial rows and states, bills with their
// account rows, pictures, each with what says whose and which version it is; equal on the server and
// every branch when the family is, empty when it has none.
QString familyRows(const ScratchDatabase& db, const QString& table, const QString& noRec);

// Row changes on a branch database made by a session that does not hold its branch lock, logged
// by triggers on every table (the change queue aside, which the accounting application writes).
class UnlockedWrites {
public:
    explicit UnlockedWrites(const ScratchDatabase& db);
    // What was logged since the last call ("table op by connection; ..."); the log starts again.
    // A test's own writes come before a call whose answer it drops.
    QString take();

private:
    const ScratchDatabase& db_;
};

// Ends the session that holds the branch database's lock, as a server restart, a killed thread or
// a network cut does, and waits until the server has let go of the lock.
void killLockHolder(const ScratchDatabase& db);

// "yyyyMMddhhmmss" of the local clock.
QString localStamp();

// A memory figure of this process from /proc/self/status ("VmRSS", "VmHWM"), in kB; 0 if unknown.
qint64 processMemoryKb(const char* field);

}  // namespace tarvelo::test
