#include "support/sync_rig.h"

#include "data/odbc.h"
#include "records/families.h"
#include "records/table_list.h"
#include "sync/engine.h"
#include "sync/links.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <future>

namespace tarvelo::test {

namespace {

QString lit(const QString& v)
{
    QString e = v;
    e.replace(u"\\"_qs, u"\\\\"_qs);
    e.replace(u"'"_qs, u"\\'"_qs);
    return u'\'' + e + u'\'';
}

const QStringList& tableNames()
{
    static const QStringList names = [] {
        QStringList out;
        for (const char16_t* t : records::synchronisedTables())
            out << QString::fromUtf16(t);
        return out;
    }();
    return names;
}

// `synAdd` "4": registered centrally, so no exchange is open for the row and nobody answers it.
void seedBranches(const ScratchDatabase& db, const QStringList& numbers, const QString& synAdd = QStringLiteral("0"))
{
    for (const QString& n : numbers)
        db.exec("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2, Na_Rec, Ne_Rec, "
                "DesEna, kinSyn, set1, set2, set3) VALUES (" + lit(n) + ", '01', " + lit(synAdd) + ", '0', "
                "'20240101000000', '20240101000000', " + lit("فرع " + n) + ", " + lit("Branch " + n)
                + ", '0', '0', '0', '0', '0')");
}

}  // namespace

QString recordsAndExchanges(const ScratchDatabase& d)
{
    return d.scalar(QStringLiteral(
        "SELECT CONCAT_WS(' ', (SELECT GROUP_CONCAT(no_rec, Ne_Rec, DatTim2, SynDele ORDER BY no_rec) FROM city_tab), "
        "(SELECT GROUP_CONCAT(no_rec, DatTim2 ORDER BY no_rec) FROM invoice_tab), (SELECT GROUP_CONCAT(no_rec, NRS1, "
        "DatTim2 ORDER BY no_rec) FROM rowvoi_tab), 'open', (SELECT COUNT(*) FROM city_tab WHERE SynAdd <> '4') + "
        "(SELECT COUNT(*) FROM invoice_tab WHERE SynAdd <> '4'), 'ledger', (SELECT COUNT(*) FROM atten_rec WHERE treco "
        "NOT IN ('branchsyn_tab', 'notic_tab')))"));
}

QString familyRows(const ScratchDatabase& d, const QString& table, const QString& noRec)
{
    const QString k = lit(noRec);
    auto rows = [&](const QString& label, const QString& columns, const QString& from) {
        return "CONCAT('" + label + " ', (SELECT GROUP_CONCAT(CONCAT_WS('/', " + columns + ") ORDER BY no_rec) FROM "
               + from + "))";
    };
    QStringList parts{rows("lines", "no_rec, DRS1", "rowvoi_tab WHERE NRS1 = " + k),
                      rows("serials", "no_rec, DRS1, No_seri", "seri_tab WHERE NRS1 = " + k),
                      rows("states", "no_rec, kin, No_Store, SynAdd", "serim_tab WHERE NRS1 = " + k),
                      rows("bills", "no_rec, DatTim2, SynAdd", "inbill_tab WHERE No_Bill = " + k),
                      rows("accounts", "no_rec, NRS1",
                           "rowacc_tab WHERE NoVoi_2 = " + k + " OR NRS1 IN (SELECT no_rec FROM inbill_tab WHERE No_Bill = "
                               + k + ")"),
                      rows("pictures", "no_rec, DatTim2, SynAdd",
                           "picstream_tab WHERE NoID = " + k + " AND rec_tab = " + lit(table))};
    // Every other family's detail rows, every revision.
    if (table != u"invoice_tab")
        for (const records::Member& m : records::membersOf(table))
            parts << rows(QString::fromUtf16(m.table), "no_rec, DRS1",
                          QString::fromUtf16(m.table) + " WHERE " + QString::fromUtf16(m.link) + " = " + k);
    return d.scalar("SELECT CONCAT_WS(' ', " + parts.join(", ") + ")");
}

UnlockedWrites::UnlockedWrites(const ScratchDatabase& db) : db_(db)
{
    db.exec(QStringLiteral("CREATE TABLE lock_audit (id INT AUTO_INCREMENT PRIMARY KEY, tab VARCHAR(64), op CHAR(1), "
                           "conn BIGINT)"));
    const QString lock = lit(sync::branchLockName(db.name()));
    for (const auto& row : db.query("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                                    + lit(db.name()) + " AND TABLE_TYPE = 'BASE TABLE' AND TABLE_NAME NOT IN "
                                    "('lock_audit', 'work_tab')").rows) {
        const QString t = row.at(0).toString();
        for (const char* op : {"INSERT", "UPDATE", "DELETE"})
            db.exec("CREATE TRIGGER audit_" + t + "_" + op + " AFTER " + op + " ON " + t
                    + " FOR EACH ROW IF NOT (IS_USED_LOCK(" + lock + ") <=> CONNECTION_ID()) THEN INSERT INTO "
                    "lock_audit (tab, op, conn) VALUES (" + lit(t) + ", '" + op[0] + "', CONNECTION_ID()); END IF");
    }
}

QString UnlockedWrites::take()
{
    const QString seen = db_.scalar(QStringLiteral(
        "SELECT GROUP_CONCAT(tab, ' ', op, ' by ', conn ORDER BY id SEPARATOR '; ') FROM lock_audit"));
    db_.exec(QStringLiteral("DELETE FROM lock_audit"));
    return seen;
}

void killLockHolder(const ScratchDatabase& db)
{
    const QString used = "SELECT IS_USED_LOCK(" + lit(sync::branchLockName(db.name())) + ")";
    const QString holder = db.scalar(used);
    if (holder.isEmpty())
        return;
    db.exec("KILL " + holder);
    for (int i = 0; i < 200 && db.scalar(used) == holder; ++i)
        QThread::msleep(5);
}

QString localStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
}

qint64 processMemoryKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

RigBranch::RigBranch(const QString& number_, std::unique_ptr<ScratchDatabase> database_, const ScratchDatabase& server,
                     const QString& webBase, std::chrono::milliseconds webTimeout, Tick tick_,
                     ScratchDatabase* shared)
    : number(number_),
      ownDb(std::move(database_)),
      db(shared ? *shared : *ownDb),
      database(run, lamps, [this] { pumped(); }, nullptr),
      errors(folder.path()),
      web(run, errors, [this] { pumped(); }, webTimeout),
      logs(run, [this] { return tables.Tab_Index; }),
      ctx{run, database, web, logs, errors, settings, tables, branch, vars, state, window, [this] { pumped(); },
          [this] { ++exits; }, nullptr},
      tick(tick_)
{
    const data::DbSettings s = server.settings();
    pointAt(database, run, db.settings(), &s);
    run.config.My_Branch = number;
    run.config.Riv_Server = QStringLiteral("010218");
    run.config.Url_Web = webBase;
    web.isDetailTable = sync::isDetailTable;
    run.Time_Diff = QStringLiteral("0");
    run.Kin_Yer = QStringLiteral("24");
    logs.Grid_Head_Syn();
    logs.Grid_Head_Msg();
    logs.Grid_Head_Pull();
    records::Fill_Syn_Tabs(tables, combo);
}

void RigBranch::startSync()
{
    run.Syn_Run = true;
    run.Syn_Stop = false;
    run.Syn_First = qint16(db.scalar(QStringLiteral("select SynFirst from proj_tab limit 1")).toInt());
    tables.setAllCounters(1);
    branch.Chk_Rec = 1;
    branch.Chk_Del = 1;
    state.Syn_AllPass = 1;
    state.Cnt_Check = 0;
    if (tick == Tick::Program) {
        state.Cnt_Send = -1;
        state.Cnt_Rece = -1;
        statistics(0);
    }
}

void RigBranch::cycle()
{
    branch.Bra_Only = -1;
    sync::Syn_Cycle(ctx);
    if (tick == Tick::Program)
        statistics(1);
    else
        state.Cnt_Check = 0;
}

void RigBranch::statistics(qint16 mode)
{
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // As the program's bookkeeping: a failing step is skipped and the next runs.
    sync::Save_Syn_Statistic(ctx, mode, now, now, cntCycle, [](const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception&) {
        }
    });
}

void RigBranch::pumped()
{
    ++pumps;
    if (endAtPump > 0 && pumps >= endAtPump && !ended) {
        // The process is gone: every later statement of this engine fails, every request finds
        // nobody listening, so nothing after this point takes effect.
        ended = true;
        data::failStatements(QStringLiteral("."), 1 << 30);
        run.config.Url_Web = QStringLiteral("http://127.0.0.1:9/test1/");
    }
    if (onPump)
        onPump();
}

bool RigBranch::cycleEndingAt(int pump)
{
    endAtPump = pumps + pump;
    cycle();
    endAtPump = 0;
    if (ended)
        data::clearStatementFailures();
    return ended;
}

void RigBranch::queue(const QString& table, const QString& kind)
{
    db.exec("INSERT INTO work_tab (no_rec, Ne_KinTab, Ne_Rec) VALUES ("
            + lit(QStringLiteral("%1").arg(++workSeq, 10, 10, QChar(u'0'))) + ", " + lit(table) + ", " + lit(kind) + ")");
}

void RigBranch::add(const QString& table, const QString& noRec, const Fields& fields)
{
    Fields all = fields;
    all.insert(QStringLiteral("no_rec"), noRec);
    if (!all.contains(QStringLiteral("No_Branch")))
        all.insert(QStringLiteral("No_Branch"), number);
    all.insert(QStringLiteral("SynAdd"), QStringLiteral("1"));
    all.insert(QStringLiteral("SynDele"), QStringLiteral("0"));
    if (!all.contains(QStringLiteral("DatTim1")))
        all.insert(QStringLiteral("DatTim1"), localStamp());
    if (!all.contains(QStringLiteral("Na_Rec")))
        all.insert(QStringLiteral("Na_Rec"), "سجل " + noRec);
    QStringList cols, vals;
    for (auto it = all.begin(); it != all.end(); ++it) {
        cols << it.key();
        vals << lit(it.value());
    }
    db.exec("INSERT INTO " + table + " (" + cols.join(", ") + ") VALUES (" + vals.join(", ") + ")");
    queue(table, QStringLiteral("Add"));
}

void RigBranch::edit(const QString& table, const QString& noRec, const Fields& fields)
{
    Fields all = fields;
    all.insert(QStringLiteral("SynAdd"), QStringLiteral("1"));
    all.insert(QStringLiteral("No_Branch"), fields.value(QStringLiteral("No_Branch"), number));
    if (!all.contains(QStringLiteral("DatTim1")))
        all.insert(QStringLiteral("DatTim1"), localStamp());
    QStringList sets;
    for (auto it = all.begin(); it != all.end(); ++it)
        sets << it.key() + " = " + lit(it.value());
    db.exec("UPDATE " + table + " SET " + sets.join(", ") + " WHERE no_rec = " + lit(noRec));
    queue(table, QStringLiteral("Edit"));
}

void RigBranch::remove(const QString& table, const QString& noRec)
{
    db.exec("UPDATE " + table + " SET SynDele = '1' WHERE no_rec = " + lit(noRec));
    queue(table, QStringLiteral("Delete"));
}

QString RigBranch::value(const QString& table, const QString& noRec, const QString& column) const
{
    return db.scalar("SELECT " + column + " FROM " + table + " WHERE no_rec = " + lit(noRec));
}

qint64 RigBranch::count(const QString& table, const QString& where) const
{
    return db.scalar("SELECT COUNT(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where)).toLongLong();
}

namespace {
std::vector<std::unique_ptr<ScratchDatabase>> makeDatabases(int count)
{
    std::vector<std::future<std::unique_ptr<ScratchDatabase>>> pending;
    for (int i = 0; i < count; ++i)
        pending.push_back(std::async(std::launch::async, [i] {
            return std::make_unique<ScratchDatabase>(i == 0 ? QStringLiteral("server") : QStringLiteral("branch"));
        }));
    std::vector<std::unique_ptr<ScratchDatabase>> out;
    for (auto& p : pending)
        out.push_back(p.get());
    return out;
}
}  // namespace

SyncRig::SyncRig(int branchCount, std::chrono::milliseconds webTimeout, Tick tick)
    : databases_(makeDatabases(branchCount + 1)), webTimeout_(webTimeout), tick_(tick), server(*databases_[0])
{
    QStringList numbers;
    for (int i = 1; i <= branchCount; ++i)
        numbers << QStringLiteral("%1").arg(i, 2, 10, QChar(u'0'));
    seedBranches(server, numbers);
    for (const QString& n : numbers) {
        auto b = std::make_unique<RigBranch>(n, std::move(databases_[size_t(n.toInt())]), server, web.baseUrl(),
                                             webTimeout_, tick_);
        seedBranches(b->db, numbers);
        b->db.exec("INSERT INTO proj_tab (no_rec, No_Branch, SynAdd, SynDele, branch, SynFirst, No_Riv, KinYer) "
                   "VALUES ('1', " + lit(n) + ", '0', '0', " + lit(n) + ", '0', '01.02.18', '2024')");
        b->startSync();
        branches.push_back(std::move(b));
    }
}

RigBranch& SyncRig::addNewBranch(const QString& number)
{
    QStringList numbers;
    for (const auto& b : branches)
        numbers << b->number;
    seedBranches(server, {number}, QStringLiteral("4"));
    auto b = std::make_unique<RigBranch>(number, std::make_unique<ScratchDatabase>(QStringLiteral("branch")), server,
                                         web.baseUrl(), webTimeout_, tick_);
    b->db.exec("INSERT INTO proj_tab (no_rec, No_Branch, SynAdd, SynDele, branch, SynFirst, No_Riv, KinYer) "
               "VALUES ('1', " + lit(number) + ", '0', '0', " + lit(number) + ", '1', '01.02.18', '2024')");
    b->startSync();
    branches.push_back(std::move(b));
    return *branches.back();
}

RigBranch& SyncRig::restart(size_t index)
{
    std::unique_ptr<RigBranch>& old = branches.at(index);
    auto fresh = std::make_unique<RigBranch>(old->number, std::move(old->ownDb), server, web.baseUrl(), webTimeout_, tick_);
    fresh->workSeq = old->workSeq;
    fresh->startSync();
    old = std::move(fresh);
    return *old;
}

bool SyncRig::round()
{
    const QString before = fingerprint();
    const qint64 faults = web.faultsTaken();
    for (auto& b : branches)
        b->cycle();
    return fingerprint() != before || web.faultsTaken() != faults;
}

bool SyncRig::round(const QString& order)
{
    const QString before = fingerprint();
    const qint64 faults = web.faultsTaken();
    for (const QChar c : order)
        branches.at(size_t(c.unicode() - u'A'))->cycle();
    return fingerprint() != before || web.faultsTaken() != faults;
}

int SyncRig::settle(int maxRounds)
{
    for (int i = 1; i <= maxRounds; ++i) {
        if (round())
            continue;
        // A request the web service still delays does its work later: the rounds go on after it.
        if (web.delayedInFlight() == 0)
            return i;
        web.waitForDelayed(std::chrono::minutes(2));
    }
    return -1;
}

QString SyncRig::serverValue(const QString& table, const QString& noRec, const QString& column) const
{
    return server.scalar("SELECT " + column + " FROM " + table + " WHERE no_rec = " + lit(noRec));
}

qint64 SyncRig::serverCount(const QString& table, const QString& where) const
{
    return server.scalar("SELECT COUNT(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where)).toLongLong();
}

namespace {
const QString kNotStatistics = QStringLiteral("treco NOT IN ('branchsyn_tab', 'notic_tab')");
}

qint64 SyncRig::exchangeRows(const ScratchDatabase& db) const
{
    return db.scalar("SELECT COUNT(*) FROM atten_rec" + (tick_ == Tick::Program ? " WHERE " + kNotStatistics : QString()))
        .toLongLong();
}

QString SyncRig::fingerprint() const
{
    QStringList tables = tableNames();
    if (tick_ == Tick::Program)
        tables.removeIf([](const QString& t) { return t == u"branchsyn_tab" || t == u"notic_tab"; });
    const QString statement = "CHECKSUM TABLE " + tables.join(", ") + (tick_ == Tick::Engine ? ", atten_rec" : "");
    const QString ledger = "SELECT COUNT(*), COALESCE(BIT_XOR(CRC32(CONCAT_WS('|', id, NoRec, treco, branch, SynLast, "
                           "kin1, kin2, kin3, mainbranch, DTNow))), 0) FROM atten_rec WHERE " + kNotStatistics;
    QString out;
    auto add = [&](const ScratchDatabase& d) {
        for (const auto& row : d.query(statement).rows)
            out += row.at(1).toString() + u',';
        if (tick_ == Tick::Program)
            for (const auto& row : d.query(ledger).rows)
                out += row.at(0).toString() + u'/' + row.at(1).toString();
        out += u'|';
    };
    add(server);
    for (const auto& b : branches)
        add(b->db);
    return out;
}

}  // namespace tarvelo::test
