#include "data/sql_text.h"
#include "records/record_numbering.h"
#include "records_world.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::records;
using test::RecordsWorld;

namespace {

void putNumbers(const test::ScratchDatabase& d, const QString& table, const QStringList& numbers)
{
    for (const QString& n : numbers)
        d.exec("insert into " + table + " (no_rec, No_Branch) values (" + data::sqlLiteral(n) + ", "
               + data::sqlLiteral(n.left(2)) + ")");
}

}  // namespace

TEST(RecordNumbering, FirstNumberOfATable)
{
    RecordsWorld w;
    w.run.Kin_Yer = QStringLiteral("24");
    data::RecordsetVar rs;
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("notic_tab")), QStringLiteral("010000001"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->recordCount(), 0);
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 4, rs, QStringLiteral("rst_tab")), QStringLiteral("24010001"));
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 5, rs, QStringLiteral("invoice_tab")), QStringLiteral("240100001"));
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 1, rs, QStringLiteral("sendev_tab")), QStringLiteral("011"));
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 15, rs, QStringLiteral("sendev_tab")), QStringLiteral("01000000000000001"));
}

TEST(RecordNumbering, NextAfterThisBranchsHighestLeavesTheSelectionOpen)
{
    RecordsWorld w;
    putNumbers(w.branchDb, QStringLiteral("sendev_tab"),
               {"010000005", "010000012", "010000009", "020000099", "029999999", "120000500"});
    data::RecordsetVar rs;
    const QString n = New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("sendev_tab"));
    EXPECT_EQ(n, QStringLiteral("010000013"));

    // The caller adds its row through the recordset left open on this branch's highest row.
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->text(u"no_rec"), QStringLiteral("010000012"));
    EXPECT_EQ(rs->source(),
              QStringLiteral("select * from sendev_tab where left(No_Rec,2) = '01' order by No_Rec ASC"));
    rs->addNew();
    rs->setValue(u"no_rec", n);
    rs->setValue(u"No_Branch", QStringLiteral("01"));
    rs->update();
    EXPECT_EQ(w.branchDb.scalar(QStringLiteral("select count(*) from sendev_tab where no_rec = '010000013'")),
              QStringLiteral("1"));
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("sendev_tab")), QStringLiteral("010000014"));
}

TEST(RecordNumbering, YearCodedTablesCountPerYearCodeAndBranch)
{
    RecordsWorld w;
    w.run.Kin_Yer = QStringLiteral("24");
    putNumbers(w.branchDb, QStringLiteral("invoice_tab"),
               {"240100007", "240100003", "230100099", "240200050", "250100001"});
    putNumbers(w.branchDb, QStringLiteral("inbill_tab"), {"2401000000041", "2301999999999"});
    data::RecordsetVar rs;
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 5, rs, QStringLiteral("invoice_tab")), QStringLiteral("240100008"));
    EXPECT_EQ(rs->source(), QStringLiteral("select * from invoice_tab where left(No_Rec,2) = '24' and "
                                           "mid(No_Rec,3,2) = '01' order by No_Rec ASC"));
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 9, rs, QStringLiteral("inbill_tab")), QStringLiteral("2401000000042"));

    // A new year code starts again at 1.
    w.run.Kin_Yer = QStringLiteral("26");
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 5, rs, QStringLiteral("invoice_tab")), QStringLiteral("260100001"));

    // Only the exact names are year-coded.
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("Invoice_tab")), QStringLiteral("010000001"));
}

TEST(RecordNumbering, AttendanceBatches)
{
    RecordsWorld w;
    w.run.Kin_Yer = QStringLiteral("24");
    data::RecordsetVar rs;
    putNumbers(w.branchDb, QStringLiteral("rst_tab"),
               {"240100010000001", "240100010000002", "240100020000001", "230100500000001", "240200700000001"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 4, rs, QStringLiteral("rst_tab")), QStringLiteral("24010003"));

    // A row number of seven nines does not exhaust its batch.
    putNumbers(w.branchDb, QStringLiteral("rst_tab"), {"240100039999999"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 4, rs, QStringLiteral("rst_tab")), QStringLiteral("24010004"));

    // Batch 9999 is the last.
    putNumbers(w.branchDb, QStringLiteral("rst_tab"), {"240199990000001"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 4, rs, QStringLiteral("rst_tab")), QStringLiteral("--"));

    // An empty year code is used as it is: the prefix comes out two characters short.
    w.run.Kin_Yer.clear();
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 4, rs, QStringLiteral("rst_tab")), QStringLiteral("010001"));
}

TEST(RecordNumbering, ExhaustedOrUnreadableSequenceGivesNoNumber)
{
    RecordsWorld w;
    data::RecordsetVar rs;
    putNumbers(w.branchDb, QStringLiteral("notic_tab"), {"010000003", "019999999"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("notic_tab")), QStringLiteral("--"));
    // Seven nines is exhausted for width 7 only.
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 8, rs, QStringLiteral("notic_tab")), QStringLiteral("0120000000"));

    // A highest number whose sequence is not digits would be read as a smaller one and repeat a number.
    putNumbers(w.branchDb, QStringLiteral("sendev_tab"), {"010000004", "01000x001"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("sendev_tab")), QStringLiteral("--"));

    for (qint16 width : {qint16(0), qint16(-1), qint16(16)})
        EXPECT_EQ(New_No_Rec(w.ctx, 1, width, rs, QStringLiteral("branch_tab")), QStringLiteral("--")) << width;
}

TEST(RecordNumbering, FailedSelectionGivesNoNumberAndKeepsTheVariable)
{
    RecordsWorld w;
    data::RecordsetVar rs;
    ASSERT_TRUE(w.db.Open_Tab_Loc(rs, QStringLiteral("notic_tab")));
    const data::RecordsetVar before = rs;

    w.db.DB_Port_Loc = QString::fromLatin1(test::kClosedPort);
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("notic_tab")), QStringLiteral("--"));
    EXPECT_EQ(rs, before);

    // A statement the database refuses.
    w.db.DB_Port_Loc = w.branchDb.settings().port;
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("no_such_tab")), QStringLiteral("--"));
}

TEST(RecordNumbering, BranchNumberIsQuotedInTheStatement)
{
    RecordsWorld w(QStringLiteral("0'"));
    data::RecordsetVar rs;
    putNumbers(w.branchDb, QStringLiteral("notic_tab"), {"010000007"});
    EXPECT_EQ(New_No_Rec(w.ctx, 1, 7, rs, QStringLiteral("notic_tab")), QStringLiteral("0'0000001"));
    EXPECT_EQ(rs->recordCount(), 0);
}
