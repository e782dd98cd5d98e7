// Selects per second through the database calls, on the side's held connection and with a fresh
// connection per call. Uses the test server whose coordinates are exported (TARVELO_TEST_DB_*, as
// scripts/bench.sh and tests/support/mariadb.sh export them), or starts a private one when none is.
#include "data/database.h"
#include "support/private_mariadb.h"
#include "support/test_db.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace tarvelo;

namespace {

// `rounds` selects after a short warm-up; selects per second, 0 when any failed.
double measure(const QString& database, bool fresh, int rounds)
{
    data::RunState run;
    data::LampsModel lamps;
    data::Database calls(run, lamps, {}, nullptr);
    calls.freshConnectionPerCall = fresh;
    test::pointAt(calls, run, test::TestServer::get().settings(database));
    data::RecordsetVar rs;
    const auto select = [&] { return calls.Open_Rs_Loc(rs, QStringLiteral("branch_tab"), QStringLiteral("where SynAdd = '1'")); };
    for (int i = 0; i < 20; ++i)
        select();
    QElapsedTimer t;
    t.start();
    int ok = 0;
    for (int i = 0; i < rounds; ++i)
        ok += select() ? 1 : 0;
    return ok == rounds ? rounds / (t.nsecsElapsed() / 1e9) : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    QTemporaryDir dirs;
    std::unique_ptr<test::PrivateMariaDb> own;
    try {
        if (!std::getenv("TARVELO_TEST_DB_HOST")) {
            std::printf("no test server exported: starting one of our own\n");
            test::writeOdbcInst(dirs.path());
            ::setenv("ODBCSYSINI", dirs.path().toLocal8Bit().constData(), 1);
            own = std::make_unique<test::PrivateMariaDb>();
            const data::DbSettings s = own->settings(QString());
            ::setenv("TARVELO_TEST_DB_HOST", s.host.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_PORT", s.port.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_USER", s.user.toLocal8Bit().constData(), 1);
            ::setenv("TARVELO_TEST_DB_PASSWORD", s.password.toLocal8Bit().constData(), 1);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_selects: %s\n", e.what());
        return 1;
    }

    test::ScratchDatabase db(QStringLiteral("bench"));
    db.exec(QStringLiteral("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd) VALUES ('01','01','0'),('02','02','1')"));

    std::printf("selects through the database calls, %d rounds each:\n", rounds);
    double best[2] = {0, 0};
    // Alternating runs, best of three each, so that a busy moment of the machine does not decide.
    for (int pass = 0; pass < 3; ++pass) {
        for (int fresh = 0; fresh < 2; ++fresh) {
            const double perSecond = measure(db.name(), fresh != 0, rounds);
            if (perSecond <= 0) {
                std::fprintf(stderr, "bench_selects: a select failed\n");
                return 1;
            }
            std::printf("  %-24s %8.1f selects/s (%6.0f us each)\n", fresh ? "fresh connection per call" : "held connection",
                        perSecond, 1e6 / perSecond);
            best[fresh] = std::max(best[fresh], perSecond);
        }
    }
    std::printf("best: held %.1f selects/s, fresh per call %.1f selects/s, held/fresh %.2fx\n", best[0], best[1],
                best[0] / best[1]);
    return 0;
}
