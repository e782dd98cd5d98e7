// Many records exchanged between branches while the web service, the databases and the engine
// itself fail at random; once the faults stop and the rounds settle, every database holds the same
// records and every exchange and ledger is closed. The branches run the program's tick, statistics
// rows included; among the faults are requests stored seconds after the engine gave up on them,
// long after their exchange ended. Some deletions meet a user (or, for an invoice, a bill) at another
// branch that names the record, so they are refused; it is dropped later and the record deleted
// again. Some refusals move to a branch whose acceptance of the first deletion lands late, over its
// refusal of the second: that branch keeps its copy and sends it again, with its lines or pictures.
// Some deletions of an invoice (with lines, bills), a city with pictures or a voucher (lines of two
// revisions) are overtaken by an edit at a branch whose acceptance was stored with its reply lost:
// the record comes back everywhere with its whole family, while updates of members fail now and then.
// TARVELO_SOAK_SEEDS (a count from 1, or a list like "4,9"), TARVELO_SOAK_RECORDS and
// TARVELO_SOAK_MIX ("requests", "pumps" or both) run it longer (scripts/soak.sh).
#include "data/odbc.h"
#include "data/sql_text.h"
#include "support/sync_rig.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <random>
#include <thread>
#include <utility>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

using Fault = RefWebService::Fault;

struct Record {
    QString table, noRec;
    QStringList lines;     // an invoice's rowvoi_tab rows, a voucher's rowacc_tab rows of every revision
    QStringList pictures;  // a city's picstream_tab rows
    QStringList bills;     // an invoice's inbill_tab rows of kind 2, which never hold its deletion
    bool deleted = false;
    // A deletion refused through a row of branch `holder` that names the record (`user`), until
    // that row is dropped: `deleter` made it.
    int holder = -1, deleter = -1;
    QString user;
    int pause = 0;  // retries to let pass once the refusal is back, before the record is deleted again
    // A refusal that moves: the second deletion meets a row at `next`, whose acceptance of the first
    // is the request the web service holds (`hold`) until `next` has refused the second.
    int next = -1;
    QString hold;
    int holdAge = 0;   // cycles since the second deletion, while the request is still held
    int watch = -1;    // the branch that may send the record again as its own new version
    QString version;   // the server's version when the second deletion was made
    bool kept = false;  // sent again: it lives on with its family (and the row naming it), deleted no more
    // An edit overtaking the deletion: `editor`'s acceptance is stored with its reply lost, and its
    // person edits the record before that branch meets the closing.
    int editor = -1;
    int back = -1, backFaults = 0;  // the branch whose family goes back, and statement faults left for it

    QString linesTable() const
    {
        return table == u"accreg_tab" ? QStringLiteral("rowacc_tab") : QStringLiteral("rowvoi_tab");
    }
    bool hasFamily() const { return !(lines.isEmpty() && pictures.isEmpty() && bills.isEmpty()); }
    std::string acceptance(const RigBranch& b) const
    {
        return ("norec=" + noRec + "&branch=" + b.number + "&kin1=3&kin2=0").toStdString();
    }
};

// Which faults a run meets.
// Requests: a fault taken by the next request of a chosen script (mostly about the records),
// failing database calls and engines that end mid-cycle, a 400 ms time-out, a branch joining.
// Pumps: at any point of a cycle where the engine lets window events run, a fault for the next
// request of any script, a 5 s time-out and replies stored 6.5 s late.
enum class Mix { Requests, Pumps };

struct Counts {
    int lost = 0, duplicated = 0, diverged = 0, notDeleted = 0, open = 0, ledgerRows = 0;
    QStringList left;  // what is left over, for the diagnosis
    bool zero() const { return lost + duplicated + diverged + notDeleted + open + ledgerRows == 0; }
};

const char* const kPlainTables[] = {"city_tab", "bank_tab", "nati_tab"};
const char* const kRecordTables[] = {"city_tab", "bank_tab", "nati_tab", "invoice_tab"};

// The table and column of a row that names a record, so that its deletion is refused: a user for
// the plain tables, a bill for an invoice.
std::pair<QString, QString> referenceTo(const QString& table)
{
    if (table == u"invoice_tab")
        return {QStringLiteral("inbill_tab"), QStringLiteral("No_Bill")};
    return {QStringLiteral("user_tab"), table == u"city_tab"   ? QStringLiteral("so3")
                                        : table == u"bank_tab" ? QStringLiteral("so10")
                                                               : QStringLiteral("so2")};
}

class Soak {
public:
    Soak(unsigned seed, int records, Mix mix)
        : rng_(seed),
          faultRng_(seed * 7919u + 17u),
          records_(records),
          mix_(mix),
          rig_(3, mix == Mix::Requests ? std::chrono::milliseconds(400) : std::chrono::milliseconds(5000), Tick::Program)
    {
    }

    Counts run(int& settleRounds)
    {
        if (mix_ == Mix::Pumps)
            runWithPumpFaults();
        else
            runWithRequestFaults();
        // A moved refusal whose held acceptance waits to land gets the rounds it needs.
        for (int round = 0; round < 15 && std::any_of(model_.begin(), model_.end(), [](const Record& r) {
                                return !r.hold.isEmpty() && r.next < 0 && r.watch >= 0;
                            });
             ++round) {
            retryRefused();
            for (size_t i = 0; i < rig_.branches.size(); ++i)
                mix_ == Mix::Pumps ? cycle(int(i)) : cycleWithFaults(int(i));
        }
        // The faults stop; a delayed or held request may still be doing its work.
        pumpFaults_ = false;
        for (Record& r : model_) {
            r.hold.clear();
            r.editor = -1;
            r.backFaults = 0;
        }
        rig_.web.clearFaults();
        data::clearStatementFailures();
        rig_.web.waitForDelayed(std::chrono::seconds(30));
        settleRounds = settle();
        return count();
    }

    // Records a branch that had to keep its copy sent again as its own after an all-accepted closing.
    qint64 sentAgain() const
    {
        qint64 n = sentAgainBefore_;
        for (const auto& b : rig_.branches)
            n += b->state.Sent_Again;
        return n;
    }

    // Masters whose members the server lacked, marked to go back with them.
    qint64 familiesTaken() const
    {
        qint64 n = familiesTakenBefore_;
        for (const auto& b : rig_.branches)
            n += b->state.Families_Taken;
        return n;
    }

    int faultsMade_ = 0;      // faults given at event pumps
    int lateBySeconds_ = 0;   // requests given a delay of seconds
    qint64 sentAgainBefore_ = 0;  // records sent again by engines that have ended since
    qint64 familiesTakenBefore_ = 0;
    int overtaken_ = 0;       // deletions an edit overtook
    int moved_ = 0;           // second deletions refused at another branch than the first
    int landed_ = 0;          // of them, those whose held acceptance of the first landed over that refusal

private:
    void runWithRequestFaults()
    {
        while (made_ < records_) {
            if (!joined_ && made_ >= records_ / 2) {
                rig_.addNewBranch(QStringLiteral("04"));
                joined_ = true;
            }
            act();
            for (int i = pick(1, 3); i > 0; --i)
                cycleWithFaults(pick(0, int(rig_.branches.size()) - 1));
        }
    }

    // The records, invoices and vouchers first, then deletions and edits; every refused deletion is
    // made again once its user is dropped. Sizes as for 70 records: 5 invoices or vouchers, 12
    // deletions, 10 edits, at most 40 faults.
    void runWithPumpFaults()
    {
        faultCap_ = std::max(1, 40 * records_ / 70);
        for (auto& b : rig_.branches)
            b->onPump = [this] { pumpFault(); };
        pumpFaults_ = true;
        int plain = records_, invoices = std::max(1, records_ / 14);
        while (plain + invoices > 0) {
            for (int i = pick(1, 4); i > 0 && plain + invoices > 0; --i) {
                RigBranch& b = branch(workingBranch());
                if (pick(1, plain + invoices) <= invoices) {
                    addFamily(b);
                    --invoices;
                } else {
                    addPlain(b, false);
                    --plain;
                }
            }
            pumpRound();
        }
        int deletions = records_ * 12 / 70, edits = records_ * 10 / 70;
        const int rounds = 10 * (deletions + edits) + 30;
        // A refusal that never comes back, or records that never get in step, are left to the counts.
        for (int round = 0, after = 0; round < rounds && after < 15 && (deletions + edits > 0 || refusing()); ++round) {
            after += deletions + edits == 0;
            retryRefused();
            for (int i = pick(0, 2); i > 0 && deletions + edits > 0; --i) {
                RigBranch& b = branch(workingBranch());
                if (deletions > 0 && (edits == 0 || pick(1, deletions + edits) <= deletions))
                    deletions -= deleteSome(b);
                else
                    edits -= editSome(b);
            }
            pumpRound();
        }
    }

    // Every branch once, in a random order.
    void pumpRound()
    {
        faultsThisRound_ = 0;
        std::vector<int> order(rig_.branches.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = int(i);
        std::shuffle(order.begin(), order.end(), rng_);
        for (const int i : order)
            cycle(i);
    }

    // Wherever the engine lets window events run: now and then a fault for the next request.
    void pumpFault()
    {
        if (!pumpFaults_ || faultsThisRound_ >= 4 || faultsMade_ >= faultCap_
            || !std::bernoulli_distribution(0.004)(faultRng_))
            return;
        const Fault faults[] = {Fault::httpError(), Fault::reply("<html>garbage</html>"), Fault::emptyBody(),
                                Fault::lostReply(), Fault::garbageAfterWork(),
                                Fault::redirect(rig_.web.baseUrl() + "missing.php"),
                                Fault::delayed(std::chrono::milliseconds(6500))};
        const int kind = std::uniform_int_distribution<int>(0, 6)(faultRng_);
        lateBySeconds_ += kind == 6;
        ++faultsThisRound_;
        ++faultsMade_;
        rig_.web.failNextRequest(faults[kind]);
    }

    // One cycle tick as the program runs it (every tenth a full rescan); a server failure stops
    // synchronisation and the retry starts it again.
    void cycle(int index)
    {
        RigBranch& b = branch(index);
        const bool failing = failWhileFamilyGoesBack(index);
        b.cycle();
        if (failing)
            data::clearStatementFailures();
        if (b.run.Syn_Stop)
            b.startSync();
        landLate();
        overtake();
    }

    // Now and then a statement that marks or sends a member fails once in a cycle of a branch whose
    // record is gone from the server, so that a family is left half marked.
    bool failWhileFamilyGoesBack(int index)
    {
        bool failing = false;
        for (Record& r : model_)
            if (r.back == index && r.backFaults > 0
                && rig_.serverValue(r.table, r.noRec, QStringLiteral("DatTim2")).isEmpty()
                && std::bernoulli_distribution(0.5)(faultRng_)) {
                --r.backFaults;
                failing = true;
            }
        if (failing)
            data::failStatements(QStringLiteral("update (rowvoi|rowacc|picstream|inbill)_tab"), 1,
                                 branch(index).db.name());
        return failing;
    }

    // Once the editor's acceptance is stored and its reply lost, its person edits the record: it is
    // kept everywhere with its family. An acceptance whose fault was never taken leaves it deleted.
    void overtake()
    {
        for (Record& r : model_) {
            if (r.editor < 0)
                continue;
            RigBranch& e = branch(r.editor);
            const bool stored =
                rig_.server
                    .scalar("SELECT COUNT(*) FROM atten_rec WHERE kin1 = '3' AND kin2 = '0' AND NoRec = "
                            + data::sqlLiteral(r.noRec) + " AND treco = " + data::sqlLiteral(r.table)
                            + " AND branch = " + data::sqlLiteral(e.number))
                    .toInt()
                > 0;
            const bool held = e.count(r.table, "no_rec = " + data::sqlLiteral(r.noRec)) > 0;
            if (held && !stored)
                continue;
            if (!rig_.web.dropFault(QStringLiteral("save_syn.php"), r.acceptance(e)) && stored && held) {
                e.edit(r.table, r.noRec, {{"Ne_Rec", "edited at " + e.number}});
                r.deleted = false;
                r.kept = true;
                r.back = r.editor;
                r.backFaults = 2;
                ++overtaken_;
            }
            r.editor = -1;
        }
    }

    // A held acceptance of a first deletion lands once its branch has refused the second and every
    // other answer is in, and the deleting branch reads them at once: it counts the acceptance
    // before the refusal is posted again.
    void landLate()
    {
        if (landing_)
            return;
        landing_ = true;
        for (Record& r : model_) {
            if (r.watch >= 0)
                noteSentAgain(r);
            if (r.hold.isEmpty() || r.next >= 0 || r.watch < 0)
                continue;
            const QStringList answers =
                rig_.server
                    .scalar("SELECT CONCAT_WS(' ', SUM(kin1 = '3' AND mainbranch = '0'), SUM(kin1 = '3' AND mainbranch "
                            "= '0' AND kin2 = '1' AND branch = " + data::sqlLiteral(branch(r.watch).number)
                            + "), SUM(kin1 = '2' AND kin2 <> '0')) FROM atten_rec WHERE NoRec = "
                            + data::sqlLiteral(r.noRec) + " AND treco = " + data::sqlLiteral(r.table))
                    .split(u' ');
            const bool refusedAndAllIn = answers.size() == 3 && answers[1].toInt() > 0
                                         && answers[0].toInt() >= int(rig_.branches.size()) - 1 && answers[2].toInt() == 0;
            if (!refusedAndAllIn && ++r.holdAge < 60)
                continue;
            rig_.web.release(r.hold);
            r.hold.clear();
            if (refusedAndAllIn) {
                ++landed_;
                RigBranch& d = branch(r.deleter);
                d.cycle();
                if (d.run.Syn_Stop)
                    d.startSync();
            }
        }
        landing_ = false;
    }

    // The refusing branch's copy is back on the server as a new version of its own.
    void noteSentAgain(Record& r)
    {
        const QString version = rig_.serverValue(r.table, r.noRec, QStringLiteral("DatTim2"));
        if (!version.isEmpty() && version != r.version
            && rig_.serverValue(r.table, r.noRec, QStringLiteral("No_Branch")) == branch(r.watch).number) {
            r.watch = -1;
            r.kept = true;
        }
    }

    static void rescan(RigBranch& b)
    {
        b.state.Syn_AllPass = 1;
        b.branch.Chk_Rec = 1;
        b.branch.Chk_Del = 1;
    }

    // Rounds until one that began with a full rescan changes nothing and no delayed request is
    // still to land; -1 when that never came.
    int settle()
    {
        bool rescanned = false;
        for (int round = 1; round <= 80; ++round) {
            const QString before = rig_.fingerprint();
            for (size_t i = 0; i < rig_.branches.size(); ++i)
                cycle(int(i));
            if (rig_.fingerprint() != before) {
                rescanned = false;
                continue;
            }
            if (rig_.web.delayedInFlight() > 0) {
                rig_.web.waitForDelayed(std::chrono::seconds(30));
                rescanned = false;
                continue;
            }
            if (rescanned)
                return round;
            for (const auto& b : rig_.branches)
                rescan(*b);
            rescanned = true;
        }
        return -1;
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    RigBranch& branch(int i) { return *rig_.branches.at(size_t(i)); }

    // A branch that has finished its first synchronisation, so its user can work.
    int workingBranch()
    {
        for (;;) {
            const int i = pick(0, int(rig_.branches.size()) - 1);
            if (branch(i).db.scalar(QStringLiteral("select SynFirst from proj_tab limit 1")) == u"0")
                return i;
        }
    }

    QString nextNumber(const RigBranch& b) { return b.number + QStringLiteral("%1").arg(++serial_, 5, 10, QChar(u'0')); }

    void act()
    {
        const int roll = pick(1, 100);
        if (roll <= 4) {
            retryRefused();
            return;
        }
        RigBranch& b = branch(workingBranch());
        if (roll <= 45)
            addPlain(b, chance(10));
        else if (roll <= 65)
            addFamily(b);
        else if (roll <= 85)
            editSome(b);
        else
            deleteSome(b);
    }

    void addPlain(RigBranch& b, bool deleteAtOnce)
    {
        Record r;
        r.table = QString::fromLatin1(kPlainTables[pick(0, 2)]);
        r.noRec = nextNumber(b);
        r.deleted = deleteAtOnce;
        b.add(r.table, r.noRec, {{"Ne_Rec", "v0"}});
        if (deleteAtOnce)
            b.remove(r.table, r.noRec);
        else if (r.table == u"city_tab" && chance(50))
            for (int i = pick(1, 2); i > 0; --i) {
                r.pictures << nextNumber(b);
                b.add(QStringLiteral("picstream_tab"), r.pictures.last(),
                      {{"NoID", r.noRec}, {"rec_tab", "city_tab"}, {"Ne_Rec", "p0"}});
            }
        model_.push_back(r);
        ++made_;
    }

    // An invoice with lines, now and then a bill of kind 2 with its account row; or a voucher with
    // lines, whose older revisions stay.
    void addFamily(RigBranch& b)
    {
        Record r;
        r.table = chance(25) ? QStringLiteral("accreg_tab") : QStringLiteral("invoice_tab");
        r.noRec = nextNumber(b);
        const int lines = pick(1, 3);
        for (int i = 0; i < lines; ++i) {
            r.lines << nextNumber(b);
            b.add(r.linesTable(), r.lines.last(), {{"NRS1", r.noRec}, {"DRS1", "R1"}});
        }
        if (r.table == u"accreg_tab") {
            b.add(r.table, r.noRec, {{"DRS1", "R1"}, {"CRS1", QString::number(lines)}});
        } else {
            b.add(r.table, r.noRec, {{"DRS1", "R1"}, {"CRS1", QString::number(lines)}, {"CRS2", "0"}, {"CRS3", "0"}});
            if (chance(40)) {
                r.bills << nextNumber(b);
                b.add(QStringLiteral("rowacc_tab"), nextNumber(b), {{"NRS1", r.bills.last()}, {"DRS1", "R1"}});
                b.add(QStringLiteral("inbill_tab"), r.bills.last(),
                      {{"No_Bill", r.noRec}, {"KinBil", "2"}, {"DRS1", "R1"}, {"CRS1", "1"}});
            }
        }
        model_.push_back(r);
        ++made_;
    }

    // A live record this branch holds and no refusal is under way for; nullptr when it holds none.
    Record* heldLive(RigBranch& b)
    {
        for (int tries = 0; tries < 20 && !model_.empty(); ++tries) {
            Record& r = model_.at(size_t(pick(0, int(model_.size()) - 1)));
            if (!r.deleted && !r.kept && r.holder < 0 && b.value(r.table, r.noRec, QStringLiteral("SynDele")) == u"0")
                return &r;
        }
        return nullptr;
    }

    // Now and then a voucher its branch holds closed everywhere gets a second revision with a line.
    bool editSome(RigBranch& b)
    {
        Record* r = heldLive(b);
        if (r && r->table == u"accreg_tab"
            && b.value(r->table, r->noRec, QStringLiteral("CONCAT(DRS1, No_Branch, SynAdd)")) == "R1" + b.number + "4"
            && closedElsewhere(b, *r) == int(rig_.branches.size()) - 1 && chance(50)) {
            r->lines << nextNumber(b);
            b.add(r->linesTable(), r->lines.last(), {{"NRS1", r->noRec}, {"DRS1", "R2"}});
            b.edit(r->table, r->noRec, {{"DRS1", "R2"}, {"CRS1", "1"}});
        } else if (r) {
            b.edit(r->table, r->noRec, {{"Ne_Rec", QStringLiteral("v%1").arg(++serial_)}});
        }
        return r;
    }

    // Half the time a record that two other branches hold closed, one with lines or pictures if
    // one is found, so that its refusal can move and its family has to come back with it.
    bool deleteSome(RigBranch& b)
    {
        Record* r = heldLive(b);
        if (!r || !chance(50))
            return r && deleteRecord(b, *r);
        std::vector<Record*> families;
        for (Record& m : model_)
            if (!m.deleted && !m.kept && m.holder < 0 && m.hasFamily())
                families.push_back(&m);
        for (int tries = 0; tries < 4 && !families.empty(); ++tries) {
            Record* f = families.at(size_t(pick(0, int(families.size()) - 1)));
            if (b.value(f->table, f->noRec, QStringLiteral("SynDele")) == u"0" && closedElsewhere(b, *f) >= 2)
                return deleteRecord(b, *f);
        }
        for (int tries = 6; tries > 0 && closedElsewhere(b, *r) < 2; --tries)
            if (Record* other = heldLive(b))
                r = other;
        return deleteRecord(b, *r);
    }

    int closedElsewhere(const RigBranch& b, const Record& r)
    {
        int n = 0;
        for (const auto& other : rig_.branches)
            n += other.get() != &b && other->value(r.table, r.noRec, QStringLiteral("CONCAT(SynAdd, SynDele)")) == u"40";
        return n;
    }

    bool refusing() const
    {
        return std::any_of(model_.begin(), model_.end(), [](const Record& r) { return r.holder >= 0; });
    }

    // Once a refusal is back at the branch that deleted, the row that caused it is dropped and
    // that branch deletes the record again: at once, while the refused exchange may still be
    // closing, or a little later. A refusal that moves meets a row at its next branch then; a record
    // sent again is left as it is.
    void retryRefused()
    {
        for (Record& r : model_) {
            if (r.holder < 0 || branch(r.deleter).value(r.table, r.noRec, QStringLiteral("SynDele")) != u"0"
                || r.pause-- > 0)
                continue;
            const int next = std::exchange(r.next, -1);
            if (r.watch >= 0)
                noteSentAgain(r);
            // A record sent again stays, so that the counts see whether its family came back; a bill
            // naming an invoice went with it.
            if (r.kept) {
                r.holder = -1;
                continue;
            }
            dropReference(r);
            r.watch = next;
            r.version = rig_.serverValue(r.table, r.noRec, QStringLiteral("DatTim2"));
            // An acceptance that was never held has nothing to land late.
            if (next >= 0 && !rig_.web.holding(r.hold)) {
                rig_.web.release(r.hold);
                r.hold.clear();
            }
            if ((!deleteRecord(branch(r.deleter), r, next) || r.holder != next) && next >= 0) {
                rig_.web.release(r.hold);
                r.hold.clear();
                r.watch = -1;
            } else if (next >= 0) {
                ++moved_;
                r.back = next;
                r.backFaults = 2;
            }
        }
    }

    // The row that names the record goes, at its branch only: it never travelled.
    void dropReference(Record& r)
    {
        branch(r.holder).db.exec("DELETE FROM " + referenceTo(r.table).first + " WHERE no_rec = " + data::sqlLiteral(r.user));
        r.holder = -1;
    }

    // A deletion of a record in step everywhere, or of one never sent: the others accept, unless
    // (now and then, or always at branch `holder` when given) a row of another branch holding the
    // record names it.
    bool deleteRecord(RigBranch& b, Record& r, int holder = -1)
    {
        const QString mine = b.value(r.table, r.noRec, QStringLiteral("DatTim2"));
        const QString version = rig_.serverValue(r.table, r.noRec, QStringLiteral("DatTim2"));
        std::vector<int> holders;
        bool inStep = !version.isEmpty();
        for (size_t i = 0; i < rig_.branches.size(); ++i) {
            const RigBranch& other = branch(int(i));
            const QString held = other.value(r.table, r.noRec, QStringLiteral("DatTim2"));
            const QString synAdd = other.value(r.table, r.noRec, QStringLiteral("SynAdd"));
            if (synAdd == u"1" || synAdd == u"5" || (!held.isEmpty() && held != version))
                inStep = false;
            if (&other != &b && synAdd == u"4" && other.value(r.table, r.noRec, QStringLiteral("SynDele")) == u"0")
                holders.push_back(int(i));
        }
        const bool neverSent = mine.isEmpty() && version.isEmpty();
        if (!inStep && !neverSent)
            return false;
        const bool named = holder >= 0 ? std::find(holders.begin(), holders.end(), holder) != holders.end()
                                       : !holders.empty() && r.table != u"accreg_tab" && chance(35);
        if (inStep && named) {
            r.holder = holder >= 0 ? holder : holders.at(size_t(pick(0, int(holders.size()) - 1)));
            r.deleter = indexOf(b);
            r.user = nextNumber(branch(r.holder));
            r.pause = pick(0, 1) * pick(1, 3);
            const auto [table, column] = referenceTo(r.table);
            branch(r.holder).db.exec("INSERT INTO " + table + " (no_rec, No_Branch, SynAdd, SynDele, " + column
                                      + ") VALUES (" + data::sqlLiteral(r.user) + ", "
                                      + data::sqlLiteral(branch(r.holder).number) + ", '0', '0', "
                                      + data::sqlLiteral(r.noRec) + ")");
            if (holder < 0 && holders.size() >= 2 && chance(50)) {
                do
                    r.next = holders.at(size_t(pick(0, int(holders.size()) - 1)));
                while (r.next == r.holder);
                r.hold = "norec=" + r.noRec + "&branch=" + branch(r.next).number + "&kin1=3&kin2=0&mainbranch=0";
                rig_.web.holdNext(r.hold);
            }
        }
        // Half the time, one that accepts all of a family's deletion edits the record meanwhile.
        if (inStep && !named && holder < 0 && r.hasFamily() && !holders.empty() && chance(50)) {
            r.editor = holders.at(size_t(pick(0, int(holders.size()) - 1)));
            rig_.web.failNext(QStringLiteral("save_syn.php"), 1,
                              Fault::lostReply().when(r.acceptance(branch(r.editor))));
        }
        b.remove(r.table, r.noRec);
        r.deleted = r.holder < 0;
        return true;
    }

    int indexOf(const RigBranch& b) const
    {
        for (size_t i = 0; i < rig_.branches.size(); ++i)
            if (rig_.branches[i].get() == &b)
                return int(i);
        return -1;
    }

    void cycleWithFaults(int index)
    {
        RigBranch& b = branch(index);
        const int roll = pick(1, 100);
        if (roll <= 12) {
            static const char* const scripts[] = {"save_syn.php", "delete_syn.php"};
            // Delayed: stored just past the 400 ms time-out, or seconds later, after the exchange ended.
            const Fault faults[] = {Fault::httpError(), Fault::reply("<html>garbage</html>"), Fault::emptyBody(),
                                    Fault::delayed(std::chrono::milliseconds(600)), Fault::lostReply(),
                                    Fault::garbageAfterWork(), Fault::delayed(std::chrono::milliseconds(pick(1500, 6000)))};
            const int kind = pick(0, 6);
            lateBySeconds_ += kind == 6;
            // Mostly a request about the records, not the statistics row every tick sends first.
            const Fault fault = pick(1, 4) == 1 ? faults[kind]
                                                : faults[kind].when("treco=" + std::string(kRecordTables[pick(0, 3)]) + "&");
            rig_.web.failNext(QString::fromLatin1(scripts[pick(0, 1)]), 1, fault);
        } else if (roll <= 20) {
            // One database call of this cycle fails.
            const int at = pick(1, 80);
            int seen = 0;
            b.onPump = [&seen, at] {
                if (++seen == at)
                    data::failStatements(QStringLiteral("."), 1);
            };
        } else if (roll <= 26) {
            if (b.cycleEndingAt(pick(1, 120))) {
                sentAgainBefore_ += b.state.Sent_Again;
                familiesTakenBefore_ += b.state.Families_Taken;
                rig_.restart(size_t(index));
            }
            overtake();
            return;
        }
        cycle(index);
        branch(index).onPump = nullptr;
        data::clearStatementFailures();
    }

    // The server first, then every branch, each with the name the diagnosis gives it.
    std::vector<std::pair<QString, const ScratchDatabase*>> databases() const
    {
        std::vector<std::pair<QString, const ScratchDatabase*>> all{{QStringLiteral("server"), &rig_.server}};
        for (const auto& b : rig_.branches)
            all.emplace_back(QStringLiteral("branch ") + b->number, &b->db);
        return all;
    }

    Counts count() const
    {
        Counts c;
        const auto all = databases();
        auto row = [](const ScratchDatabase* db, const QString& table, const QString& noRec) {
            return db->scalar("SELECT CONCAT_WS('|', COALESCE(Ne_Rec, ''), COALESCE(DatTim2, ''), COALESCE(SynDele, ''), "
                              "COALESCE(SynAdd, '')) FROM " + table + " WHERE no_rec = " + data::sqlLiteral(noRec));
        };
        for (const Record& r : model_) {
            QStringList keys{r.noRec};
            keys += r.lines;
            keys += r.pictures;
            keys += r.bills;
            bool lost = false, diverged = false, left = false;
            QStringList copies;
            for (const QString& key : keys) {
                const QString table = key == r.noRec         ? r.table
                                      : r.lines.contains(key) ? r.linesTable()
                                      : r.bills.contains(key) ? QStringLiteral("inbill_tab")
                                                              : QStringLiteral("picstream_tab");
                const QString first = row(all.front().second, table, key);
                for (const auto& [name, db] : all) {
                    const QString here = row(db, table, key);
                    copies << name + ": " + here;
                    if (r.deleted) {
                        left = left || !here.isEmpty();
                        continue;
                    }
                    lost = lost || here.isEmpty();
                    // Detail rows keep the sender's SynAdd on the server: only the record's values count.
                    diverged = diverged || (!here.isEmpty() && here.section(u'|', 0, 2) != first.section(u'|', 0, 2));
                    // Every copy counts, a receiving branch's as much as the sender's, a picture's too.
                    if (table != r.linesTable() && !here.isEmpty() && !here.endsWith(u"|4")) {
                        ++c.open;
                        c.left << QStringLiteral("open %1 %2 at %3 (%4)").arg(table, key, name, here);
                    }
                }
            }
            // The whole family, bills and pictures included, as every database holds it; a bill that
            // still refuses the deletion never travelled.
            const QString family = familyRows(*all.front().second, r.table, r.noRec);
            for (const auto& [name, db] : all) {
                if (r.holder >= 0 && !r.kept && db == &rig_.branches.at(size_t(r.holder))->db)
                    continue;
                const QString here = familyRows(*db, r.table, r.noRec);
                if (here != family || (r.deleted && !here.isEmpty())) {
                    (r.deleted ? left : diverged) = true;
                    copies << name + " family: " + here;
                }
            }
            c.lost += lost;
            c.diverged += diverged;
            c.notDeleted += left;
            if (left || diverged || lost)
                c.left << QStringLiteral("%1 %2 %3%4 (%5)")
                              .arg(left ? u"undeleted" : diverged ? u"diverged" : u"lost", r.table, r.noRec,
                                   r.user.isEmpty() ? QString() : QStringLiteral(", deletion refused once"),
                                   copies.join(u"; "));
        }
        for (const auto& [name, db] : all) {
            for (const char* table : {"city_tab", "bank_tab", "nati_tab", "invoice_tab", "rowvoi_tab", "picstream_tab",
                                      "inbill_tab", "accreg_tab", "rowacc_tab"})
                c.duplicated += db->scalar(QStringLiteral("SELECT COUNT(*) FROM (SELECT no_rec FROM %1 GROUP BY no_rec "
                                                          "HAVING COUNT(*) > 1) d").arg(QString::fromLatin1(table)))
                                    .toInt();
            // The statistics rows and notices of the program's tick always stay.
            const data::ResultData rows = db->query(QStringLiteral(
                "SELECT treco, NoRec, branch, SynLast, kin1, kin2, kin3, mainbranch, DTNow FROM atten_rec "
                "WHERE treco NOT IN ('branchsyn_tab', 'notic_tab')"));
            c.ledgerRows += int(rows.rows.size());
            for (const auto& row : rows.rows) {
                QStringList values;
                for (const auto& v : row)
                    values << v.toString();
                c.left << name + ": ledger " + values.join(u' ');
            }
        }
        return c;
    }

    std::mt19937 rng_;
    std::mt19937 faultRng_;  // apart, so that the pumps' timing leaves the edits as the seed makes them
    int records_;
    Mix mix_;
    SyncRig rig_;
    std::vector<Record> model_;
    int made_ = 0;
    int serial_ = 0;
    bool joined_ = false;
    bool pumpFaults_ = false;
    int faultCap_ = 0;
    int faultsThisRound_ = 0;
    bool landing_ = false;
};

// TARVELO_SOAK_SEEDS: a count (seeds 1 to N) or a list ("112,116"); empty when not set.
std::vector<unsigned> seedsAsked()
{
    const QString text = qEnvironmentVariable("TARVELO_SOAK_SEEDS");
    std::vector<unsigned> out;
    if (text.contains(u','))
        for (const QString& s : text.split(u',', Qt::SkipEmptyParts))
            out.push_back(s.toUInt());
    else
        for (unsigned i = 1; i <= text.toUInt(); ++i)
            out.push_back(i);
    return out;
}

// TARVELO_SOAK_MIX: "requests" or "pumps"; both when not set.
std::vector<Mix> mixesAsked()
{
    const QString text = qEnvironmentVariable("TARVELO_SOAK_MIX");
    if (text == u"requests")
        return {Mix::Requests};
    if (text == u"pumps")
        return {Mix::Pumps};
    return {Mix::Requests, Mix::Pumps};
}

void soak(const std::vector<unsigned>& seeds, Mix mix)
{
    const int records = qEnvironmentVariableIsSet("TARVELO_SOAK_RECORDS")
                            ? qEnvironmentVariableIntValue("TARVELO_SOAK_RECORDS")
                            : mix == Mix::Requests ? 40 : 70;
    for (const unsigned seed : seeds) {
        int rounds = 0;
        Soak soak(seed, records, mix);
        const Counts c = soak.run(rounds);
        std::printf("seed %u %s: records %d, lost %d, duplicated %d, diverged %d, deletions not carried out %d, "
                    "exchanges not closed %d, ledger rows left %d (settled in %d rounds; %d faults at pumps, %d "
                    "requests delayed by seconds, %d refusals moved, %d acceptances landed over them, %d records "
                    "sent again, %d deletions overtaken by an edit, %d masters took their family along)\n",
                    seed, mix == Mix::Requests ? "requests" : "pumps", records, c.lost, c.duplicated, c.diverged,
                    c.notDeleted, c.open, c.ledgerRows, rounds, soak.faultsMade_, soak.lateBySeconds_, soak.moved_, soak.landed_,
                    int(soak.sentAgain()), soak.overtaken_, int(soak.familiesTaken()));
        for (const QString& l : c.left)
            std::printf("  left %s\n", qPrintable(l));
        std::fflush(stdout);
        EXPECT_TRUE(c.zero()) << "seed " << seed;
        EXPECT_GT(rounds, 0) << "seed " << seed << " did not settle";
    }
}

// One of the suite's seeds; skipped (from the test) while the first test runs the seeds asked.
void suiteSeed(unsigned seed, Mix mix)
{
    if (!seedsAsked().empty())
        GTEST_SKIP() << "TARVELO_SOAK_SEEDS runs in the first test";
    soak({seed}, mix);
}

}  // namespace

// The suite's seeds, one test each so that they run side by side; every seed's fault mix holds
// requests stored seconds late. With TARVELO_SOAK_SEEDS set, the first runs those seeds in the
// mixes TARVELO_SOAK_MIX names and the others are skipped.
TEST(FaultSoak, EveryRecordArrivesEveryDeletionIsCarriedOutAndEveryLedgerEmpties)
{
    const std::vector<unsigned> asked = seedsAsked();
    if (asked.empty())
        soak({1}, Mix::Requests);
    for (const Mix mix : asked.empty() ? std::vector<Mix>{} : mixesAsked())
        soak(asked, mix);
}

TEST(FaultSoak, SecondSeed)
{
    suiteSeed(2, Mix::Requests);
}

TEST(FaultSoak, ThirdSeed)
{
    suiteSeed(3, Mix::Requests);
}

TEST(FaultSoak, FaultsAtAnyPointOfTheCycle)
{
    suiteSeed(3, Mix::Pumps);
}

TEST(FaultSoak, FaultsAtAnyPointOfTheCycleSecondSeed)
{
    suiteSeed(1, Mix::Pumps);
}
