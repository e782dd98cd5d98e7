// Selects per second through the database calls, each call with its fresh connection, once with
// the driver manager pooling physical connections and once without. Pooling is process-wide and
// read once, so each runs in a child process of its own with its own driver list (ODBCSYSINI).
// Uses the test server whose coordinates are exported (TARVELO_TEST_DB_*, as scripts/bench.sh
// and tests/support/mariadb.sh export them), or starts a private one when none is.
#include "data/database.h"
#include "support/private_mariadb.h"
#include "support/test_db.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace tarvelo;

namespace {

const char* const kDatabaseVar = "TARVELO_BENCH_DATABASE";

// In the child: `rounds` selects after a short warm-up; prints "<succeeded> <seconds>".
int measure(int rounds)
{
    data::RunState run;
    data::LampsModel lamps;
    data::Database calls(run, lamps, {}, nullptr);
    test::pointAt(calls, run, test::TestServer::get().settings(QString::fromLocal8Bit(std::getenv(kDatabaseVar))));
    data::RecordsetVar rs;
    const auto select = [&] { return calls.Open_Rs_Loc(rs, QStringLiteral("branch_tab"), QStringLiteral("where SynAdd = '1'")); };
    for (int i = 0; i < 20; ++i)
        select();
    QElapsedTimer t;
    t.start();
    int ok = 0;
    for (int i = 0; i < rounds; ++i)
        ok += select() ? 1 : 0;
    std::printf("%d %.6f\n", ok, t.nsecsElapsed() / 1e9);
    return ok == rounds ? 0 : 1;
}

struct Figure {
    bool ok = false;
    double perSecond = 0;
};

Figure runChild(const char* self, const QString& odbcDir, const QString& database, int rounds)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ODBCSYSINI"), odbcDir);
    env.insert(QString::fromLatin1(kDatabaseVar), database);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QString::fromLocal8Bit(self), {QStringLiteral("--measure"), QString::number(rounds)});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit)
        return {};
    const QStringList parts = QString::fromLatin1(child.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
    if (parts.size() != 2 || parts[0].toInt() != rounds || parts[1].toDouble() <= 0)
        return {};
    return {true, rounds / parts[1].toDouble()};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--measure") == 0)
        return measure(std::atoi(argv[2]));
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    QTemporaryDir dirs;
    const QString pooled = dirs.path() + QStringLiteral("/pooled"), unpooled = dirs.path() + QStringLiteral("/unpooled");
    std::unique_ptr<test::PrivateMariaDb> own;
    try {
        test::writeOdbcInst(pooled, true);
        test::writeOdbcInst(unpooled, false);
        if (!std::getenv("TARVELO_TEST_DB_HOST")) {
            std::printf("no test server exported: starting one of our own\n");
            own = std::make_unique<test::PrivateMariaDb>();
            const data::DbSettings s = own->settings(QString());
            ::setenv("TARVELO_TEST_DB_HOST", s.host.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_PORT", s.port.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_USER", s.user.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_PASSWORD", s.password.toLocal8Bit().constData(), 1);
            ::setenv("ODBCSYSINI", unpooled.toLocal8Bit().constData(), 1);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_selects: %s\n", e.what());
        return 1;
    }

    test::ScratchDatabase db(QStringLiteral("bench"));
    db.exec(QStringLiteral("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd) VALUES ('01','01','0'),('02','02','1')"));

    std::printf("selects through the database calls, a fresh connection per call, %d rounds each:\n", rounds);
    Figure best[2];
    // Alternating runs, best of three each, so that a busy moment of the machine does not decide.
    for (int pass = 0; pass < 3; ++pass) {
        for (int p = 0; p < 2; ++p) {
            const Figure f = runChild(argv[0], p ? pooled : unpooled, db.name(), rounds);
            if (!f.ok) {
                std::fprintf(stderr, "bench_selects: the %s run failed\n", p ? "pooled" : "unpooled");
                return 1;
            }
            std::printf("  %-8s %8.1f selects/s (%6.0f us each)\n", p ? "pooled" : "unpooled", f.perSecond,
                        1e6 / f.perSecond);
            if (f.perSecond > best[p].perSecond)
                best[p] = f;
        }
    }
    std::printf("best: unpooled %.1f selects/s, pooled %.1f selects/s, pooled/unpooled %.2fx\n", best[0].perSecond,
                best[1].perSecond, best[1].perSecond / best[0].perSecond);
    return 0;
}
