// The whole exchange of many records between three branches: A adds them, cycles run A, B, C until
// every branch holds them all, every exchange is closed and every ledger is empty. Prints records
// per second for A's send, B's receive and the whole exchange, the process's peak resident memory,
// and per record the sessions opened, statements sent and web requests made by the engines, with the
// resolution's answer selects, the ledger update's key look-ups and the LAST_INSERT_ID reads; once
// with held connections and once with a fresh connection per call, each in its own process. Runs
// at the given sizes and again with 5,000 plain rows; first with MariaDB's durable default
// (innodb_flush_log_at_trx_commit=1: every commit flushed to disk, as on a branch's server), then,
// when the server runs otherwise (the test server's relaxed 0), with the server's own setting.
//
//   bench_engine [plain rows = 1000] [invoices = 50] [lines per invoice = 5]
//
// Run it with the environment scripts/test.sh sets up (tests/support/mariadb.sh).
#include "data/odbc.h"
#include "support/sync_rig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstdlib>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

struct Figures {
    qint64 records = 0;
    double sendSecs = 0, receSecs = 0, totalSecs = 0;
    qint64 connections = 0, statements = 0, pings = 0, requests = 0, cycles = 0, peakKb = 0;
    qint64 answerSelects = 0, keyLookups = 0, insertIds = 0;
};

// The engines' own database work: only what runs inside their cycles, on this thread, counts.
struct EngineCounters {
    data::OdbcCounters sum;
    void cycle(RigBranch& b)
    {
        const data::OdbcCounters before = data::odbcCounters();
        b.cycle();
        const data::OdbcCounters after = data::odbcCounters();
        sum.connects += after.connects - before.connects;
        sum.statements += after.statements - before.statements;
        sum.pings += after.pings - before.pings;
    }
};


void insertRows(RigBranch& a, const QString& table, const QStringList& rows, const QString& columns)
{
    for (qsizetype i = 0; i < rows.size(); i += 500)
        a.db.exec("INSERT INTO " + table + " (" + columns + ") VALUES " + rows.mid(i, 500).join(u','));
}

bool allHeld(RigBranch& b, qint64 plain, qint64 invoices, qint64 lines)
{
    return b.count("city_tab") == plain && b.count("invoice_tab") == invoices && b.count("rowvoi_tab") == lines;
}

Figures runWorkload(int plain, int invoices, int lines, bool fresh)
{
    SyncRig rig;
    for (auto& br : rig.branches)
        br->database.freshConnectionPerCall = fresh;
    EngineCounters engines;
    RigBranch& a = rig.A();
    RigBranch& b = rig.B();
    const QString stamp = localStamp();
    const QString common = QStringLiteral("no_rec, No_Branch, SynAdd, SynDele, DatTim1, Na_Rec");
    QStringList rows;
    for (int i = 1; i <= plain; ++i)
        rows << QStringLiteral("('01%1','01','1','0','%2','مدينة %1')").arg(i, 7, 10, QChar(u'0')).arg(stamp);
    insertRows(a, QStringLiteral("city_tab"), rows, common);
    rows.clear();
    QStringList details;
    for (int i = 1; i <= invoices; ++i) {
        const QString no = QStringLiteral("2401%1").arg(i, 6, 10, QChar(u'0'));
        rows << QStringLiteral("('%1','01','1','0','%2','فاتورة','r1','%3','0','0')").arg(no, stamp).arg(lines);
        for (int l = 1; l <= lines; ++l)
            details << QStringLiteral("('%1%2','01','1','0','%3','سطر','%1','r1')").arg(no).arg(l, 2, 10, QChar(u'0')).arg(stamp);
    }
    insertRows(a, QStringLiteral("invoice_tab"), rows, common + ", DRS1, CRS1, CRS2, CRS3");
    insertRows(a, QStringLiteral("rowvoi_tab"), details, common + ", NRS1, DRS1");
    a.queue(QStringLiteral("city_tab"), QStringLiteral("Add"));
    a.queue(QStringLiteral("invoice_tab"), QStringLiteral("Add"));

    Figures f;
    f.records = qint64(plain) + invoices + qint64(invoices) * lines;
    // Statement shapes that grow with the ledger when answers or keys are looked up one by one.
    data::observeStatements([&f](const QString&, const QString& sql) {
        if (sql.startsWith(u"select * from atten_rec where treco = "))
            ++f.answerSelects;
        else if (sql.startsWith(u"select * from atten_rec where NoRec  = ") && sql.contains(u" and branch  = "))
            ++f.keyLookups;
        else if (sql.contains(u"LAST_INSERT_ID()"))
            ++f.insertIds;
    });
    rig.web.clearRequests();
    QElapsedTimer total;
    total.start();

    QElapsedTimer t;
    t.start();
    while (a.count("city_tab", "SynAdd IN ('1','5')") + a.count("invoice_tab", "SynAdd IN ('1','5')")
               + a.count("rowvoi_tab", "SynAdd IN ('1','5')")
           > 0) {
        engines.cycle(a);
        ++f.cycles;
    }
    f.sendSecs = t.nsecsElapsed() / 1e9;

    t.restart();
    while (!allHeld(b, plain, invoices, qint64(invoices) * lines)) {
        engines.cycle(b);
        ++f.cycles;
    }
    f.receSecs = t.nsecsElapsed() / 1e9;

    auto finished = [&] {
        if (rig.server.scalar(QStringLiteral("SELECT COUNT(*) FROM atten_rec")) != u"0")
            return false;
        for (const auto& br : rig.branches)
            if (!allHeld(*br, plain, invoices, qint64(invoices) * lines)
                || br->count("atten_rec") != 0
                || br->count("city_tab", "SynAdd <> '4'") + br->count("invoice_tab", "SynAdd <> '4'") != 0)
                return false;
        return true;
    };
    while (!finished()) {
        for (auto& br : rig.branches)
            engines.cycle(*br);
        f.cycles += qint64(rig.branches.size());
        if (f.cycles > 100000)
            break;
    }
    f.totalSecs = total.nsecsElapsed() / 1e9;
    data::observeStatements({});
    f.connections = engines.sum.connects;
    f.statements = engines.sum.statements;
    f.pings = engines.sum.pings;
    f.requests = rig.web.requests().size();
    f.peakKb = processMemoryKb("VmHWM");
    return f;
}

bool runChild(const QString& self, int plain, int invoices, int lines, bool fresh, Figures& out)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, {QStringLiteral("--child"), fresh ? QStringLiteral("fresh") : QStringLiteral("held"),
                       QString::number(plain), QString::number(invoices), QString::number(lines)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return false;
    const QString line = QString::fromUtf8(child.readAllStandardOutput()).trimmed().section(u'\n', -1);
    const QStringList v = line.split(u' ');
    if (v.size() != 14 || v[0] != u"RESULT")
        return false;
    out.records = v[1].toLongLong();
    out.sendSecs = v[2].toDouble();
    out.receSecs = v[3].toDouble();
    out.totalSecs = v[4].toDouble();
    out.connections = v[5].toLongLong();
    out.statements = v[6].toLongLong();
    out.requests = v[7].toLongLong();
    out.cycles = v[8].toLongLong();
    out.peakKb = v[9].toLongLong();
    out.pings = v[10].toLongLong();
    out.answerSelects = v[11].toLongLong();
    out.keyLookups = v[12].toLongLong();
    out.insertIds = v[13].toLongLong();
    return true;
}

void print(const char* mode, const Figures& f, int plain, int invoices, int lines)
{
    const double perRecord = f.records > 0 ? 1.0 / double(f.records) : 0;
    std::printf("  %-26s whole exchange %.1f rec/s (%.1f s, %lld cycles); A's send %.1f rec/s; B's receive %.1f rec/s; "
                "peak RSS %.1f MB; per record %.3f sessions opened, %.1f statements, %.1f pings, %.2f web requests; "
                "%lld answer selects, %lld ledger key look-ups, %lld LAST_INSERT_ID\n",
                mode, f.records / f.totalSecs, f.totalSecs, (long long)f.cycles, f.records / f.sendSecs,
                double(plain + invoices + invoices * lines) / f.receSecs, f.peakKb / 1024.0, f.connections * perRecord,
                f.statements * perRecord, f.pings * perRecord, f.requests * perRecord, (long long)f.answerSelects,
                (long long)f.keyLookups, (long long)f.insertIds);
}

// The whole exchange at the given sizes and at 5,000 plain rows, with held connections and with a
// fresh connection per call; false when a run failed.
bool runSizes(const QString& self, int plain, int invoices, int lines)
{
    double heldRate[2] = {0, 0};
    const int sizes[2] = {plain, 5000};
    for (int s = 0; s < 2; ++s) {
        if (s == 1 && sizes[1] == sizes[0])
            break;
        std::printf("%d plain rows, %d invoices with %d lines each, added in A; cycles A, B, C until all is closed\n",
                    sizes[s], invoices, lines);
        std::fflush(stdout);
        Figures held, fresh;
        if (!runChild(self, sizes[s], invoices, lines, false, held)) {
            std::fprintf(stderr, "the run with held connections failed\n");
            return false;
        }
        print("held connections", held, sizes[s], invoices, lines);
        std::fflush(stdout);
        if (!runChild(self, sizes[s], invoices, lines, true, fresh)) {
            std::fprintf(stderr, "the run with a fresh connection per call failed\n");
            return false;
        }
        print("fresh connection per call", fresh, sizes[s], invoices, lines);
        heldRate[s] = held.records / held.totalSecs;
        std::printf("  held connections run the whole exchange %.2fx as fast\n", fresh.totalSecs / held.totalSecs);
        std::fflush(stdout);
    }
    if (heldRate[1] > 0)
        std::printf("held connections at %d plain rows: %.2f of the rate at %d\n", sizes[1], heldRate[1] / heldRate[0],
                    sizes[0]);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args.first() == u"--child") {
        const Figures f = runWorkload(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[1] == u"fresh");
        std::printf("RESULT %lld %.3f %.3f %.3f %lld %lld %lld %lld %lld %lld %lld %lld %lld\n", (long long)f.records, f.sendSecs,
                    f.receSecs, f.totalSecs, (long long)f.connections, (long long)f.statements, (long long)f.requests,
                    (long long)f.cycles, (long long)f.peakKb, (long long)f.pings, (long long)f.answerSelects,
                    (long long)f.keyLookups, (long long)f.insertIds);
        return 0;
    }
    const int plain = args.value(0, QStringLiteral("1000")).toInt();
    const int invoices = args.value(1, QStringLiteral("50")).toInt();
    const int lines = args.value(2, QStringLiteral("5")).toInt();

    // The server's own setting, and the durable one first. The setting is global: the children
    // run under it, and it is given back at the end.
    ScratchDatabase admin(QStringLiteral("bench"), false);
    const QString own = admin.scalar(QStringLiteral("SELECT @@GLOBAL.innodb_flush_log_at_trx_commit"));
    QStringList settings{QStringLiteral("1")};
    if (own != u"1")
        settings << own;
    bool ok = true;
    for (const QString& setting : settings) {
        try {
            admin.exec("SET GLOBAL innodb_flush_log_at_trx_commit = " + setting);
        } catch (const std::exception& e) {
            std::printf("innodb_flush_log_at_trx_commit can't be set (%s): the server's own setting only\n", e.what());
            if (setting != own)
                continue;
        }
        std::printf("== innodb_flush_log_at_trx_commit=%s (%s)\n", qPrintable(setting),
                    setting == u"1" ? "durable, MariaDB's default: every commit flushed to disk"
                                    : "relaxed, as the test server runs");
        std::fflush(stdout);
        if (!(ok = runSizes(app.applicationFilePath(), plain, invoices, lines)))
            break;
    }
    try {
        admin.exec("SET GLOBAL innodb_flush_log_at_trx_commit = " + own);
    } catch (const std::exception&) {
    }
    return ok ? 0 : 1;
}
