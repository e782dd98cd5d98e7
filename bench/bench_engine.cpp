// The whole exchange of many records between three branches: A adds them, cycles run A, B, C until
// every branch holds them all, every exchange is closed and every ledger is empty. Prints records
// per second for A's send, B's receive and the whole exchange; database connections, web requests
// and statements per record; the resolution's answer selects, the ledger update's key look-ups
// and the LAST_INSERT_ID reads. Once with the driver manager's connection pooling and once
// without, each in its own process (the pool is process-wide and fixed by odbcinst.ini when the
// process starts).
//
//   bench_engine [plain rows = 10000] [invoices = 500] [lines per invoice = 5]
//
// Run it with the environment scripts/test.sh sets up (tests/support/mariadb.sh).
#include "data/odbc.h"
#include "support/sync_rig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

struct Figures {
    qint64 records = 0;
    double sendSecs = 0, receSecs = 0, totalSecs = 0;
    qint64 connections = 0, logicalConnections = 0, requests = 0, cycles = 0;
    qint64 statements = 0, answerSelects = 0, keyLookups = 0, insertIds = 0;
};

qint64 serverConnections(const ScratchDatabase& db)
{
    const data::ResultData r = db.query(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Connections'"));
    return r.rows.empty() ? 0 : r.rows[0][1].toLongLong();
}

void insertRows(RigBranch& a, const QString& table, const QStringList& rows, const QString& columns)
{
    for (qsizetype i = 0; i < rows.size(); i += 500)
        a.db.exec("INSERT INTO " + table + " (" + columns + ") VALUES " + rows.mid(i, 500).join(u','));
}

bool allHeld(RigBranch& b, qint64 plain, qint64 invoices, qint64 lines)
{
    return b.count("city_tab") == plain && b.count("invoice_tab") == invoices && b.count("rowvoi_tab") == lines;
}

Figures runWorkload(int plain, int invoices, int lines)
{
    SyncRig rig;
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
    // The engine's statements (on this thread: the web service's own are not counted), among them
    // the resolution's answer counts and the ledger update's look-ups of one key.
    data::observeStatements([&f](const QString&, const QString& sql) {
        if (sql == u"CONNECT")
            return;
        ++f.statements;
        if (sql.startsWith(u"select * from atten_rec where treco = "))
            ++f.answerSelects;
        else if (sql.startsWith(u"select * from atten_rec where NoRec  = ") && sql.contains(u" and branch  = "))
            ++f.keyLookups;
        else if (sql.contains(u"LAST_INSERT_ID()"))
            ++f.insertIds;
    });
    const qint64 conns0 = serverConnections(rig.server);
    rig.web.clearRequests();
    QElapsedTimer total;
    total.start();

    QElapsedTimer t;
    t.start();
    while (a.count("city_tab", "SynAdd IN ('1','5')") + a.count("invoice_tab", "SynAdd IN ('1','5')")
               + a.count("rowvoi_tab", "SynAdd IN ('1','5')")
           > 0) {
        a.cycle();
        ++f.cycles;
    }
    f.sendSecs = t.nsecsElapsed() / 1e9;

    t.restart();
    while (!allHeld(b, plain, invoices, qint64(invoices) * lines)) {
        b.cycle();
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
            br->cycle();
        f.cycles += qint64(rig.branches.size());
        if (f.cycles > 100000)
            break;
    }
    f.totalSecs = total.nsecsElapsed() / 1e9;
    data::observeStatements({});
    f.connections = serverConnections(rig.server) - conns0;
    f.requests = rig.web.requests().size();
    return f;
}

QString driverLibrary()
{
    QFile ini(QDir(qEnvironmentVariable("ODBCSYSINI")).filePath(QStringLiteral("odbcinst.ini")));
    if (!ini.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Driver\\s*=\\s*(.+)$"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(ini.readAll()));
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

bool runChild(const QString& self, const QStringList& args, bool pooled, Figures& out)
{
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
    ini.open(QIODevice::WriteOnly);
    QString text;
    if (pooled)
        text += QStringLiteral("[ODBC]\nPooling=Yes\n\n");
    text += QStringLiteral("[mySQL ODBC 3.51 Driver]\nDescription=MariaDB Connector/ODBC\nDriver=%1\n").arg(driverLibrary());
    if (pooled)
        text += QStringLiteral("CPTimeout=60\n");
    ini.write(text.toUtf8());
    ini.close();
    QFile(dir.filePath(QStringLiteral("odbc.ini"))).open(QIODevice::WriteOnly);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ODBCSYSINI"), dir.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, QStringList{QStringLiteral("--child")} + args);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return false;
    const QString line = QString::fromUtf8(child.readAllStandardOutput()).trimmed().section(u'\n', -1);
    const QStringList v = line.split(u' ');
    if (v.size() != 12 || v[0] != u"RESULT")
        return false;
    out.records = v[1].toLongLong();
    out.sendSecs = v[2].toDouble();
    out.receSecs = v[3].toDouble();
    out.totalSecs = v[4].toDouble();
    out.connections = v[5].toLongLong();
    out.requests = v[6].toLongLong();
    out.cycles = v[7].toLongLong();
    out.statements = v[8].toLongLong();
    out.answerSelects = v[9].toLongLong();
    out.keyLookups = v[10].toLongLong();
    out.insertIds = v[11].toLongLong();
    return true;
}

void print(const char* mode, const Figures& f, int plain, int invoices, int lines)
{
    const double perRecord = f.records > 0 ? 1.0 / double(f.records) : 0;
    std::printf("%-9s %lld records; A's send %.1f rec/s (%.1f s); B's receive %.1f rec/s (%.1f s); "
                "whole exchange %.1f rec/s (%.1f s, %lld cycles); %.2f server connections and %.2f web requests "
                "per record; %.1f statements per record, %lld answer counts, %lld ledger key look-ups, %lld LAST_INSERT_ID\n",
                mode, (long long)f.records, f.records / f.sendSecs, f.sendSecs,
                double(plain + invoices + invoices * lines) / f.receSecs, f.receSecs, f.records / f.totalSecs,
                f.totalSecs, (long long)f.cycles, f.connections * perRecord, f.requests * perRecord,
                f.statements * perRecord, (long long)f.answerSelects, (long long)f.keyLookups, (long long)f.insertIds);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool child = !args.isEmpty() && args.first() == u"--child";
    if (child)
        args.removeFirst();
    const int plain = args.value(0, QStringLiteral("10000")).toInt();
    const int invoices = args.value(1, QStringLiteral("500")).toInt();
    const int lines = args.value(2, QStringLiteral("5")).toInt();

    if (child) {
        const Figures f = runWorkload(plain, invoices, lines);
        std::printf("RESULT %lld %.3f %.3f %.3f %lld %lld %lld %lld %lld %lld %lld\n", (long long)f.records, f.sendSecs,
                    f.receSecs, f.totalSecs, (long long)f.connections, (long long)f.requests, (long long)f.cycles,
                    (long long)f.statements, (long long)f.answerSelects, (long long)f.keyLookups,
                    (long long)f.insertIds);
        return 0;
    }

    std::printf("%d plain rows, %d invoices with %d lines each, added in A; cycles A, B, C until all is closed\n",
                plain, invoices, lines);
    std::fflush(stdout);
    Figures pooled, unpooled;
    if (!runChild(app.applicationFilePath(), args, true, pooled)) {
        std::fprintf(stderr, "the pooled run failed\n");
        return 1;
    }
    print("pooled", pooled, plain, invoices, lines);
    std::fflush(stdout);
    if (!runChild(app.applicationFilePath(), args, false, unpooled)) {
        std::fprintf(stderr, "the unpooled run failed\n");
        return 1;
    }
    print("unpooled", unpooled, plain, invoices, lines);
    std::printf("pooling speeds the whole exchange up %.2fx\n", unpooled.totalSecs / pooled.totalSecs);
    return 0;
}
