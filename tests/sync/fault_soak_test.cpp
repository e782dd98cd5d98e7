// Many records exchanged between branches while the web service, the databases and the engine
// itself fail at random; once the faults stop and the rounds settle, every database holds the same
// records and every exchange and ledger is closed. The branches run the program's tick, statistics
// rows included; among the faults are requests stored seconds after the engine gave up on them,
// long after their exchange ended. TARVELO_SOAK_SEEDS (a count from 1, or a list like "4,9") and
// TARVELO_SOAK_RECORDS run it longer (scripts/soak.sh).
#include "data/odbc.h"
#include "data/sql_text.h"
#include "support/sync_rig.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

using Fault = RefWebService::Fault;

struct Record {
    QString table, noRec;
    QStringList lines;  // an invoice's rowvoi_tab rows
    bool deleted = false;
};

struct Counts {
    int lost = 0, duplicated = 0, diverged = 0, notDeleted = 0, open = 0, ledgerRows = 0;
    QStringList left;  // what is left over, for the diagnosis
    bool zero() const { return lost + duplicated + diverged + notDeleted + open + ledgerRows == 0; }
};

const char* const kPlainTables[] = {"city_tab", "bank_tab", "nati_tab"};
const char* const kRecordTables[] = {"city_tab", "bank_tab", "nati_tab", "invoice_tab"};

class Soak {
public:
    Soak(unsigned seed, int records)
        : rng_(seed), records_(records), rig_(3, std::chrono::milliseconds(400), Tick::Program)
    {
    }

    Counts run(int& settleRounds)
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
        // The faults stop; a delayed request may still be doing its work.
        rig_.web.clearFaults();
        data::clearStatementFailures();
        rig_.web.waitForDelayed(std::chrono::seconds(30));
        settleRounds = settle();
        return count();
    }

private:
    // One cycle tick as the program runs it (every tenth a full rescan); a server failure stops
    // synchronisation and the retry starts it again.
    void cycle(int index)
    {
        RigBranch& b = branch(index);
        b.cycle();
        if (b.run.Syn_Stop)
            b.startSync();
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
        RigBranch& b = branch(workingBranch());
        if (roll <= 45)
            addPlain(b, chance(10));
        else if (roll <= 65)
            addInvoice(b);
        else if (roll <= 85)
            editSome(b);
        else
            deleteSome(b);
    }

    void addPlain(RigBranch& b, bool deleteAtOnce)
    {
        Record r{QString::fromLatin1(kPlainTables[pick(0, 2)]), nextNumber(b), {}, deleteAtOnce};
        b.add(r.table, r.noRec, {{"Ne_Rec", "v0"}});
        if (deleteAtOnce)
            b.remove(r.table, r.noRec);
        model_.push_back(r);
        ++made_;
    }

    void addInvoice(RigBranch& b)
    {
        Record r{QStringLiteral("invoice_tab"), nextNumber(b), {}, false};
        const int lines = pick(1, 3);
        for (int i = 0; i < lines; ++i) {
            r.lines << nextNumber(b);
            b.add(QStringLiteral("rowvoi_tab"), r.lines.last(), {{"NRS1", r.noRec}, {"DRS1", "R1"}});
        }
        b.add(r.table, r.noRec, {{"DRS1", "R1"}, {"CRS1", QString::number(lines)}, {"CRS2", "0"}, {"CRS3", "0"}});
        model_.push_back(r);
        ++made_;
    }

    // A live record this branch holds; nullptr when it holds none.
    Record* heldLive(RigBranch& b)
    {
        for (int tries = 0; tries < 20 && !model_.empty(); ++tries) {
            Record& r = model_.at(size_t(pick(0, int(model_.size()) - 1)));
            if (!r.deleted && b.value(r.table, r.noRec, QStringLiteral("SynDele")) == u"0")
                return &r;
        }
        return nullptr;
    }

    void editSome(RigBranch& b)
    {
        if (Record* r = heldLive(b))
            b.edit(r->table, r->noRec, {{"Ne_Rec", QStringLiteral("v%1").arg(++serial_)}});
    }

    // A deletion the others must accept: of a record in step everywhere, or of one never sent.
    void deleteSome(RigBranch& b)
    {
        Record* r = heldLive(b);
        if (!r)
            return;
        const QString mine = b.value(r->table, r->noRec, QStringLiteral("DatTim2"));
        const QString version = rig_.serverValue(r->table, r->noRec, QStringLiteral("DatTim2"));
        bool inStep = !version.isEmpty();
        for (const auto& other : rig_.branches) {
            const QString held = other->value(r->table, r->noRec, QStringLiteral("DatTim2"));
            const QString synAdd = other->value(r->table, r->noRec, QStringLiteral("SynAdd"));
            if (synAdd == u"1" || synAdd == u"5" || (!held.isEmpty() && held != version))
                inStep = false;
        }
        const bool neverSent = mine.isEmpty() && version.isEmpty();
        if (!inStep && !neverSent)
            return;
        b.remove(r->table, r->noRec);
        r->deleted = true;
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
            if (b.cycleEndingAt(pick(1, 120)))
                rig_.restart(size_t(index));
            return;
        }
        cycle(index);
        branch(index).onPump = nullptr;
        data::clearStatementFailures();
    }

    std::vector<const ScratchDatabase*> databases() const
    {
        std::vector<const ScratchDatabase*> all{&rig_.server};
        for (const auto& b : rig_.branches)
            all.push_back(&b->db);
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
            bool lost = false, diverged = false, left = false, open = false;
            for (const QString& key : keys) {
                const QString table = key == r.noRec ? r.table : QStringLiteral("rowvoi_tab");
                const QString first = row(all.front(), table, key);
                for (const ScratchDatabase* db : all) {
                    const QString here = row(db, table, key);
                    if (r.deleted) {
                        left = left || !here.isEmpty();
                        continue;
                    }
                    lost = lost || here.isEmpty();
                    // Detail rows keep the sender's SynAdd on the server: only the record's values count.
                    diverged = diverged || (!here.isEmpty() && here.section(u'|', 0, 2) != first.section(u'|', 0, 2));
                    open = open || (table == r.table && !here.isEmpty() && !here.endsWith(u"|4"));
                }
            }
            c.lost += lost;
            c.diverged += diverged;
            c.notDeleted += left;
            if (left || open)
                c.left << QStringLiteral("%1 %2 %3").arg(left ? u"undeleted" : u"open", r.table, r.noRec);
            c.open += open;
        }
        for (const ScratchDatabase* db : all) {
            for (const char* table : {"city_tab", "bank_tab", "nati_tab", "invoice_tab", "rowvoi_tab"})
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
                c.left << db->name() + ": ledger " + values.join(u' ');
            }
        }
        return c;
    }

    std::mt19937 rng_;
    int records_;
    SyncRig rig_;
    std::vector<Record> model_;
    int made_ = 0;
    int serial_ = 0;
    bool joined_ = false;

public:
    int lateBySeconds_ = 0;  // requests given a delay of seconds
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

void soak(const std::vector<unsigned>& seeds)
{
    const int records = qEnvironmentVariableIsSet("TARVELO_SOAK_RECORDS")
                            ? qEnvironmentVariableIntValue("TARVELO_SOAK_RECORDS")
                            : 40;
    for (const unsigned seed : seeds) {
        int rounds = 0;
        Soak soak(seed, records);
        const Counts c = soak.run(rounds);
        std::printf("seed %u: records %d, lost %d, duplicated %d, diverged %d, deletions not carried out %d, "
                    "exchanges not closed %d, ledger rows left %d (settled in %d rounds; %d requests delayed by "
                    "seconds)\n",
                    seed, records, c.lost, c.duplicated, c.diverged, c.notDeleted, c.open, c.ledgerRows, rounds,
                    soak.lateBySeconds_);
        for (const QString& l : c.left)
            std::printf("  left %s\n", qPrintable(l));
        std::fflush(stdout);
        EXPECT_TRUE(c.zero()) << "seed " << seed;
        EXPECT_GT(rounds, 0) << "seed " << seed << " did not settle";
    }
}

}  // namespace

// The suite's three seeds, one test each so that they run side by side; every seed's fault mix
// holds requests stored seconds late. With TARVELO_SOAK_SEEDS set, the first runs those seeds
// and the others are skipped.
TEST(FaultSoak, EveryRecordArrivesEveryDeletionIsCarriedOutAndEveryLedgerEmpties)
{
    const std::vector<unsigned> asked = seedsAsked();
    soak(asked.empty() ? std::vector<unsigned>{1} : asked);
}

TEST(FaultSoak, SecondSeed)
{
    if (!seedsAsked().empty())
        GTEST_SKIP() << "TARVELO_SOAK_SEEDS runs in the first test";
    soak({2});
}

TEST(FaultSoak, ThirdSeed)
{
    if (!seedsAsked().empty())
        GTEST_SKIP() << "TARVELO_SOAK_SEEDS runs in the first test";
    soak({3});
}
