#include "devices_world.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace tarvelo;
using test::DeviceSimulator;
using test::DevicesWorld;
using test::punch;
using devices::wire::Op;

namespace {

const QString kD = QStringLiteral("الجهاز رقم ");

class PullDevice : public ::testing::Test {
protected:
    // A punch row stored earlier by a pull of `device`.
    void storedPunch(const QString& noRec, const QString& enroll, const QString& dateLog, const QString& device)
    {
        w.records.branchDb.exec("insert into rst_tab (no_rec, No_Branch, SynAdd, NoUser, DateLog, No_findev) values ("
                                + QStringList{data::sqlLiteral(noRec), "'01'", "'0'", data::sqlLiteral(enroll),
                                              data::sqlLiteral(dateLog), data::sqlLiteral(device)}
                                      .join(u',')
                                + ")");
    }

    QStringList punchesOf(const QString& device) const
    {
        return w.rows("select NoUser, DateLog from rst_tab where No_findev = " + data::sqlLiteral(device)
                      + " order by no_rec");
    }

    QString notice(const QString& device) const
    {
        return w.scalar("select concat(Na_Rec, '/', Ne_Rec) from notic_tab where Tabl_Note = 'findev_tab' and No_Note = "
                        + data::sqlLiteral(device));
    }

    DevicesWorld w;
    DeviceSimulator sim{QStringLiteral("127.0.0.2")};
};

TEST_F(PullDevice, StoresEachNewPunchOnceUnderACompletedPullHeaderAndClearsTheDevice)
{
    w.addDevice("0100000000000001", sim);
    w.addUser("u-7", "7");
    w.addUser("u-12", "012");
    storedPunch("250100010000001", "7", "2024-03-05 07:00:00", "0100000000000001");
    storedPunch("250100010000002", "12", "2024-03-05 07:01:00", "0100000000000001");
    storedPunch("250100010000003", "7", "2024-03-05 16:00:00", "0100000000000001");
    sim.addPunches({punch("7", "2024-03-05 07:00:00"), punch("12", "2024-03-05 07:01:00"),
                    punch("7", "2024-03-05 16:00:00"), punch("12", "2024-03-05 16:30:00"),
                    punch("99", "2024-03-05 17:02:03")});

    EXPECT_EQ(w.dev().Pull_Devices(), "30");

    // Two new punches, numbered from the next batch of this branch's year code.
    EXPECT_EQ(w.rows("select no_rec, NoUser, DateLog, No_Rec2, No_user_1, No_findev, No_branch_1, No_Branch, SynAdd, "
                     "Na_Rec, Ne_Rec, KinSave, Tex1, Tex2, Tex3, Tex4, Tex5, Tex6, Tex7, kin, No_Sheft, No_Jops, "
                     "No_Secti, No_UseEdi, SynDele from rst_tab where SynAdd = '5' order by no_rec"),
              (QStringList{"250100020000001|12|2024-03-05 16:30:00|20240305163000|u-12|0100000000000001|01|01|5|--|--|"
                           "0|0|0|0.00|0.00|--|--|--|0|--|--|--|0100001|0",
                           "250100020000002|99|2024-03-05 17:02:03|20240305170203|--|0100000000000001|01|01|5|--|--|"
                           "0|0|0|0.00|0.00|--|--|--|0|--|--|--|0100001|0"}));

    // The pull header: numbered for this branch, completed with the recount and marked to be sent.
    const QStringList header = w.rows("select no_rec, No_findev, CRS1, SynAdd, LasDateG, No_Branch, Na_Rec, Ne_Rec, "
                                      "DRS1 from sendev_tab");
    ASSERT_EQ(header.size(), 1);
    const QStringList h = header[0].split(u'|');
    EXPECT_EQ(h.mid(0, 8), (QStringList{"010000001", "0100000000000001", "5", "1", "2024-03-05 17:02:03", "01", "--", "--"}));
    EXPECT_TRUE(QRegularExpression("^010100001\\d{12}$").match(h[8]).hasMatch()) << h[8].toStdString();
    EXPECT_EQ(w.rows("select distinct NRS2, DRS2 from rst_tab where SynAdd = '5'"), QStringList{h[0] + "|" + h[8]});
    const QString stamps = w.scalar("select concat(DatTim1, ' ', Date_Edit_G, ' ', Time_Edit) from sendev_tab");
    EXPECT_TRUE(QRegularExpression("^(\\d{4})(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d) \\1-\\2-\\3 \\4:\\5:\\6$")
                    .match(stamps).hasMatch())
        << stamps.toStdString();

    EXPECT_EQ(sim.logSize(), 0) << "the recount equalled the read, so the device was cleared";
    EXPECT_EQ(sim.countOf("postclear"), 1);
    EXPECT_TRUE(sim.waitAllClosed()) << "the device's connection ends with its pull";

    EXPECT_EQ(notice("0100000000000001"), "سحب بصمة عدد 5/New rec 5");
    EXPECT_EQ(w.messages(), (QStringList{kD + "0100000000000001 العثور على سجلات جديدة 5",
                                         kD + "0100000000000001 حذف السجلات من الجهاز ",
                                         kD + "0100000000000001 حفظ سجلات بصمة جديدة 2"}));
    // Both the header and the punches wait for the next send pass.
    EXPECT_EQ(w.sendCounter(u"sendev_tab"), 1);
    EXPECT_EQ(w.sendCounter(u"rst_tab"), 1);
    EXPECT_EQ(w.sendCounter(u"notic_tab"), 1);
    EXPECT_EQ(w.net.pinged, QStringList{"127.0.0.2"});
}

TEST_F(PullDevice, EnrollNumbersWithQuotesAreStoredAndKnownAgainAtTheNextPull)
{
    const QString quoted = QStringLiteral("7'; delete from rst_tab; -- \\");
    w.addDevice("0100000000000001", sim);
    sim.addPunches({punch(quoted, "2024-03-05 07:00:00"), punch("O'Neil", "2024-03-05 07:00:00")});
    sim.setClearAnswersFalse(true);

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.dev().Pull_Devices(), "30");

    EXPECT_EQ(w.rows("select NoUser from rst_tab order by no_rec"), (QStringList{quoted, "O'Neil"}));
    EXPECT_EQ(w.rows("select CRS1, SynAdd from sendev_tab order by no_rec"), (QStringList{"2|1", "2|1"}))
        << "each pull that read records has its header, also when nothing was new";
    EXPECT_EQ(w.messages().last(), kD + "0100000000000001 حفظ سجلات بصمة جديدة 0");
    EXPECT_EQ(sim.logSize(), 2) << "a clear that answered False clears nothing";
    EXPECT_FALSE(w.messages().contains(kD + "0100000000000001 حذف السجلات من الجهاز "))
        << "no clear is reported that did not happen";
}

TEST_F(PullDevice, APunchArrivingDuringThePullKeepsTheLogAndIsCountedInTheHeader)
{
    w.addDevice("0100000000000001", sim);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01")});
    sim.addPunchAfterRead(punch("3", "2024-03-05 07:00:02"));

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(sim.countOf("clear"), 0);
    EXPECT_EQ(sim.logSize(), 3);
    EXPECT_EQ(w.scalar("select CRS1 from sendev_tab"), "3");
    EXPECT_EQ(notice("0100000000000001"), "سحب بصمة عدد 3/New rec 3");
    EXPECT_EQ(w.scalar("select count(*) from rst_tab"), "2");

    // The next pull reads the late punch with the others and stores only it.
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(punchesOf("0100000000000001"),
              (QStringList{"1|2024-03-05 07:00:00", "2|2024-03-05 07:00:01", "3|2024-03-05 07:00:02"}));
    EXPECT_EQ(sim.logSize(), 0);
}

TEST_F(PullDevice, AnEmptyLogIsANoticeAndAFailedConnectIsAFailedDevice)
{
    w.addDevice("0100000000000001", sim);
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(notice("0100000000000001"), "لا توجد بصمة/There is no fingerprint");
    EXPECT_EQ(w.messages(), QStringList{kD + "0100000000000001لا توجد بصمة"});
    EXPECT_EQ(w.scalar("select count(*) from sendev_tab"), "0");

    sim.setRefusing(true);
    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    sim.setRefusing(false);
    sim.setSilent(true);
    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.messages().mid(1), (QStringList{kD + "0100000000000001 تعذر الاتصال بالجهاز",
                                                kD + "0100000000000001 تعذر الاتصال بالجهاز"}));
    EXPECT_EQ(notice("0100000000000001"), "لا توجد بصمة/There is no fingerprint")
        << "a device that could not be read is not reported as empty";
    EXPECT_TRUE(sim.waitAllClosed());
}

TEST_F(PullDevice, ADeviceStoppedMidLogLeavesNothingForTheNextDeviceToStoreAsItsOwn)
{
    DeviceSimulator second(QStringLiteral("127.0.0.3"));
    w.addDevice("0100000000000001", sim);
    w.addDevice("0100000000000002", second);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01"), punch("3", "2024-03-05 07:00:02")});
    sim.setDropAfterRecords(2);
    second.addPunches({punch("5", "2024-03-05 08:00:00"), punch("6", "2024-03-05 08:00:01")});

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.dev().MSFG3.rows(), 5) << "the grid shows the run's rows of both devices";
    EXPECT_EQ(punchesOf("0100000000000001"), QStringList{});
    EXPECT_EQ(punchesOf("0100000000000002"), (QStringList{"5|2024-03-05 08:00:00", "6|2024-03-05 08:00:01"}));
    EXPECT_EQ(w.rows("select No_findev, LasDateG, CRS1 from sendev_tab"),
              QStringList{"0100000000000002|2024-03-05 08:00:01|2"});
    EXPECT_EQ(w.errorLines(), QStringList{"Error SYN023(0)"});
    EXPECT_EQ(w.messages()[0], kD + "0100000000000001 انقطعت قراءة سجلات الجهاز");
    EXPECT_EQ(sim.logSize(), 3) << "a stopped pull never clears";
}

TEST_F(PullDevice, AnInvalidPortOrAddressIsAFailedDeviceThatIsNeverContacted)
{
    w.addDevice("0100000000000001", sim.address(), "70000");
    w.addDevice("0100000000000002", "127.0.0.2'; delete from rst_tab; --", sim.portText());
    w.addDevice("0100000000000003", "127.0.0.2", "");

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.messages(), (QStringList{kD + "0100000000000001 منفذ الجهاز غير صالح",
                                         kD + "0100000000000002 عنوان الجهاز غير صالح",
                                         kD + "0100000000000003 منفذ الجهاز غير صالح"}));
    EXPECT_EQ(sim.connects(), 0);
    EXPECT_TRUE(w.net.pinged.isEmpty());
    EXPECT_TRUE(w.errorLines().isEmpty());
}

TEST_F(PullDevice, TheSamePersonInTheSameSecondOnAnotherDeviceIsKept)
{
    DeviceSimulator second(QStringLiteral("127.0.0.3"));
    w.addDevice("0100000000000001", sim);
    w.addDevice("0100000000000002", second);
    sim.addPunch(punch("7", "2024-03-05 07:00:00"));
    second.addPunch(punch("7", "2024-03-05 07:00:00"));
    sim.setClearAnswersFalse(true);

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.rows("select No_findev, NoUser, DateLog from rst_tab order by no_rec"),
              (QStringList{"0100000000000001|7|2024-03-05 07:00:00", "0100000000000002|7|2024-03-05 07:00:00"}));
}

TEST_F(PullDevice, APunchTakenBetweenTheRecountAndTheClearStaysOnTheDevice)
{
    w.addDevice("0100000000000001", sim);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01")});
    sim.atRequest(Op::ClearRead, 1, punch("3", "2024-03-05 07:00:02"));
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(sim.punchLog(), std::vector{punch("3", "2024-03-05 07:00:02")});

    // A full device drops its oldest record for a punch taken during the save: same count, new punch kept.
    sim.setCapacity(2);
    sim.addPunch(punch("4", "2024-03-05 07:00:03"));
    sim.atRequest(Op::OpenLog, 2, punch("5", "2024-03-05 07:00:04"));
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(sim.punchLog(), std::vector{punch("5", "2024-03-05 07:00:04")});

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.scalar("select concat(count(*), '/', count(distinct NoUser)) from rst_tab"), "5/5");
    EXPECT_EQ(sim.logSize(), 0);
}

TEST_F(PullDevice, OneDeviceInTwoRowsIsPulledOnceAndItsPunchesAreStoredOnce)
{
    w.addDevice("0100000000000001", sim);
    w.addDevice("0100000000000002", sim);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01")});
    sim.atRequest(Op::OpenLog, 2, punch("3", "2024-03-05 07:00:02"));  // during the pull: no clear

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(sim.connects(), 2) << "one read and one recount";
    EXPECT_EQ(w.messages().filter(QStringLiteral("نفس الجهاز")),
              QStringList{kD + "0100000000000002 هو نفس الجهاز رقم 0100000000000001 (127.0.0.2:" + sim.portText()
                          + ")، يسحب مرة واحدة"});

    // The other row alone now: the punches stored under the first are known.
    w.records.branchDb.exec("update findev_tab set DesEna = '1' where no_rec = '0100000000000001'");
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.scalar("select count(*) from rst_tab"), "3");
    EXPECT_EQ(sim.logSize(), 0);
}

TEST_F(PullDevice, ARecordTheTableCannotHoldIsSetAsideAndThePullGoesOn)
{
    w.addDevice("0100000000000001", sim);
    const QString tooLong(300, u'9');
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch(tooLong, "2024-03-05 07:00:01"),
                    punch("2", "2024-03-05 07:00:02")});

    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(punchesOf("0100000000000001"), (QStringList{"1|2024-03-05 07:00:00", "2|2024-03-05 07:00:02"}));
    EXPECT_EQ(w.rows("select SynAdd, CRS1 from sendev_tab"), QStringList{"1|3"});
    EXPECT_EQ(sim.logSize(), 0) << "cleared of what was saved or set aside";
    EXPECT_EQ(w.messages()[1],
              kD + "0100000000000001 بصمة تركت لان جدول البصمات لا يقبلها: " + tooLong.left(80) + "… 2024-03-05 07:00:01");
    EXPECT_EQ(w.reasonLines().filter("device 0100000000000001 127.0.0.2:" + sim.portText() + " punch: punch 9999").size(), 1);

    // Failures enough to rotate the reason log twice: the punch stays whole in a file of its own.
    w.errorLog.reasons.setEcho(false);
    for (int i = 0; i < 3000; ++i)
        w.errorLog.reason("step " + QString::number(i), QString(800, u'x'), {});
    EXPECT_TRUE(w.reasonLines().filter(tooLong.left(80)).isEmpty());
    QFile kept(w.errorLog.refusedPunchesPath());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(kept.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    const QStringList f = lines[0].split(u'\t');
    ASSERT_EQ(f.size(), 6);
    EXPECT_EQ(f.mid(1, 4), (QStringList{"0100000000000001", "127.0.0.2:" + sim.portText(), tooLong, "2024-03-05 07:00:01"}));
    EXPECT_TRUE(f[5].contains("22001")) << f[5].toStdString();
}

TEST_F(PullDevice, APullPastItsDeadlineEndsLikeAFailedReadAndTheNextDeviceIsPulled)
{
    DeviceSimulator second(QStringLiteral("127.0.0.3"));
    w.addDevice("0100000000000001", sim);
    w.addDevice("0100000000000002", second);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01"),
                    punch("3", "2024-03-05 07:00:02"), punch("4", "2024-03-05 07:00:03")});
    sim.setRecordDelayMs(400);
    second.addPunch(punch("9", "2024-03-05 08:00:00"));
    w.dev().Pull_Bounds = {std::chrono::milliseconds(1000), std::chrono::milliseconds(0)};
    int pumpsMidRead = 0;
    w.onPump = [&] { pumpsMidRead += w.dev().MSFG3.rows() > 1 && w.dev().MSFG3.rows() < 5; };

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_GT(pumpsMidRead, 0) << "window events run between the records";
    EXPECT_EQ(w.messages()[0], kD + "0100000000000001 انتهت مهلة سحب الجهاز");
    EXPECT_EQ(sim.logSize(), 4);
    EXPECT_EQ(punchesOf("0100000000000001"), QStringList{});
    EXPECT_EQ(punchesOf("0100000000000002"), QStringList{"9|2024-03-05 08:00:00"});

    sim.setRecordDelayMs(0);
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(punchesOf("0100000000000001").size(), 4);
    EXPECT_EQ(sim.logSize(), 0);
}

TEST_F(PullDevice, AnExhaustedPunchNumberingStopsThePullsOnceAndTheDevicesKeepTheirPunches)
{
    DeviceSimulator second(QStringLiteral("127.0.0.3"));
    w.addDevice("0100000000000001", sim);
    w.addDevice("0100000000000002", second);
    storedPunch("250199990000001", "1", "2024-01-01 00:00:00", "0100000000000001");
    sim.addPunch(punch("2", "2024-03-05 07:00:00"));
    second.addPunch(punch("3", "2024-03-05 07:00:00"));

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.messages(), (QStringList{kD + "0100000000000001 العثور على سجلات جديدة 1",
                                         kD + "0100000000000001 نفد ترقيم سحب البصمات لهذه السنة، تبقى البصمات "
                                              "على الاجهزة ولا تحفظ"}));
    EXPECT_EQ(notice("0100000000000001"), "نفد ترقيم سحب البصمات لهذه السنة، البصمات باقية على الاجهزة/"
                                          "Punch numbering of this year is used up; punches stay on the devices");
    EXPECT_EQ(w.reasonLines().size(), 1);
    EXPECT_EQ(sim.logSize(), 1);
    EXPECT_EQ(second.connects(), 0);
    EXPECT_EQ(w.scalar("select count(*) from sendev_tab"), "0");
}

TEST_F(PullDevice, AConnectionLostAtTheRecountLeavesAHeaderThatTheNextPullCompletes)
{
    w.addDevice("0100000000000001", sim);
    sim.addPunches({punch("1", "2024-03-05 07:00:00"), punch("2", "2024-03-05 07:00:01")});
    sim.atRequest(Op::OpenLog, 2);

    EXPECT_EQ(w.dev().Pull_Devices(), "31");
    EXPECT_EQ(w.messages().last(), kD + "0100000000000001 انقطعت قراءة سجلات الجهاز");
    EXPECT_EQ(w.rows("select SynAdd, CRS1 from sendev_tab"), QStringList{"0|0"});
    EXPECT_EQ(sim.logSize(), 2);

    sim.addPunch(punch("3", "2024-03-05 07:00:02"));
    EXPECT_EQ(w.dev().Pull_Devices(), "30");
    EXPECT_EQ(w.rows("select SynAdd, CRS1 from sendev_tab order by no_rec"), (QStringList{"1|3", "1|3"}));
    EXPECT_EQ(punchesOf("0100000000000001").size(), 3);
    EXPECT_EQ(sim.logSize(), 0);
}

}  // namespace
