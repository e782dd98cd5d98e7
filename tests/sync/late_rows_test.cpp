// Ledger rows that land after the client gave up on their request: each is stored by
// the web service seconds after the engine's time-out, once its exchange has moved on or ended.
// The branches run the program's tick (statistics rows included); once settled, no ledger holds
// a row beyond the statistics rows and every record is the same everywhere and closed.
#include "data/odbc.h"
#include "support/sync_rig.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;
using Fault = RefWebService::Fault;

namespace {

struct LateRows : ::testing::Test {
    SyncRig rig{3, 400ms, Tick::Program};

    void TearDown() override { data::clearStatementFailures(); }

    // The next request whose target holds `which` times out here and is stored `after` later.
    void late(const QString& script, const std::string& which, std::chrono::milliseconds after = 2s)
    {
        rig.web.failNext(script, 1, Fault::delayed(after).when(which));
    }

    // Rounds until one changes nothing, without waiting for the requests still delayed.
    void quiet()
    {
        for (int i = 0; i < 30 && rig.round(); ++i) {
        }
    }

    void expectSettledClean(const QString& table, const QString& noRec, bool deleted = false)
    {
        ASSERT_GT(rig.settle(), 0);
        EXPECT_EQ(rig.exchangeRows(rig.server), 0) << "server ledger";
        const std::string family = familyRows(rig.server, table, noRec).toStdString();
        for (const auto& b : rig.branches) {
            EXPECT_EQ(rig.exchangeRows(b->db), 0) << "ledger of " << b->number.toStdString();
            EXPECT_EQ(familyRows(b->db, table, noRec).toStdString(), family) << b->number.toStdString();
            if (deleted) {
                EXPECT_EQ(b->count(table), 0) << b->number.toStdString();
                continue;
            }
            for (const char* column : {"Ne_Rec", "DatTim2", "SynDele", "SynAdd"}) {
                EXPECT_EQ(b->value(table, noRec, column), rig.serverValue(table, noRec, column))
                    << column << " in " << b->number.toStdString();
            }
            EXPECT_EQ(b->value(table, noRec, "SynAdd"), "4") << b->number.toStdString();
        }
        if (deleted) {
            EXPECT_EQ(rig.serverCount(table), 0);
            EXPECT_EQ(family, "");
        }
    }

    // A user of `b` that names the city, or (`named` false) no longer does.
    static void nameCity(RigBranch& b, bool named = true)
    {
        const QString user = b.number + "00001";
        b.db.exec(named ? "INSERT INTO user_tab (no_rec, No_Branch, SynAdd, SynDele, so3) VALUES ('" + user + "', '"
                              + b.number + "', '0', '0', '0100001')"
                        : "DELETE FROM user_tab WHERE no_rec = '" + user + "'");
    }

    // A bill of `b` that names A's invoice 0100001, or (`named` false) no longer does.
    static void billNamingInvoice(RigBranch& b, bool named)
    {
        const QString bill = b.number + "00001";
        b.db.exec(named ? "INSERT INTO inbill_tab (no_rec, No_Branch, SynAdd, SynDele, No_Bill, KinBil) VALUES ('"
                              + bill + "', '" + b.number + "', '0', '0', '0100001', '1')"
                        : "DELETE FROM inbill_tab WHERE no_rec = '" + bill + "'");
    }

    // The record the deletions are about (A's, 0100001), and who names it at a branch (or, `named`
    // false, no longer does).
    QString table = QStringLiteral("city_tab");
    std::function<void()> create = [this] { rig.A().add("city_tab", "0100001"); };
    std::function<void(RigBranch&, bool)> name = [](RigBranch& b, bool named) { nameCity(b, named); };

    // A's record, whose deletion C refuses (C names it), the request `which` of the first deletion
    // stored 8 s late; then C drops the name, A deletes the record again, the branches of `order`
    // run (`before` first), the late request lands and everything settles.
    void deletedAgainWhileLate(const QString& script, const std::string& which, const QString& order,
                               bool deleted = true, const std::function<void()>& before = [] {})
    {
        create();
        ASSERT_GT(rig.settle(), 0);
        name(rig.C(), true);
        late(script, which, 8s);
        rig.A().remove(table, "0100001");
        quiet();
        ASSERT_EQ(rig.A().value(table, "0100001", "SynDele"), "0") << "the first deletion was refused";
        name(rig.C(), false);
        rig.A().remove(table, "0100001");
        before();
        rig.round(order);
        rig.web.waitForDelayed(20s);
        expectSettledClean(table, "0100001", deleted);
    }
};

}  // namespace

// 1: the announcement, delivered again after the announcer posted its closing, lands over it.
TEST_F(LateRows, AnAnnouncementDeliveredAgainOverItsClosingLeavesTheClosingStanding)
{
    rig.A().add("city_tab", "0100001");
    rig.round();  // sent and answered
    const QString version = rig.A().value("city_tab", "0100001", "DatTim2");
    late("save_syn.php", "norec=0100001&branch=01&kin1=0&kin2=0");
    EXPECT_EQ(rig.A().web.Web_Save_Syn("city_tab", version, "0100001", 0, 0, "0"), "");
    rig.A().cycle();  // the closing
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001");
}

// 2: the first announcement lands after the next version's exchange ended.
TEST_F(LateRows, AnAnnouncementLandingAfterTheNextVersionsExchangeEndedIsTakenOff)
{
    late("save_syn.php", "norec=0100001&branch=01&kin1=0&kin2=0");
    rig.A().add("city_tab", "0100001");
    for (int i = 0; i < 3; ++i)
        rig.round();  // sent again under a new version, answered and closed
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001");
}

// 3: an answer lands after the exchange ended.
TEST_F(LateRows, AnAnswerLandingAfterTheExchangeEndedIsTakenOff)
{
    late("save_syn.php", "norec=0100001&branch=02&kin1=1&kin2=0");
    rig.A().add("city_tab", "0100001");
    for (int i = 0; i < 4; ++i)
        rig.round();
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001");
}

// 4: a deletion's answer lands after the deletion was carried out.
TEST_F(LateRows, ADeletionAnswerLandingAfterTheDeletionEndedIsTakenOff)
{
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    late("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0");
    rig.A().remove("city_tab", "0100001");
    for (int i = 0; i < 4; ++i)
        rig.round();
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001", true);
}

// 5: the closing lands after the announcer finished the exchange.
TEST_F(LateRows, AClosingLandingAfterTheAnnouncerFinishedIsTakenOff)
{
    late("save_syn.php", "norec=0100001&branch=01&kin1=0&kin2=1");
    rig.A().add("city_tab", "0100001");
    for (int i = 0; i < 4; ++i)
        rig.round();
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001");
}

// 6: the deletion's closing lands after the deleting branch finished.
TEST_F(LateRows, ADeletionClosingLandingAfterTheDeletionEndedIsTakenOff)
{
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    late("save_syn.php", "norec=0100001&branch=01&kin1=2&kin2=1");
    rig.A().remove("city_tab", "0100001");
    for (int i = 0; i < 4; ++i)
        rig.round();
    rig.web.waitForDelayed(10s);
    expectSettledClean("city_tab", "0100001", true);
}

// 7: taking a late answer to the closing off fails, and the process ends before trying again.
TEST_F(LateRows, ARemovalThatFailedIsTakenUpAgainAfterARestart)
{
    late("save_syn.php", "norec=0100001&branch=02&kin1=1&kin2=1");
    rig.A().add("city_tab", "0100001");
    for (int i = 0; i < 4; ++i)
        rig.round();  // B answers the closing again; A finishes
    rig.web.failNext("delete_syn.php", 1, Fault::httpError().when("norec=0100001"));
    rig.web.waitForDelayed(10s);
    rig.A().cycle();  // the late answer is A's to take off; that fails
    rig.restart(0);
    expectSettledClean("city_tab", "0100001");
}

// The deletion refused, the reference dropped and the record deleted again under the same key:
// whatever of the first exchange lands late meets only its own rows.
TEST_F(LateRows, ARefusedClosingLandingAfterTheNextDeletionWasAcceptedLeavesItToEnd)
{
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=01&kin1=2&kin2=2", "ABC");
}

TEST_F(LateRows, ARefusedClosingLandingOverTheNextAnnouncementLeavesItToEnd)
{
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=01&kin1=2&kin2=2", "A");
}

// B names the city by then and refuses.
TEST_F(LateRows, AnAcceptanceLandingOverTheRefusalOfTheNextDeletionLeavesItRefused)
{
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "AB", false, [&] { nameCity(rig.B()); });
    EXPECT_EQ(rig.B().count("user_tab", "so3 = '0100001'"), 1);
}

// Every other branch accepted before the announcer read B's late acceptance: the record was
// deleted on the announcer and the server, and B, which names it, brings it back everywhere.
TEST_F(LateRows, AnAcceptanceLandingOverARefusalAfterEveryOtherAnswerBringsTheRecordBack)
{
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "ABC", false, [&] { nameCity(rig.B()); });
    EXPECT_EQ(rig.B().count("user_tab", "so3 = '0100001'"), 1);
}

TEST_F(LateRows, ALateRemovalOfTheFirstDeletionLeavesTheNextOneToEnd)
{
    deletedAgainWhileLate("delete_syn.php", "norec=0100001&kin1=2", "ABC");
}

// B still owes the removal of its late answer to the first deletion when A deletes again.
TEST_F(LateRows, ARemovalStillOwedFromTheFirstDeletionSparesTheNextOne)
{
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    nameCity(rig.C());
    late("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0");
    rig.A().remove("city_tab", "0100001");
    quiet();
    rig.web.waitForDelayed(20s);  // B's first answer lands after the deletion ended
    rig.web.failNext("delete_syn.php", 2, Fault::httpError().when("norec=0100001"));
    rig.round("B");  // B owes its removal
    nameCity(rig.C(), false);
    rig.A().remove("city_tab", "0100001");
    rig.round("AB");
    expectSettledClean("city_tab", "0100001", true);
}

// B's answer to the closing lands after it gave up; A finishes on it, and B's next try fails.
TEST_F(LateRows, AClosingAnsweredLateLeavesTheReceivingCopyClosed)
{
    late("save_syn.php", "norec=0100001&branch=02&kin1=1&kin2=1");
    rig.A().add("city_tab", "0100001");
    rig.round();
    rig.round();  // B's answer to the closing times out
    rig.web.waitForDelayed(20s);
    rig.A().cycle();  // A finishes
    rig.web.failNext("save_syn.php", 1, Fault::httpError().when("norec=0100001&branch=02&kin1=1&kin2=1"));
    expectSettledClean("city_tab", "0100001");
}

// B's acceptance of the first deletion lands over its answer to the second one's closing.
TEST_F(LateRows, AnAcceptanceLandingOverTheAnswerToTheNextClosingIsAnsweredAgain)
{
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "ABCAB");
}

// B's acceptance is stored and its reply lost; every branch accepted, and at the closing one count
// of B's reference check fails: that decides nothing, and the record stays deleted.
TEST_F(LateRows, AReferenceCountFailingAtTheClosingLeavesTheAcceptedDeletionToEnd)
{
    rig.A().add("city_tab", "0100001");
    ASSERT_GT(rig.settle(), 0);
    rig.web.failNext("save_syn.php", 1, Fault::lostReply().when("norec=0100001&branch=02&kin1=3&kin2=0"));
    rig.A().remove("city_tab", "0100001");
    rig.round();  // announced; B's acceptance stored, its reply lost; C accepts
    data::failStatements("from side_tab where No_City", 1, rig.B().db.name());
    rig.round();  // A and the server delete; B meets the closing
    expectSettledClean("city_tab", "0100001", true);
}

// B sends again an invoice that a bill there names: its lines, serial rows, serial state and the
// bill come back with it everywhere, the state as it stood before the deletion.
TEST_F(LateRows, AnInvoiceSentAgainComesBackWithItsLinesSerialsAndBills)
{
    table = QStringLiteral("invoice_tab");
    create = [this] {
        RigBranch& a = rig.A();
        a.add("rowvoi_tab", "0100002", {{"NRS1", "0100001"}, {"DRS1", "R1"}});
        a.add("seri_tab", "0100003",
              {{"No_seri", "S1"}, {"NRS1", "0100001"}, {"DRS1", "R1"}, {"kin", "2"}, {"No_Store", "ST1"}});
        a.add("invoice_tab", "0100001", {{"CRS1", "1"}, {"CRS2", "1"}, {"DRS1", "R1"}});
        a.add("serim_tab", "0100004", {{"No_seri", "S1"}, {"NRS1", "0100001"}, {"kin", "2"}, {"No_Store", "ST1"}});
    };
    name = billNamingInvoice;
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "ABC", false,
                          [&] { name(rig.B(), true); });
    EXPECT_EQ(familyRows(rig.server, table, "0100001").toStdString(),
              "lines 0100002/R1 serials 0100003/R1/S1 states 0100004/2/ST1/4 bills 0200001/"
                  + rig.serverValue("inbill_tab", "0200001", "DatTim2").toStdString() + "/4");
}

// A city with its picture, sent again by B: the picture the cascade deleted comes back everywhere.
TEST_F(LateRows, ACitySentAgainComesBackWithItsPicture)
{
    create = [this] {
        rig.A().add("city_tab", "0100001");
        rig.A().add("picstream_tab", "0100002", {{"NoID", "0100001"}, {"rec_tab", "city_tab"}});
    };
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "ABC", false,
                          [&] { nameCity(rig.B()); });
    EXPECT_EQ(familyRows(rig.server, table, "0100001").toStdString(),
              "pictures 0100002/" + rig.serverValue("picstream_tab", "0100002", "DatTim2").toStdString() + "/4");
}

// A's refused closing of an earlier exchange (with C's answer) lands over its all-accepted one.
TEST_F(LateRows, AClosingPostedBackOverTheRefusedOneBAnsweredIsAnsweredAgain)
{
    create();
    ASSERT_GT(rig.settle(), 0);
    const QString v = rig.A().value(table, "0100001", "DatTim2");
    rig.A().remove(table, "0100001");
    rig.round("ABCA");  // all accept; A deletes and closes
    ASSERT_EQ(rig.A().web.Web_Save_Syn(table, v, "0100001", 2, 2, "0"), "OK");
    ASSERT_EQ(rig.C().web.Web_Save_Syn(table, v, "0100001", 3, 2, "01"), "OK");
    rig.round("B");  // B answers it; A posts its closing back
    expectSettledClean(table, "0100001", true);
}

TEST_F(LateRows, ACityDeletedBeforeItLeftTakesAlongThePictureThatLeft)
{
    rig.A().add("picstream_tab", "0100002", {{"NoID", "0100001"}, {"rec_tab", "city_tab"}});
    rig.round("A");  // the picture leaves before the city is made
    create();
    rig.A().remove(table, "0100001");
    expectSettledClean(table, "0100001", true);
}

// So does a bill that names an invoice: it left, the invoice never did.
TEST_F(LateRows, AnInvoiceDeletedBeforeItLeftTakesAlongTheBillThatLeft)
{
    rig.A().add("inbill_tab", "0100002", {{"No_Bill", "0100001"}, {"KinBil", "1"}});
    rig.round("A");
    rig.A().add("invoice_tab", "0100001", {{"CRS1", "0"}, {"CRS2", "0"}, {"DRS1", "R1"}});
    rig.A().remove("invoice_tab", "0100001");
    expectSettledClean("invoice_tab", "0100001", true);
    EXPECT_EQ(rig.serverCount("inbill_tab"), 0);
}

namespace {

// A's invoice with a line and a picture, and A's voucher in two revisions (whose older lines stay).
// A deletes them; B's acceptances are stored, their replies lost, and a person at B edits both
// before B meets the closings.
void editedAtBWhileDeleted(SyncRig& rig)
{
    RigBranch& a = rig.A();
    a.add("rowvoi_tab", "0100002", {{"NRS1", "0100001"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100001", {{"CRS1", "1"}, {"CRS2", "0"}, {"DRS1", "R1"}});
    a.add("picstream_tab", "0100003", {{"NoID", "0100001"}, {"rec_tab", "invoice_tab"}});
    a.add("rowacc_tab", "0100012", {{"NRS1", "0100011"}, {"DRS1", "R1"}});
    a.add("accreg_tab", "0100011", {{"CRS1", "1"}, {"DRS1", "R1"}});
    ASSERT_GT(rig.settle(), 0);
    a.add("rowacc_tab", "0100013", {{"NRS1", "0100011"}, {"DRS1", "R2"}});
    a.edit("accreg_tab", "0100011", {{"DRS1", "R2"}});
    ASSERT_GT(rig.settle(), 0);
    for (const auto& [table, no] : {std::pair{"accreg_tab", "0100011"}, {"invoice_tab", "0100001"}}) {
        rig.web.failNext("save_syn.php", 1, Fault::lostReply().when("norec=" + std::string(no) + "&branch=02&kin1=3&kin2=0"));
        a.remove(table, no);
    }
    rig.round();
    rig.B().edit("accreg_tab", "0100011", {{"Ne_Rec", "B"}});
    rig.B().edit("invoice_tab", "0100001", {{"Ne_Rec", "B"}});
}

}  // namespace

// B's edits leave after A and the server deleted the records: both come back everywhere whole.
TEST_F(LateRows, AnEditOvertakingTheDeletionBringsTheRecordBackWithItsWholeFamily)
{
    editedAtBWhileDeleted(rig);
    expectSettledClean("invoice_tab", "0100001");
    expectSettledClean("accreg_tab", "0100011");
    EXPECT_EQ(familyRows(rig.server, "invoice_tab", "0100001").toStdString(),
              "lines 0100002/R1 pictures 0100003/" + rig.serverValue("picstream_tab", "0100003", "DatTim2").toStdString()
                  + "/4");
    EXPECT_EQ(rig.serverCount("rowacc_tab", "NRS1 = '0100011'"), 2);
}

// B's edit of the voucher cannot leave before B meets the closing: B sends the voucher again, with
// every revision's lines.
TEST_F(LateRows, AVoucherSentAgainTakesItsOlderRevisionsLinesAlong)
{
    editedAtBWhileDeleted(rig);
    rig.round("A");  // A and the server delete
    data::failStatements("from accreg_tab where No_Rec", 1, rig.server.name());
    rig.round("B");
    ASSERT_GE(rig.B().state.Sent_Again, 1);
    expectSettledClean("accreg_tab", "0100011");
    EXPECT_EQ(rig.serverCount("rowacc_tab", "NRS1 = '0100011'"), 2);
}

// B sends again the invoice its bill names, and marking the bill fails once: a later cycle takes
// the bill along before the invoice leaves.
TEST_F(LateRows, AFamilyWhoseMarkingFailedIsFinishedBeforeTheRecordLeaves)
{
    table = QStringLiteral("invoice_tab");
    create = [this] {
        rig.A().add("rowvoi_tab", "0100002", {{"NRS1", "0100001"}, {"DRS1", "R1"}});
        rig.A().add("invoice_tab", "0100001", {{"CRS1", "1"}, {"CRS2", "0"}, {"DRS1", "R1"}});
    };
    name = billNamingInvoice;
    deletedAgainWhileLate("save_syn.php", "norec=0100001&branch=02&kin1=3&kin2=0", "ABC", false, [&] {
        name(rig.B(), true);
        data::failStatements("update inbill_tab", 1, rig.B().db.name());
    });
    EXPECT_EQ(rig.serverCount("inbill_tab", "No_Bill = '0100001'"), 1);
}

// C's deletion of the picture fails once as it carries out A's deletion: a later cycle finishes it.
TEST_F(LateRows, APictureWhoseDeletionFailedGoesLaterWithItsRecord)
{
    rig.A().add("picstream_tab", "0100002", {{"NoID", "0100001"}, {"rec_tab", "city_tab"}});
    create();
    ASSERT_GT(rig.settle(), 0);
    data::failStatements("delete from +picstream_tab", 1, rig.C().db.name());
    rig.A().remove(table, "0100001");
    expectSettledClean(table, "0100001", true);
}

// A's announcement of its city lands late, after A deleted the city before it left (its picture
// had): that version never was, and B and C answer the deletion all the same.
TEST_F(LateRows, AVersionAnnouncedLateAfterItsDeletionSupersedesNothing)
{
    rig.A().add("picstream_tab", "0100002", {{"NoID", "0100001"}, {"rec_tab", "city_tab"}});
    rig.round("A");
    late("save_syn.php", "norec=0100001&branch=01&kin1=0&kin2=0", 3s);
    create();
    rig.round("A");
    rig.A().remove(table, "0100001");
    rig.round("A");
    rig.web.waitForDelayed(20s);
    rig.round("BC");
    expectSettledClean(table, "0100001", true);
}
