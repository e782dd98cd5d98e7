// The pull of every device with its reachability diagnosis, and the saving of punches.
#include "data/sql_text.h"
#include "devices/addresses.h"
#include "devices/devices.h"
#include "records/notices.h"
#include "records/record_numbering.h"

#include <QCalendar>

namespace tarvelo::devices {

namespace {

const QString kFindev = QStringLiteral("findev_tab");
const QString kSendev = QStringLiteral("sendev_tab");
const QString kRst = QStringLiteral("rst_tab");
const QString kDevicePrefix = QStringLiteral("الجهاز رقم ");
const QString kEditor = QStringLiteral("0100001");

QString lit(const QString& v)
{
    return data::sqlLiteral(v);
}

// An enroll number and a user's NoUser match by value when both are numbers, else as texts.
bool sameUser(const QString& enroll, const QString& noUser)
{
    bool okA = false, okB = false;
    const double a = enroll.trimmed().toDouble(&okA);
    const double b = noUser.trimmed().toDouble(&okB);
    if (okA && okB)
        return a == b;
    return enroll.trimmed() == noUser.trimmed();
}

// Drops an unsaved row, so that a later move on the recordset cannot save half of it.
void dropEdit(const data::RecordsetVar& rs)
{
    try {
        if (rs && rs->isOpen())
            rs->cancelUpdate();
    } catch (...) {
    }
}

}  // namespace

Devices::Devices(DevicesContext ctx) : MSFG3(QStringLiteral("MSFG3"), data::ActivityLogs::GridWidth), ctx_(std::move(ctx))
{
    Grid_Head_Punch();
}

QDateTime Devices::now() const
{
    return ctx_.clock ? ctx_.clock() : QDateTime::currentDateTime();
}

void Devices::pump() const
{
    if (ctx_.pump)
        ctx_.pump();
}

QStringList Devices::machineAddresses() const
{
    return ctx_.ipList ? ctx_.ipList() : Get_Ip_List();
}

void Devices::logDevice(const QString& deviceNoRec, const QString& text)
{
    ctx_.logs.Add_LogMsg(kDevicePrefix + deviceNoRec + text);
}

void Devices::diagnose(const QString& deviceNoRec, const QString& deviceThird, const QString& machineThird)
{
    const bool modem = deviceThird != machineThird;
    const QString arabic = modem ? QStringLiteral("غير متصل بسبب تغيير المودم") : QStringLiteral("غير متصل , تاكد من الكيبل");
    const QString english =
        modem ? QStringLiteral("Not connected due to modem IP") : QStringLiteral("Not connected, check the cable");
    if (records::Add_Notice(ctx_.records, arabic, english, deviceNoRec, kFindev))
        logDevice(deviceNoRec, arabic);
}

QString Devices::Pull_Devices()
{
    QString code;
    try {
        const QString machineThird = Ip_Part3(Get_Local_Ip(machineAddresses()));
        code = QStringLiteral("00");
        MSFG3.setRows(1);

        const QString clause = "where No_Branch_1 = " + lit(ctx_.records.run.config.My_Branch)
                               + " and Kin2 = '1' and DesEna = '0'";
        if (!ctx_.records.db.Open_Rs_Loc(Rs_Findev, kFindev, clause))
            return code = QStringLiteral("10");
        if (!Rs_Findev || Rs_Findev->recordCount() <= 0)
            return code = QStringLiteral("20");

        code = QStringLiteral("30");
        bool everyDeviceDone = true;
        const long long count = Rs_Findev->recordCount();
        Rs_Findev->moveFirst();
        for (long long i = 0; i < count; ++i) {
            const QString deviceThird = Ip_Part3(Rs_Findev->text(u"texIP"));
            const QString deviceNoRec = Rs_Findev->text(u"no_rec");
            const qint32 result = Pull_Device();
            // Outcomes are not summed: an unreachable device (1) and a stopped one (-1) must not
            // cancel out into success.
            if (result != outcome::Done)
                everyDeviceDone = false;
            if (result == outcome::NotReachable)
                diagnose(deviceNoRec, deviceThird, machineThird);
            Rs_Findev->moveNext();
        }
        code = everyDeviceDone ? QStringLiteral("30") : QStringLiteral("31");
    } catch (const std::exception&) {
        ctx_.errorLog.failure(QStringLiteral("SYN022"));
        // An error among the devices means some device was not pulled.
        if (code == u"30")
            code = QStringLiteral("31");
    }
    return code;
}

qint32 Devices::Pull_Device()
{
    const QDateTime started = now();
    const QString pullStamp = started.toString(QStringLiteral("yyyyMMddHHmmss"));
    // The device's connection ends with its pull, whatever happens in it.
    struct Hangup {
        DeviceSdk& sdk;
        ~Hangup() { sdk.Sdk_Disconnect(); }
    } hangup{ctx_.Dev_Obj};

    try {
        if (!Rs_Findev || !Rs_Findev->isOpen())
            return outcome::Stopped;
        records::RecordsContext& rc = ctx_.records;
        const QString& myBranch = rc.run.config.My_Branch;
        const QString deviceNoRec = Rs_Findev->text(u"no_rec");
        const QString address = Rs_Findev->text(u"texIP");
        const std::optional<qint32> port = devicePort(Rs_Findev->text(u"texPort"));
        if (!isDottedIpv4(address)) {
            logDevice(deviceNoRec, QStringLiteral(" عنوان الجهاز غير صالح"));
            return outcome::Stopped;
        }
        if (!port) {
            logDevice(deviceNoRec, QStringLiteral(" منفذ الجهاز غير صالح"));
            return outcome::Stopped;
        }

        if (!ctx_.net.Sock_Start())
            return outcome::NotReachable;
        data::EchoReply reply;
        const qint32 status = ctx_.net.Ping_Ip(address, reply);
        ctx_.net.Sock_Clean();
        if (data::Ping_Status_Text(status) != u"OK")
            return outcome::NotReachable;
        pump();

        // Only the rows this read adds belong to this device; earlier rows of the run are another's.
        const int firstRow = MSFG3.rows();
        const std::optional<qint32> read = Read_Dev_Log(address, *port);
        if (!read) {
            logDevice(deviceNoRec, QStringLiteral(" تعذر الاتصال بالجهاز"));
            return outcome::Stopped;
        }
        const qint32 n = *read;
        if (n < 1) {
            if (!records::Add_Notice(rc, QStringLiteral("لا توجد بصمة"), QStringLiteral("There is no fingerprint"),
                                     deviceNoRec, kFindev))
                return outcome::Stopped;
            logDevice(deviceNoRec, QStringLiteral("لا توجد بصمة"));
            return outcome::Done;
        }
        logDevice(deviceNoRec, QStringLiteral(" العثور على سجلات جديدة ") + QString::number(n));

        Map_Users();

        const QString batch = records::New_No_Rec(rc, 1, 4, Rs_Rst, kRst);
        if (batch.size() != 8)
            return outcome::Stopped;
        if (MSFG3.rows() < 2 || firstRow >= MSFG3.rows())
            return outcome::Stopped;

        Sendev_No = Save_Sendev(deviceNoRec, MSFG3.textMatrix(MSFG3.rows() - 1, 2));
        if (Sendev_No == records::kNoNumber)
            return outcome::Stopped;

        qint32 saved = 0;
        for (int i = firstRow; i < MSFG3.rows(); ++i) {
            const QString enroll = MSFG3.textMatrix(i, 1);
            const QString punch = MSFG3.textMatrix(i, 2);
            // The same person in the same second on another device is another punch, and is kept.
            const QString clause = "where DateLog = " + lit(punch) + " and NoUser = " + lit(enroll)
                                   + " and No_findev = " + lit(deviceNoRec);
            if (!rc.db.Open_Rs_Loc(Rs_Rst, kRst, clause))
                return outcome::Stopped;
            if (Rs_Rst->recordCount() > 0)
                continue;
            ++saved;
            if (!Save_Rst(deviceNoRec, enroll, MSFG3.textMatrix(i, 3), punch, pullStamp, myBranch,
                          batch + QString::number(saved).rightJustified(7, u'0'), Sendev_No, Sendev_Key))
                return outcome::Stopped;
        }

        bool failed = false;
        const std::optional<qint32> recount = Count_Dev_Log(address, *port);
        if (!recount) {
            logDevice(deviceNoRec, QStringLiteral(" تعذر الاتصال بالجهاز"));
            failed = true;
        } else if (*recount == n) {
            bool cleared = false;
            try {
                cleared = Clear_Dev_Log();
            } catch (const std::exception&) {
                // The punches are stored; their header row is still completed below.
                ctx_.errorLog.failure(QStringLiteral("SYN023"));
                failed = true;
            }
            if (cleared)
                logDevice(deviceNoRec, QStringLiteral(" حذف السجلات من الجهاز "));
        }
        const QString count = QString::number(recount ? *recount : n);

        if (!rc.db.Update_Loc(Rs_Sendev, "SynAdd=  '1',CRS1=  " + lit(count), kSendev,
                              "where no_rec = " + lit(Sendev_No)))
            return outcome::Stopped;
        records::Add_Notice(rc, QStringLiteral("سحب بصمة عدد ") + count, QStringLiteral("New rec ") + count,
                            deviceNoRec, kFindev);
        logDevice(deviceNoRec, QStringLiteral(" حفظ سجلات بصمة جديدة ") + QString::number(saved));

        rc.tables.raiseSend(kSendev);
        // The punch rows wait for the send pass too, not for the next full rescan.
        rc.tables.raiseSend(kRst);
        return failed ? outcome::Stopped : outcome::Done;
    } catch (const std::exception&) {
        ctx_.errorLog.failure(QStringLiteral("SYN023"));
        return outcome::Stopped;
    }
}

void Devices::Map_Users()
{
    try {
        if (MSFG3.rows() <= 1)
            return;
        if (!ctx_.records.db.Open_Rs_Loc(Rs_User, QStringLiteral("user_tab"), QStringLiteral("where NoUser > 0 ")))
            return;
        if (!Rs_User || Rs_User->recordCount() <= 0)
            return;
        for (Rs_User->moveFirst(); !Rs_User->eof(); Rs_User->moveNext()) {
            const QString noUser = Rs_User->text(u"NoUser");
            const QString userNoRec = Rs_User->text(u"no_rec");
            for (int i = 1; i < MSFG3.rows(); ++i)
                if (sameUser(MSFG3.textMatrix(i, 1), noUser))
                    MSFG3.setTextMatrix(i, 3, userNoRec);
        }
    } catch (const std::exception&) {
        ctx_.errorLog.failure(QStringLiteral("SYN024"));
    }
}

QString Devices::Save_Sendev(const QString& deviceNoRec, const QString& lastPunch)
{
    records::RecordsContext& rc = ctx_.records;
    const QDateTime t = now();
    Sendev_Key = rc.run.config.My_Branch + kEditor + t.toString(QStringLiteral("yyMMdd"))
                 + t.toString(QStringLiteral("HHmmss"));
    Sendev_No = records::New_No_Rec(rc, 1, 7, Rs_Sendev, kSendev);
    if (Sendev_No == records::kNoNumber || !Rs_Sendev)
        return records::kNoNumber;

    try {
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        data::Recordset& rs = *Rs_Sendev;
        rs.addNew();
        rs.setValue(u"no_rec", Sendev_No);
        rs.setValue(u"Na_Rec", QStringLiteral("--"));
        rs.setValue(u"Ne_Rec", QStringLiteral("--"));
        rs.setValue(u"No_findev", deviceNoRec);
        rs.setValue(u"DRS1", Sendev_Key);
        rs.setValue(u"CRS1", QStringLiteral("0"));
        rs.setValue(u"No_Branch", rc.run.config.My_Branch);
        rs.setValue(u"LasDateG", lastPunch);
        rs.setValue(u"DatTim1", t.toString(QStringLiteral("yyyyMMddHHmmss")));
        rs.setValue(u"SynAdd", QStringLiteral("0"));
        rs.setValue(u"Date_Edit_H", t.date().addDays(rc.run.Hijri_Adj).toString(QStringLiteral("yyyy-MM-dd"), hijri));
        rs.setValue(u"Date_Edit_G", t.date().toString(QStringLiteral("yyyy-MM-dd")));
        rs.setValue(u"Time_Edit", t.time().toString(QStringLiteral("HH:mm:ss")));
        rs.update();
    } catch (...) {
        dropEdit(Rs_Sendev);
        throw;
    }
    return Sendev_No;
}

bool Devices::Save_Rst(const QString& deviceNoRec, const QString& enroll, const QString& userNoRec,
                       const QString& punch, const QString& pullStamp, const QString& branch, const QString& noRec,
                       const QString& pullNo, const QString& pullKey)
{
    if (noRec == records::kNoNumber)
        return false;
    try {
        const QDateTime t = now();
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        const QDateTime punchTime = QDateTime::fromString(punch, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QString punchDigits = punch;
        punchDigits.remove(u'-').remove(u' ').remove(u':');
        data::Recordset& rs = *Rs_Rst;
        rs.addNew();
        rs.setValue(u"no_rec", noRec);
        rs.setValue(u"Na_Rec", QStringLiteral("--"));
        rs.setValue(u"Ne_Rec", QStringLiteral("--"));
        rs.setValue(u"No_findev", deviceNoRec);
        rs.setValue(u"NoUser", enroll);
        rs.setValue(u"No_Rec2", punchTime.isValid() ? punchTime.toString(QStringLiteral("yyyyMMddHHmmss")) : punchDigits);
        rs.setValue(u"No_user_1", userNoRec);
        rs.setValue(u"DateLog", punch);
        rs.setValue(u"No_branch_1", branch);
        rs.setValue(u"TimeDate", pullStamp);
        rs.setValue(u"KinSave", QStringLiteral("0"));
        rs.setValue(u"Tex1", QStringLiteral("0"));
        rs.setValue(u"Tex2", QStringLiteral("0"));
        rs.setValue(u"Tex3", QStringLiteral("0.00"));
        rs.setValue(u"Tex4", QStringLiteral("0.00"));
        rs.setValue(u"Tex5", QStringLiteral("--"));
        rs.setValue(u"Tex6", QStringLiteral("--"));
        rs.setValue(u"Tex7", QStringLiteral("--"));
        rs.setValue(u"kin", QStringLiteral("0"));
        rs.setValue(u"No_Sheft", QStringLiteral("--"));
        rs.setValue(u"No_Jops", QStringLiteral("--"));
        rs.setValue(u"No_Secti", QStringLiteral("--"));
        rs.setValue(u"NRS2", pullNo);
        rs.setValue(u"DRS2", pullKey);
        rs.setValue(u"Date_Edit_H", t.date().addDays(ctx_.records.run.Hijri_Adj).toString(QStringLiteral("yyyy-MM-dd"), hijri));
        rs.setValue(u"Date_Edit_G", t.date().toString(QStringLiteral("yyyy-MM-dd")));
        rs.setValue(u"DatTim1", t.toString(QStringLiteral("yyyyMMddHHmmss")));
        rs.setValue(u"SynAdd", QStringLiteral("5"));
        rs.setValue(u"Time_Edit", t.time().toString(QStringLiteral("HH:mm:ss")));
        rs.setValue(u"No_UseEdi", kEditor);
        rs.setValue(u"No_Branch", branch);
        rs.update();
        return true;
    } catch (const std::exception&) {
        dropEdit(Rs_Rst);
        ctx_.errorLog.failure(QStringLiteral("SYN025"));
        return false;
    }
}

}  // namespace tarvelo::devices
