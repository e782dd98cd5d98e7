#include "support/sync_rig.h"
#include "sync/engine.h"

#include "data/odbc.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

int slot(RigBranch& b, const char16_t* table)
{
    return b.tables.slotOf(table);
}

// Rows written straight into a table, as many as a long day's work, with one change-queue row.
void bulkAdd(RigBranch& b, const QString& table, int count)
{
    QStringList values;
    const QString stamp = localStamp();
    for (int i = 1; i <= count; ++i)
        values << QStringLiteral("('%1%2', '%1', '1', '0', '%3', 'row %2')").arg(b.number).arg(i, 5, 10, QChar(u'0')).arg(stamp);
    b.db.exec("INSERT INTO " + table + " (no_rec, No_Branch, SynAdd, SynDele, DatTim1, Na_Rec) VALUES " + values.join(", "));
    b.queue(table, "Add");
}

}  // namespace

TEST(Cycle, HandOverEndsTheProgramUnlessTheCallerKeepsItRunning)
{
    SyncRig rig(1);
    RigBranch& a = rig.A();
    a.state.Name_Tab = "Acc";
    a.add("city_tab", "0100001");
    a.cycle();
    EXPECT_EQ(a.exits, 1) << "no ClosSyn stored";
    EXPECT_EQ(rig.serverCount("city_tab"), 0) << "nothing runs after the exit";

    a.state.Program_Ended = false;
    a.settings.write("Tarvelo", "Settings", "ClosSyn", "1");
    a.cycle();
    EXPECT_EQ(a.exits, 1);
    EXPECT_EQ(rig.serverCount("city_tab"), 1);
    EXPECT_EQ(a.window.Text4567.text(), "MakData5");
}

TEST(Cycle, ProgressBarsFollowTheTableIndexWithTheOffsetsOfTheSecond)
{
    SyncRig rig(1);
    RigBranch& a = rig.A();
    a.ctx.clock = [] { return QDateTime(QDate(2024, 1, 1), QTime(10, 0, 3)); };
    a.window.LabD.setWindowWidth(6200);
    sync::Show_Progress(a.ctx, 0);
    EXPECT_EQ(a.window.LabD.barWidth(0), 100);
    EXPECT_EQ(a.window.LabD.barWidth(4), 200);
    EXPECT_EQ(a.window.LabD.markerLeft(1), -100);
    sync::Show_Progress(a.ctx, 62);
    EXPECT_EQ(a.window.LabD.barWidth(2), 6250);
    EXPECT_EQ(a.window.LabD.markerLeft(2), 6150);
}

TEST(Cycle, BranchOfKindOtherThanZeroCarriesOnlyTheBranchList)
{
    SyncRig rig(2);
    rig.A().db.exec("UPDATE branch_tab SET kinSyn = '1' WHERE no_rec = '01'");
    rig.A().add("city_tab", "0100001");
    rig.B().add("city_tab", "0200001");
    rig.round();
    rig.round();
    EXPECT_EQ(rig.serverCount("city_tab", "no_rec = '0100001'"), 0);
    EXPECT_EQ(rig.A().count("city_tab", "no_rec = '0200001'"), 0);
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "1");

    rig.A().db.exec("UPDATE branch_tab SET kinSyn = '0' WHERE no_rec = '01'");
    rig.round();
    EXPECT_EQ(rig.serverCount("city_tab", "no_rec = '0100001'"), 1);
    EXPECT_EQ(rig.A().count("city_tab", "no_rec = '0200001'"), 1);
}

TEST(Cycle, NewBranchListRowReloadsTheSettingsAndEndsTheCycle)
{
    SyncRig rig(2);
    ASSERT_GT(rig.settle(), 0);
    rig.B().add("city_tab", "0200001");
    rig.B().cycle();
    rig.server.exec("INSERT INTO branch_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2, kinSyn, DesEna) "
                    "VALUES ('04', '01', '0', '0', '20240101000000', '20240102000000', '0', '0')");
    RigBranch& a = rig.A();
    a.tables.Tab_Rece[size_t(slot(a, u"city_tab"))] = 1;
    a.cycle();
    EXPECT_EQ(a.count("branch_tab", "no_rec = '04'"), 1);
    EXPECT_EQ(a.state.Ans_Branches, QStringList({"02", "04"}));
    EXPECT_FALSE(a.state.Bra_Changed);
    EXPECT_EQ(a.count("city_tab"), 0) << "no table after branch_tab is received in that cycle";
    EXPECT_NE(a.window.Text4567.text(), "MakData5");

    a.cycle();
    EXPECT_EQ(a.count("city_tab"), 1);
}

TEST(Cycle, SendPassStopsAfterTwoHundredUnitsAndTheRestFollowsNextCycle)
{
    SyncRig rig(2);
    bulkAdd(rig.A(), "city_tab", 150);
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("city_tab"), 101);
    EXPECT_EQ(rig.A().tables.Tab_Send[size_t(slot(rig.A(), u"city_tab"))], 1);
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("city_tab"), 150);
    EXPECT_EQ(rig.A().tables.Tab_Send[size_t(slot(rig.A(), u"city_tab"))], 0);
}

TEST(Cycle, ReceivePassStopsAfterAThousandUnitsAndTheRestFollowsNextCycle)
{
    SyncRig rig(2);
    QStringList values;
    for (int i = 1; i <= 600; ++i)
        values << QStringLiteral("('01%1', '01', '0', '0', '20240301000000', '2024030100000%2', 'row')")
                      .arg(i, 5, 10, QChar(u'0'))
                      .arg(i, 4, 10, QChar(u'0'));
    rig.server.exec("INSERT INTO city_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2, Na_Rec) VALUES "
                    + values.join(", "));
    RigBranch& b = rig.B();
    b.cycle();
    EXPECT_EQ(b.count("city_tab"), 501) << "a received row and its answer count two units";
    EXPECT_EQ(b.tables.Tab_Rece[size_t(slot(b, u"city_tab"))], 1);
    b.cycle();
    EXPECT_EQ(b.count("city_tab"), 600);
}

TEST(Cycle, StopPressedDuringTheSendPassLeavesTheRestMarkedAndTheQueueMarkInPlace)
{
    SyncRig rig(2);
    RigBranch& a = rig.A();
    for (int i = 1; i <= 6; ++i)
        a.add("city_tab", QStringLiteral("010000%1").arg(i));
    a.cycle();  // the rows above are sent; the queue mark moves past them
    const QString mark = a.state.Work_Mark[0];
    for (int i = 1; i <= 6; ++i)
        a.add("color_tab", QStringLiteral("010000%1").arg(i));
    // Stop is pressed while the third colour is being announced.
    const int before = rig.web.requestsTo("save_syn.php").size();
    a.onPump = [&, before] {
        if (rig.web.requestsTo("save_syn.php").size() - before >= 2)
            a.run.Syn_Run = false;
    };
    a.cycle();
    a.onPump = nullptr;
    EXPECT_EQ(a.window.Label2.text(7), sync::kSynOff);
    EXPECT_EQ(rig.serverCount("color_tab"), 3);
    EXPECT_EQ(a.count("color_tab", "SynAdd = '1'"), 3);
    EXPECT_EQ(a.state.Work_Mark[0], mark);

    a.startSync();
    ASSERT_GT(rig.settle(), 0);
    EXPECT_EQ(rig.serverCount("color_tab"), 6);
    EXPECT_EQ(rig.B().count("color_tab", "SynAdd = '4'"), 6);
}

TEST(Cycle, ServerDatabaseLostMidPassStopsTheCycleAndTheRetryCarriesOn)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    for (int i = 1; i <= 5; ++i)
        a.add("city_tab", QStringLiteral("010000%1").arg(i));
    // The third record's server save fails, then the server can't be reached at all.
    data::failStatements("^INSERT INTO `city_tab`", 1, rig.server.name());
    int saves = 0;
    a.onPump = [&] {
        if (++saves == 30)
            data::failStatements("CONNECT", 1000, rig.server.name());
    };
    a.cycle();
    data::clearStatementFailures();
    a.onPump = nullptr;
    EXPECT_TRUE(a.run.Syn_Stop);
    EXPECT_LT(rig.serverCount("city_tab"), 5);

    a.startSync();  // the retry starts synchronisation again
    ASSERT_GT(rig.settle(), 0);
    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->count("city_tab"), 5) << b->number.toStdString();
        EXPECT_EQ(b->count("city_tab", "SynAdd = '4'"), 5) << b->number.toStdString();
    }
    EXPECT_EQ(rig.serverCount("city_tab"), 5);
    EXPECT_EQ(rig.server.scalar("SELECT COUNT(*) FROM atten_rec"), "0");
}
