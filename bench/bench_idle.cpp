// Idle cycles: three branches and the server hold the same records and nothing changes anywhere;
// branch A then runs 2,000 cycles. Prints the time and the statements per cycle and the process's
// resident memory before and after them, which must stay flat.
//
//   bench_idle [cycles = 2000]
//
// Run it with the environment scripts/bench.sh sets up (tests/support/mariadb.sh).
#include "support/sync_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace tarvelo;
using namespace tarvelo::test;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = std::max(1, app.arguments().value(1, QStringLiteral("2000")).toInt());

    SyncRig rig;
    RigBranch& a = rig.A();
    for (int i = 1; i <= 20; ++i)
        a.add(QStringLiteral("city_tab"), QStringLiteral("01%1").arg(i, 7, 10, QChar(u'0')));
    for (auto& b : rig.branches)
        b->startSync();
    if (rig.settle() < 0) {
        std::fprintf(stderr, "bench_idle: the branches did not settle\n");
        return 1;
    }
    // A few cycles first, so that what every first cycle sets up once does not count as growth.
    for (int i = 0; i < 20; ++i)
        a.cycle();
    rig.web.clearRequests();

    const qint64 before = processMemoryKb("VmRSS");
    const data::OdbcCounters start = data::odbcCounters();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < cycles; ++i)
        a.cycle();
    const double secs = t.nsecsElapsed() / 1e9;
    const data::OdbcCounters end = data::odbcCounters();
    const qint64 after = processMemoryKb("VmRSS");

    std::printf("%d idle cycles of branch A: %.2f ms per cycle; per cycle %.2f statements, %.3f sessions opened, "
                "%.2f pings, %.2f web requests\n",
                cycles, secs * 1000 / cycles, double(end.statements - start.statements) / cycles,
                double(end.connects - start.connects) / cycles, double(end.pings - start.pings) / cycles,
                double(rig.web.requests().size()) / cycles);
    std::printf("resident memory: %.1f MB before, %.1f MB after, growth %lld kB (%.2f kB per cycle)\n", before / 1024.0,
                after / 1024.0, (long long)(after - before), double(after - before) / cycles);
    return 0;
}
