#include "support/sync_rig.h"
#include "sync/engine.h"

#include <QDateTime>
#include <QFile>

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

qint64 ledgerRows(const ScratchDatabase& db, const QString& where = {})
{
    return db.scalar("SELECT COUNT(*) FROM atten_rec" + (where.isEmpty() ? QString() : " WHERE " + where)).toLongLong();
}

void expectLedgersEmpty(SyncRig& rig)
{
    EXPECT_EQ(ledgerRows(rig.server), 0) << "server ledger";
    for (const auto& b : rig.branches)
        EXPECT_EQ(ledgerRows(b->db), 0) << "ledger of branch " << b->number.toStdString();
}

Fields invoice(const QString& revision, int lines)
{
    return {{"DRS1", revision}, {"CRS1", QString::number(lines)}, {"CRS2", "0"}, {"CRS3", "0"}};
}

Fields line(const QString& master, const QString& revision)
{
    return {{"NRS1", master}, {"DRS1", revision}};
}

}  // namespace

TEST(RecordExchange, RecordAddedInOneBranchReachesServerAndEveryOtherBranchWhichAnswer)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001", {{"Na_Rec", "الرياض"}, {"Ne_Rec", "Riyadh"}});
    rig.round();

    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "Ne_Rec"), "Riyadh");
    EXPECT_EQ(rig.serverValue("city_tab", "0100001", "No_Branch"), "01");
    const QString stamp = rig.serverValue("city_tab", "0100001", "DatTim2");
    EXPECT_GE(stamp.size(), 14);
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "SynAdd"), "0");
    EXPECT_EQ(rig.A().value("city_tab", "0100001", "DatTim2"), stamp);
    for (RigBranch* b : {&rig.B(), &rig.C()}) {
        EXPECT_EQ(b->value("city_tab", "0100001", "Na_Rec"), "الرياض") << b->number.toStdString();
        EXPECT_EQ(b->value("city_tab", "0100001", "DatTim2"), stamp);
        EXPECT_EQ(b->value("city_tab", "0100001", "No_Branch"), "01");
        // One answer of receipt each, for this version.
        EXPECT_EQ(ledgerRows(rig.server, "kin1 = '1' AND kin2 = '0' AND SynLast = '" + stamp + "' AND branch = '"
                                             + b->number + "'"),
                  1);
    }
    EXPECT_EQ(ledgerRows(rig.server, "kin1 = '0' AND branch = '01' AND NoRec = '0100001'"), 1);
    EXPECT_EQ(rig.A().logs.MSFG1.textMatrix(1, 0), "ارسال 0100001 : الرياض");
}

TEST(RecordExchange, AnsweredRecordIsClosedEverywhereAndEveryLedgerEmpties)
{
    SyncRig rig;
    rig.A().add("city_tab", "0100001");
    rig.B().add("color_tab", "0200001");
    ASSERT_GT(rig.settle(), 0);

    for (const auto& [table, no] : {std::pair{"city_tab", "0100001"}, std::pair{"color_tab", "0200001"}}) {
        EXPECT_EQ(rig.serverValue(table, no, "SynAdd"), "4") << table;
        for (const auto& b : rig.branches)
            EXPECT_EQ(b->value(table, no, "SynAdd"), "4") << table << " in " << b->number.toStdString();
    }
    expectLedgersEmpty(rig);
}

TEST(RecordExchange, InvoiceTravelsWithItsDetailRowsFirst)
{
    SyncRig rig;
    rig.A().add("rowvoi_tab", "24010000001", line("2401000001", "r1"));
    rig.A().add("rowvoi_tab", "24010000002", line("2401000001", "r1"));
    rig.A().add("invoice_tab", "2401000001", invoice("r1", 2));
    rig.round();

    EXPECT_EQ(rig.serverCount("rowvoi_tab", "NRS1 = '2401000001' AND DRS1 = 'r1'"), 2);
    EXPECT_EQ(rig.serverValue("invoice_tab", "2401000001", "CRS1"), "2");
    for (RigBranch* b : {&rig.B(), &rig.C()}) {
        EXPECT_EQ(b->count("rowvoi_tab", "NRS1 = '2401000001' AND DRS1 = 'r1'"), 2) << b->number.toStdString();
        EXPECT_EQ(b->value("invoice_tab", "2401000001", "DRS1"), "r1");
    }
    // Detail rows go without announcements: the ledger names only the master.
    EXPECT_EQ(ledgerRows(rig.server, "treco = 'rowvoi_tab'"), 0);
    EXPECT_EQ(ledgerRows(rig.server, "treco = 'invoice_tab' AND kin1 = '0'"), 1);
}

TEST(RecordExchange, NewRevisionOfMasterWaitsForItsDetailsAndOnlyThenDropsTheOldOnes)
{
    SyncRig rig;
    rig.A().add("rowvoi_tab", "24010000001", line("2401000001", "r1"));
    rig.A().add("rowvoi_tab", "24010000002", line("2401000001", "r1"));
    rig.A().add("invoice_tab", "2401000001", invoice("r1", 2));
    ASSERT_GT(rig.settle(), 0);

    // A new revision with one line: the application drops the old lines and writes the new one.
    rig.A().db.exec("DELETE FROM rowvoi_tab WHERE NRS1 = '2401000001'");
    rig.A().add("rowvoi_tab", "24010000003", line("2401000001", "r2"));
    rig.A().edit("invoice_tab", "2401000001", invoice("r2", 1));
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("rowvoi_tab", "NRS1 = '2401000001'"), 1) << "the server drops the old lines";

    // B has not been told to fetch lines: the master waits, B keeps the complete old revision and
    // schedules the detail table.
    const int rowvoi = rig.B().tables.slotOf(u"rowvoi_tab");
    rig.B().tables.Tab_Rece[size_t(rowvoi)] = 0;
    rig.B().cycle();
    EXPECT_EQ(rig.B().value("invoice_tab", "2401000001", "DRS1"), "r1");
    EXPECT_EQ(rig.B().count("rowvoi_tab", "NRS1 = '2401000001' AND DRS1 = 'r1'"), 2);
    EXPECT_GT(rig.B().tables.Tab_Rece[size_t(rowvoi)], 0);
    EXPECT_GT(rig.B().tables.Tab_Rece[size_t(rig.B().tables.slotOf(u"invoice_tab"))], 0);

    // The new line arrives, but the master's answer is refused: the old revision stays whole.
    rig.web.failNext("save_syn.php", 1000, RefWebService::Fault::reply("NO"));
    rig.B().cycle();
    rig.web.clearFaults();
    EXPECT_EQ(rig.B().value("invoice_tab", "2401000001", "DRS1"), "r1");
    EXPECT_EQ(rig.B().count("rowvoi_tab", "NRS1 = '2401000001' AND DRS1 = 'r1'"), 2);

    rig.B().cycle();
    EXPECT_EQ(rig.B().value("invoice_tab", "2401000001", "DRS1"), "r2");
    EXPECT_EQ(rig.B().count("rowvoi_tab", "NRS1 = '2401000001'"), 1);
    EXPECT_EQ(rig.B().value("rowvoi_tab", "24010000003", "DRS1"), "r2");
}

TEST(RecordExchange, MasterHoldingItsTableUpForAnHourIsNamedOnceWithItsEnd)
{
    SyncRig rig;
    for (const char* no : {"24010000001", "24010000002"})
        rig.A().add("rowvoi_tab", no, line("2401000001", "r1"));
    rig.A().add("invoice_tab", "2401000001", invoice("r1", 2));
    rig.A().cycle();
    // One line is missing on the server; a later invoice waits behind the first.
    rig.server.exec("CREATE TABLE held_line AS SELECT * FROM rowvoi_tab WHERE no_rec = '24010000002'");
    rig.server.exec("DELETE FROM rowvoi_tab WHERE no_rec = '24010000002'");
    rig.A().add("rowvoi_tab", "24010000003", line("2401000003", "r1"));
    rig.A().add("invoice_tab", "2401000003", invoice("r1", 1));
    rig.A().cycle();

    RigBranch& b = rig.B();
    qint64 minutes = 0;
    b.errors.reasons.now = b.ctx.clock = [&] { return QDateTime::currentDateTime().addSecs(minutes * 60); };
    auto lines = [&](const QString& text) {
        QFile f(b.errors.reasons.path());
        return f.open(QIODevice::ReadOnly) ? int(QString::fromUtf8(f.readAll()).count(text)) : 0;
    };
    const QString step = "receive pass on invoice_tab at record 2401000001 from branch 01";
    for (const qint64 m : {0, 59, 61, 200}) {
        minutes = m;
        b.cycle();
        EXPECT_EQ(lines(step + ": the record's detail rows are not all here since "), m > 60) << m << " minutes";
    }
    EXPECT_EQ(b.count("invoice_tab"), 0) << "the later invoice waits too";

    // The line is back; older than the lines held, it comes with the next full rescan.
    rig.server.exec("INSERT INTO rowvoi_tab SELECT * FROM held_line");
    b.state.Syn_AllPass = 1;
    b.cycle();
    EXPECT_EQ(b.count("invoice_tab"), 2);
    EXPECT_EQ(lines(step + ": works again"), 1);
}

TEST(RecordExchange, MasterWhoseDetailsAreMissingLocallyIsNotSent)
{
    SyncRig rig;
    rig.A().add("rowvoi_tab", "24010000001", line("2401000001", "r1"));
    rig.A().add("invoice_tab", "2401000001", invoice("r1", 2));
    rig.A().cycle();
    EXPECT_EQ(rig.serverCount("invoice_tab"), 0);
    EXPECT_EQ(rig.A().value("invoice_tab", "2401000001", "SynAdd"), "1");
    EXPECT_GT(rig.A().tables.Tab_Send[size_t(rig.A().tables.slotOf(u"invoice_tab"))], 0);

    rig.A().add("rowvoi_tab", "24010000002", line("2401000001", "r1"));
    rig.A().cycle();
    EXPECT_EQ(rig.serverValue("invoice_tab", "2401000001", "DRS1"), "r1");
}

TEST(RecordExchange, NewBranchReceivesEverythingWithoutAnswersThenRunsTheNormalPassInTheSameCycle)
{
    SyncRig rig(2);
    rig.A().add("city_tab", "0100001");
    rig.B().add("city_tab", "0200001");
    ASSERT_GT(rig.settle(), 0);

    RigBranch& d = rig.addNewBranch("04");
    d.add("city_tab", "0400001");
    rig.web.clearRequests();
    d.cycle();

    EXPECT_EQ(d.run.Syn_First, 0);
    EXPECT_EQ(d.db.scalar("SELECT SynFirst FROM proj_tab"), "0");
    EXPECT_EQ(d.value("city_tab", "0100001", "SynAdd"), "4");
    EXPECT_EQ(d.value("city_tab", "0200001", "SynAdd"), "4");
    EXPECT_EQ(d.count("branch_tab"), 3);
    EXPECT_EQ(ledgerRows(rig.server, "branch = '04' AND kin1 = '1'"), 0) << "no answers while it catches up";
    EXPECT_EQ(rig.serverValue("city_tab", "0400001", "No_Branch"), "04") << "the normal pass sent its own record";
}
