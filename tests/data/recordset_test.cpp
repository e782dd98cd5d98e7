#include "data/database.h"
#include "support/test_db.h"

#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

class RecordsetOnDatabase : public ::testing::Test {
protected:
    test::ScratchDatabase branch{"branch"};
    data::RecordsetVar open(const QString& sql, const QString& table)
    {
        auto rs = std::make_shared<data::Recordset>();
        rs->open(branch.connect(), sql, table);
        return rs;
    }
};

TEST_F(RecordsetOnDatabase, NullIsDistinctFromEmptyText)
{
    branch.exec("INSERT INTO branch_tab (no_rec, Ntel, Nfax) VALUES ('01', '', NULL)");
    auto rs = open("select * from branch_tab", "branch_tab");
    EXPECT_FALSE(rs->isNull(u"Ntel"));
    EXPECT_TRUE(rs->isNull(u"nfax"));  // names without case
    EXPECT_EQ(rs->text(u"Nfax"), "");
    rs->setValue(u"Ntel", QVariant());
    rs->update();
    EXPECT_EQ(branch.scalar("SELECT Ntel IS NULL FROM branch_tab"), "1");
    EXPECT_THROW(rs->value(u"missing_column"), data::DbError);
}

TEST_F(RecordsetOnDatabase, AutoNumberedRowCanBeSavedAgain)
{
    auto rs = open("select * from atten_rec where 1 = 0", "atten_rec");
    rs->addNew();
    rs->setValue(u"NoRec", "0100001");
    rs->setValue(u"kin2", "0");
    rs->update();
    EXPECT_FALSE(rs->isNull(u"id"));
    rs->setValue(u"kin2", "1");
    rs->update();
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM atten_rec"), "1");
    EXPECT_EQ(branch.scalar("SELECT kin2 FROM atten_rec"), "1");
    EXPECT_EQ(branch.scalar("SELECT kin3 FROM atten_rec"), "0");
    // A column the insert left to its default is not taken as NULL to find the row.
    rs->setValue(u"kin3", "1");
    rs->update();
    EXPECT_EQ(branch.scalar("SELECT kin3 FROM atten_rec"), "1");
}

TEST_F(RecordsetOnDatabase, RowInsertedWithoutItsKeyCannotBeSavedOverAnotherRow)
{
    branch.exec("INSERT INTO atten_rec (NoRec, kin2) VALUES ('0100000', '0')");
    auto rs = open("select * from atten_rec where 1 = 0", "atten_rec");
    rs->addNew();
    rs->setValue(u"NoRec", "0100001");
    rs->insertOnly();
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM atten_rec WHERE NoRec = '0100001'"), "1");
    rs->setValue(u"kin2", "1");
    EXPECT_THROW(rs->update(), data::DbError);
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM atten_rec WHERE kin2 = '1'"), "0");
}

TEST_F(RecordsetOnDatabase, SavingARowDeletedMeanwhileIsAnError)
{
    branch.exec("INSERT INTO branch_tab (no_rec, Ntel) VALUES ('01', 'a')");
    auto rs = open("select * from branch_tab", "branch_tab");
    branch.exec("DELETE FROM branch_tab");
    rs->setValue(u"Ntel", "b");
    EXPECT_THROW(rs->update(), data::DbError);
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab"), "0");
}

TEST_F(RecordsetOnDatabase, SavingOverAnotherProgramsChangeIsAnErrorAndKeepsTheirChange)
{
    branch.exec("INSERT INTO branch_tab (no_rec, Ntel, Nfax) VALUES ('01', 'a', NULL), ('02', 'x', 'y')");
    auto rs = open("select * from branch_tab order by no_rec", "branch_tab");
    branch.exec("UPDATE branch_tab SET Ntel = 'theirs' WHERE no_rec = '01'");
    branch.exec("UPDATE branch_tab SET Nfax = 'theirs' WHERE no_rec = '02'");

    rs->setValue(u"Ntel", "mine");
    try {
        rs->update();
        ADD_FAILURE() << "the save overwrote another program's change";
    } catch (const data::DbError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(u"changed or deleted by someone else")) << e.what();
    }
    EXPECT_EQ(branch.scalar("SELECT Ntel FROM branch_tab WHERE no_rec = '01'"), "theirs");
    rs->cancelUpdate();

    // A change to a column this save does not touch stands beside it; a value set to what the
    // row already holds still finds the row.
    rs->moveNext();
    rs->setValue(u"Ntel", "mine");
    rs->update();
    rs->setValue(u"Ntel", "mine");
    rs->update();
    EXPECT_EQ(branch.scalar("SELECT CONCAT(Ntel, '/', Nfax) FROM branch_tab WHERE no_rec = '02'"), "mine/theirs");
}

TEST_F(RecordsetOnDatabase, TextHoldingNulReadsBackWhole)
{
    const QString value = QStringLiteral("nul") + QChar(0) + QStringLiteral("rest\u0628");
    auto rs = open("select * from branch_tab where 1 = 0", "branch_tab");
    rs->addNew();
    rs->setValue(u"no_rec", "01");
    rs->setValue(u"NAddres", value);
    rs->update();
    EXPECT_EQ(open("select * from branch_tab", "branch_tab")->text(u"NAddres"), value);
}

TEST_F(RecordsetOnDatabase, MovingSavesAPendingEditAndCancelDropsIt)
{
    branch.exec("INSERT INTO branch_tab (no_rec, Ntel) VALUES ('01', 'a'), ('02', 'b')");
    auto rs = open("select * from branch_tab order by no_rec", "branch_tab");
    rs->setValue(u"Ntel", "changed");
    rs->moveNext();
    EXPECT_EQ(branch.scalar("SELECT Ntel FROM branch_tab WHERE no_rec='01'"), "changed");
    rs->setValue(u"Ntel", "dropped");
    rs->cancelUpdate();
    EXPECT_EQ(rs->text(u"Ntel"), "b");
    rs->addNew();
    rs->setValue(u"no_rec", "03");
    rs->cancelUpdate();
    EXPECT_EQ(rs->recordCount(), 2);
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    EXPECT_THROW(rs->moveNext(), data::DbError);
    EXPECT_EQ(branch.scalar("SELECT COUNT(*) FROM branch_tab"), "2");
}

TEST_F(RecordsetOnDatabase, BinaryAndLongTextRoundTrip)
{
    QByteArray picture(200000, '\0');
    for (int i = 0; i < picture.size(); ++i)
        picture[i] = char(i * 7);
    const QString longText = QString(30000, QChar(0x0628));
    auto rs = open("select * from proj_tab where 1 = 0", "proj_tab");
    rs->addNew();
    rs->setValue(u"no_rec", "01");
    rs->setValue(u"Fld_Picture", picture);
    rs->setValue(u"Na_Rec", longText);
    rs->update();
    auto back = open("select * from proj_tab", "proj_tab");
    EXPECT_EQ(back->value(u"Fld_Picture").toByteArray(), picture);
    EXPECT_EQ(back->text(u"Na_Rec"), longText);
}

}  // namespace
