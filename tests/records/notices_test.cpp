#include "data/sql_text.h"
#include "records/notices.h"
#include "records_world.h"

#include <gtest/gtest.h>

#include <QCalendar>
#include <QDateTime>
#include <QRegularExpression>

using namespace tarvelo;
using namespace tarvelo::records;
using test::RecordsWorld;

namespace {

const QString kSync = QStringLiteral("branchsyn_tab");

QString hexUtf8(const QString& s)
{
    return QString::fromLatin1(s.toUtf8().toHex().toUpper());
}

class Notices : public ::testing::Test {
protected:
    void SetUp() override
    {
        w.fillTables();
        ASSERT_EQ(w.tables.slotOf(u"notic_tab"), 6);
    }

    qint32 counter() const { return w.tables.Tab_Send[6]; }

    QString cell(const QString& noRec, const QString& expr) const
    {
        return w.branchDb.scalar("select " + expr + " from notic_tab where no_rec = " + data::sqlLiteral(noRec));
    }

    QString rowCount() const { return w.branchDb.scalar(QStringLiteral("select count(*) from notic_tab")); }

    void putNotice(const QString& noRec, const QString& noNote, const QString& tablNote, const QString& text)
    {
        w.branchDb.exec("insert into notic_tab (no_rec, No_Branch, SynAdd, SynDele, No_Note, Tabl_Note, Na_Rec, "
                        "DatTim1) values ("
                        + QStringList{data::sqlLiteral(noRec), "'01'", "'0'", "'0'", data::sqlLiteral(noNote),
                                      data::sqlLiteral(tablNote), data::sqlLiteral(text), "'19990101000000'"}
                              .join(u',')
                        + ")");
    }

    // The stamps of one row agree with each other and with the clock around the call.
    void expectStamps(const QString& noRec, const QDate& from, const QDate& to, qint16 hijriAdj)
    {
        const QString datTim1 = cell(noRec, QStringLiteral("DatTim1"));
        ASSERT_TRUE(QRegularExpression(QStringLiteral("^\\d{14}$")).match(datTim1).hasMatch()) << datTim1.toStdString();
        const QDateTime stamp = QDateTime::fromString(datTim1, QStringLiteral("yyyyMMddHHmmss"));
        ASSERT_TRUE(stamp.isValid());
        EXPECT_TRUE(stamp.date() >= from && stamp.date() <= to);

        const QString redTim = cell(noRec, QStringLiteral("red_tim"));
        EXPECT_EQ(redTim.size(), 16);
        EXPECT_EQ(redTim, "20" + datTim1);
        EXPECT_EQ(cell(noRec, QStringLiteral("Date_Edit_G")), stamp.date().toString(QStringLiteral("yyyy-MM-dd")));
        EXPECT_EQ(cell(noRec, QStringLiteral("Time_Edit")), stamp.time().toString(QStringLiteral("HH:mm:ss")));

        // Hijri "yyyy-mm-dd" of the adjusted date, read back through the same calendar.
        const QString hijriText = cell(noRec, QStringLiteral("Date_Edit_H"));
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        const QStringList parts = hijriText.split(u'-');
        ASSERT_EQ(parts.size(), 3) << hijriText.toStdString();
        EXPECT_EQ(parts[0].size(), 4);
        EXPECT_EQ(hijri.dateFromParts(parts[0].toInt(), parts[1].toInt(), parts[2].toInt()),
                  stamp.date().addDays(hijriAdj));
        EXPECT_TRUE(parts[0].toInt() > 1400 && parts[0].toInt() < 1600);
    }

    RecordsWorld w;
};

}  // namespace

TEST_F(Notices, FirstNoticeInsertsOneRowTheSecondRefreshesIt)
{
    const QString arabic1 = QStringLiteral("بدء المزامنه في");
    const QDate day0 = QDate::currentDate();
    ASSERT_TRUE(Add_Notice(w.ctx, arabic1, QStringLiteral("Start Syn at"), QStringLiteral("01"), kSync));
    EXPECT_EQ(rowCount(), QStringLiteral("1"));
    const QString noRec = w.branchDb.scalar(QStringLiteral("select no_rec from notic_tab"));
    EXPECT_EQ(noRec, QStringLiteral("010000001"));
    EXPECT_EQ(counter(), 1);

    EXPECT_EQ(cell(noRec, QStringLiteral("No_Note")), QStringLiteral("01"));
    EXPECT_EQ(cell(noRec, QStringLiteral("Tabl_Note")), kSync);
    EXPECT_EQ(cell(noRec, QStringLiteral("red_rec")), QStringLiteral("1"));
    EXPECT_EQ(cell(noRec, QStringLiteral("hex(Na_Rec)")), hexUtf8(arabic1));
    EXPECT_EQ(cell(noRec, QStringLiteral("Ne_Rec")), QStringLiteral("Start Syn at"));
    EXPECT_EQ(cell(noRec, QStringLiteral("No_Branch")), QStringLiteral("01"));
    EXPECT_EQ(cell(noRec, QStringLiteral("SynAdd")), QStringLiteral("1"));
    EXPECT_EQ(cell(noRec, QStringLiteral("SynDele")), QStringLiteral("0"));  // the table's default
    EXPECT_EQ(cell(noRec, QStringLiteral("DatTim2 is null")), QStringLiteral("1"));
    expectStamps(noRec, day0, QDate::currentDate(), 0);

    const QString arabic2 = QStringLiteral("ارسال 3 استقبال 12 في");
    w.run.Hijri_Adj = 3;
    const QDate day1 = QDate::currentDate();
    ASSERT_TRUE(Add_Notice(w.ctx, arabic2, QStringLiteral("Send 3 Recepion 12 at"), QStringLiteral("01"), kSync));
    EXPECT_EQ(rowCount(), QStringLiteral("1"));
    EXPECT_EQ(cell(noRec, QStringLiteral("hex(Na_Rec)")), hexUtf8(arabic2));
    EXPECT_EQ(cell(noRec, QStringLiteral("Ne_Rec")), QStringLiteral("Send 3 Recepion 12 at"));
    expectStamps(noRec, day1, QDate::currentDate(), 3);
    EXPECT_EQ(counter(), 2);

    // Another subject gets its own row with the next number.
    ASSERT_TRUE(Add_Notice(w.ctx, QStringLiteral("لا توجد بصمة"), QStringLiteral("There is no fingerprint"),
                           QStringLiteral("010000004"), QStringLiteral("findev_tab")));
    EXPECT_EQ(rowCount(), QStringLiteral("2"));
    EXPECT_EQ(cell(QStringLiteral("010000002"), QStringLiteral("Tabl_Note")), QStringLiteral("findev_tab"));
    EXPECT_EQ(counter(), 3);
}

TEST_F(Notices, OnlyTheLowerNumberOfASubjectIsRefreshed)
{
    putNotice(QStringLiteral("010000007"), QStringLiteral("01"), kSync, QStringLiteral("older"));
    putNotice(QStringLiteral("010000003"), QStringLiteral("01"), kSync, QStringLiteral("old"));
    putNotice(QStringLiteral("010000001"), QStringLiteral("02"), kSync, QStringLiteral("other subject"));
    ASSERT_TRUE(Add_Notice(w.ctx, QStringLiteral("تحديث المزامنة في"), QStringLiteral("UpDate Syn at"),
                           QStringLiteral("01"), kSync));
    EXPECT_EQ(rowCount(), QStringLiteral("3"));
    EXPECT_EQ(cell(QStringLiteral("010000003"), QStringLiteral("hex(Na_Rec)")), hexUtf8("تحديث المزامنة في"));
    EXPECT_EQ(cell(QStringLiteral("010000003"), QStringLiteral("SynAdd")), QStringLiteral("1"));
    EXPECT_EQ(cell(QStringLiteral("010000007"), QStringLiteral("Na_Rec")), QStringLiteral("older"));
    EXPECT_EQ(cell(QStringLiteral("010000007"), QStringLiteral("SynAdd")), QStringLiteral("0"));
    EXPECT_EQ(cell(QStringLiteral("010000001"), QStringLiteral("Na_Rec")), QStringLiteral("other subject"));
    EXPECT_EQ(counter(), 1);
}

TEST_F(Notices, FailedNumberingWritesNothing)
{
    putNotice(QStringLiteral("019999999"), QStringLiteral("07"), QStringLiteral("findev_tab"), QStringLiteral("x"));
    EXPECT_FALSE(Add_Notice(w.ctx, QStringLiteral("بدء المزامنه في"), QStringLiteral("Start Syn at"),
                            QStringLiteral("01"), kSync));
    EXPECT_EQ(rowCount(), QStringLiteral("1"));
    EXPECT_EQ(counter(), 0);
}

TEST_F(Notices, UnreachableDatabaseWritesNothing)
{
    w.db.DB_Port_Loc = QString::fromLatin1(test::kClosedPort);
    EXPECT_FALSE(Add_Notice(w.ctx, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("01"), kSync));
    EXPECT_EQ(counter(), 0);
    w.db.DB_Port_Loc = w.branchDb.settings().port;
    EXPECT_EQ(rowCount(), QStringLiteral("0"));
}

TEST_F(Notices, FailureWhileFillingTheRowWritesNothingAndLeavesNoPendingEdit)
{
    putNotice(QStringLiteral("010000002"), QStringLiteral("01"), kSync, QStringLiteral("kept"));
    // A notices table without Time_Edit: the last column set fails.
    w.branchDb.exec(QStringLiteral("alter table notic_tab drop column Time_Edit"));

    EXPECT_FALSE(Add_Notice(w.ctx, QStringLiteral("new"), QStringLiteral("new"), QStringLiteral("01"), kSync));
    ASSERT_TRUE(w.vars.Rs_Notic);
    EXPECT_FALSE(w.vars.Rs_Notic->editPending());
    EXPECT_EQ(cell(QStringLiteral("010000002"), QStringLiteral("Na_Rec")), QStringLiteral("kept"));

    EXPECT_FALSE(Add_Notice(w.ctx, QStringLiteral("new"), QStringLiteral("new"), QStringLiteral("09"), kSync));
    EXPECT_FALSE(w.vars.Rs_Notic->editPending());
    EXPECT_EQ(rowCount(), QStringLiteral("1"));
    EXPECT_EQ(counter(), 0);

    // A move on the kept recordset saves nothing either.
    w.vars.Rs_Notic->moveFirst();
    EXPECT_EQ(rowCount(), QStringLiteral("1"));
}

TEST_F(Notices, TextsAreStoredAsGivenAndSubjectsAreQuoted)
{
    putNotice(QStringLiteral("010000001"), QStringLiteral("01"), kSync, QStringLiteral("kept"));
    const QString subject = QStringLiteral("x' or '1'='1");
    ASSERT_TRUE(Add_Notice(w.ctx, QString(), QStringLiteral(""), subject, QStringLiteral("findev_tab")));
    EXPECT_EQ(rowCount(), QStringLiteral("2"));
    EXPECT_EQ(cell(QStringLiteral("010000001"), QStringLiteral("Na_Rec")), QStringLiteral("kept"));
    EXPECT_EQ(cell(QStringLiteral("010000002"), QStringLiteral("No_Note")), subject);
    EXPECT_EQ(cell(QStringLiteral("010000002"), QStringLiteral("Na_Rec = '' and Ne_Rec = ''")), QStringLiteral("1"));

    // The same subject again refreshes that row.
    ASSERT_TRUE(Add_Notice(w.ctx, QStringLiteral("سحب بصمة عدد 5"), QStringLiteral("New rec 5"), subject,
                           QStringLiteral("findev_tab")));
    EXPECT_EQ(rowCount(), QStringLiteral("2"));
    EXPECT_EQ(cell(QStringLiteral("010000002"), QStringLiteral("hex(Na_Rec)")), hexUtf8("سحب بصمة عدد 5"));
    EXPECT_EQ(counter(), 2);
}
