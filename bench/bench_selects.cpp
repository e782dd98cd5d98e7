// Selects per second through the database calls, each with its fresh connection, against a
// scratch database of the test server. Run it with the environment scripts/test.sh sets up.
#include "data/database.h"
#include "support/test_db.h"

#include <QElapsedTimer>
#include <cstdio>

using namespace tarvelo;

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 500;
    test::ScratchDatabase db(QStringLiteral("bench"));
    db.exec(QStringLiteral("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd) VALUES ('01','01','0'),('02','02','1')"));

    data::RunState run;
    data::LampsModel lamps;
    data::Database calls(run, lamps, {}, nullptr);
    test::pointAt(calls, run, db.settings());

    data::RecordsetVar rs;
    QElapsedTimer t;
    t.start();
    int ok = 0;
    for (int i = 0; i < rounds; ++i)
        ok += calls.Open_Rs_Loc(rs, QStringLiteral("branch_tab"), QStringLiteral("where SynAdd = '1'")) ? 1 : 0;
    const double secs = t.nsecsElapsed() / 1e9;
    std::printf("selects: %d of %d succeeded in %.3f s: %.1f selects/s (fresh connection each)\n", ok, rounds, secs,
                rounds / secs);
    return ok == rounds ? 0 : 1;
}
