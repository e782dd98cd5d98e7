// The pull of every device with its reachability diagnosis, and the saving of punches.
#include "data/sql_text.h"
#include "devices/addresses.h"
#include "devices/devices.h"
#include "records/notices.h"
#include "records/record_numbering.h"

#include <QCalendar>
#include <QHash>

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

// How the reason log names a device row.
QString deviceStep(const QString& noRec, const QString& address, const QString& port)
{
    return "device " + noRec + " " + address + ":" + port;
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

void Devices::diagnose(const QString& deviceNoRec, const QString& step, const QString& deviceThird,
                       const QString& machineThird)
{
    const bool modem = deviceThird != machineThird;
    ctx_.errorLog.reason(step, QStringLiteral("the device did not answer the echo"),
                         modem ? QStringLiteral("the modem: the device's address is not on this machine's subnet")
                               : QStringLiteral("the device's network cable and power"));
    const QString arabic = modem ? QStringLiteral("غير متصل بسبب تغيير المودم") : QStringLiteral("غير متصل , تاكد من الكيبل");
    const QString english =
        modem ? QStringLiteral("Not connected due to modem IP") : QStringLiteral("Not connected, check the cable");
    if (records::Add_Notice(ctx_.records, arabic, english, deviceNoRec, kFindev))
        logDevice(deviceNoRec, arabic);
}

struct Devices::Device {
    QString noRec;
    QString address;
    qint32 port = 0;
    QStringList rows;  // every row of this branch for this address and port, this one first

    // How the reason log names the device.
    QString step() const { return deviceStep(noRec, address, QString::number(port)); }
    // The punches and pull headers of this device, under whichever of its rows they were stored.
    QString ownClause() const
    {
        QStringList literals;
        for (const QString& r : rows)
            literals << lit(r);
        return rows.size() == 1 ? " and No_findev = " + literals[0] : " and No_findev in (" + literals.join(u", ") + ")";
    }
};

QString Devices::Pull_Devices()
{
    QString code;
    numberingReported_ = false;
    numberingExhausted_ = false;
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
        // One device entered in two rows is pulled once: a second pull would store its punches again.
        QHash<QString, QString> pulledRow;
        const long long count = Rs_Findev->recordCount();
        Rs_Findev->moveFirst();
        for (long long i = 0; i < count; ++i, Rs_Findev->moveNext()) {
            const QString deviceThird = Ip_Part3(Rs_Findev->text(u"texIP"));
            const QString deviceNoRec = Rs_Findev->text(u"no_rec");
            const std::optional<qint32> port = devicePort(Rs_Findev->text(u"texPort"));
            const QString endpoint = Rs_Findev->text(u"texIP").trimmed() + u':' + QString::number(port.value_or(0));
            if (port && pulledRow.contains(endpoint)) {
                logDevice(deviceNoRec, QStringLiteral(" هو نفس الجهاز رقم ") + pulledRow.value(endpoint) + " ("
                                           + endpoint + QStringLiteral(")، يسحب مرة واحدة"));
                continue;
            }
            if (port)
                pulledRow.insert(endpoint, deviceNoRec);
            const qint32 result = Pull_Device();
            // Outcomes are not summed: an unreachable device (1) and a stopped one (-1) must not
            // cancel out into success.
            if (result != outcome::Done)
                everyDeviceDone = false;
            else
                ctx_.errorLog.works(deviceStep(deviceNoRec, Rs_Findev->text(u"texIP"), Rs_Findev->text(u"texPort")));
            if (result == outcome::NotReachable)
                diagnose(deviceNoRec, deviceStep(deviceNoRec, Rs_Findev->text(u"texIP"), Rs_Findev->text(u"texPort")),
                         deviceThird, machineThird);
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

void Devices::deviceFailed(const Device& d, const QString& line, const QString& why, const QString& check)
{
    logDevice(d.noRec, line);
    ctx_.errorLog.reason(d.step(), why, check);
}

qint32 Devices::Pull_Device()
{
    const QDateTime started = now();
    const QString pullStamp = started.toString(QStringLiteral("yyyyMMddHHmmss"));
    // The device's connection and the pull's deadline end with its pull, whatever happens in it.
    struct Hangup {
        DeviceSdk& sdk;
        DeviceWait& wait;
        ~Hangup()
        {
            sdk.Sdk_Disconnect();
            sdk.Sdk_Set_Wait(nullptr);
            wait.deadline = DeviceWait::Clock::time_point::max();
        }
    } hangup{ctx_.Dev_Obj, wait_};

    Device d;
    try {
        if (!Rs_Findev || !Rs_Findev->isOpen())
            return outcome::Stopped;
        records::RecordsContext& rc = ctx_.records;
        d.noRec = Rs_Findev->text(u"no_rec");
        d.address = Rs_Findev->text(u"texIP");
        const std::optional<qint32> port = devicePort(Rs_Findev->text(u"texPort"));
        const QString step = deviceStep(d.noRec, d.address, Rs_Findev->text(u"texPort"));
        if (!isDottedIpv4(d.address)) {
            logDevice(d.noRec, QStringLiteral(" عنوان الجهاز غير صالح"));
            ctx_.errorLog.reason(step, QStringLiteral("the address is not a dotted IPv4 address"),
                                 QStringLiteral("texIP of this row in findev_tab"));
            return outcome::Stopped;
        }
        if (!port) {
            logDevice(d.noRec, QStringLiteral(" منفذ الجهاز غير صالح"));
            ctx_.errorLog.reason(step, QStringLiteral("the port is not a number from 1 to 65535"),
                                 QStringLiteral("texPort of this row in findev_tab"));
            return outcome::Stopped;
        }
        d.port = *port;
        // Said once this run; no device can save a punch until the numbering allows it.
        if (numberingExhausted_)
            return outcome::Stopped;

        if (!ctx_.net.Sock_Start())
            return outcome::NotReachable;
        data::EchoReply reply;
        const qint32 status = ctx_.net.Ping_Ip(d.address, reply);
        ctx_.net.Sock_Clean();
        if (data::Ping_Status_Text(status) != u"OK")
            return outcome::NotReachable;
        pump();

        data::RecordsetVar twins;
        if (!rc.db.Open_Rs_Loc(twins, kFindev,
                               "where No_Branch_1 = " + lit(rc.run.config.My_Branch) + " and texIP = " + lit(d.address)))
            return outcome::Stopped;
        d.rows << d.noRec;
        for (twins->moveFirst(); !twins->eof(); twins->moveNext())
            if (twins->text(u"no_rec") != d.noRec && devicePort(twins->text(u"texPort")) == port)
                d.rows << twins->text(u"no_rec");

        wait_.pump = ctx_.pump;
        wait_.deadline = DeviceWait::Clock::now()
                         + std::chrono::duration_cast<DeviceWait::Clock::duration>(Pull_Bounds.base);
        ctx_.Dev_Obj.Sdk_Set_Wait(&wait_);
        return pullDevice(d, pullStamp);
    } catch (const DeadlineError& e) {
        deviceFailed(d, QStringLiteral(" انتهت مهلة سحب الجهاز"), QString::fromStdString(e.what()),
                     QStringLiteral("the device's network and load: a pull may take %1 s plus %2 s per 1000 records; "
                                    "nothing was cleared and the next pull reads the device again")
                         .arg(Pull_Bounds.base.count() / 1000.0)
                         .arg(Pull_Bounds.perThousand.count() / 1000.0));
        return outcome::Stopped;
    } catch (const SdkError& e) {
        ctx_.errorLog.failure(QStringLiteral("SYN023"));
        deviceFailed(d, QStringLiteral(" انقطعت قراءة سجلات الجهاز"), QString::fromStdString(e.what()),
                     QStringLiteral("the device's network cable and power; nothing was cleared and the next pull "
                                    "reads the device again"));
        return outcome::Stopped;
    } catch (const std::exception&) {
        ctx_.errorLog.failure(QStringLiteral("SYN023"));
        return outcome::Stopped;
    }
}

qint32 Devices::pullDevice(const Device& d, const QString& pullStamp)
{
    records::RecordsContext& rc = ctx_.records;
    const QString notConnected = QStringLiteral(" تعذر الاتصال بالجهاز");
    const QString checkConnect = QStringLiteral("the device's address and port in findev_tab, its power and cable");

    // Only the rows this read adds belong to this device; earlier rows of the run are another's.
    const int firstRow = MSFG3.rows();
    const std::optional<qint32> read = Read_Dev_Log(d.address, d.port);
    if (!read) {
        deviceFailed(d, notConnected, deviceError_, checkConnect);
        return outcome::Stopped;
    }
    const qint32 n = *read;
    if (n < 1) {
        if (!records::Add_Notice(rc, QStringLiteral("لا توجد بصمة"), QStringLiteral("There is no fingerprint"), d.noRec,
                                 kFindev))
            return outcome::Stopped;
        logDevice(d.noRec, QStringLiteral("لا توجد بصمة"));
        finishLeftHeaders(d, QStringLiteral("0"));
        return outcome::Done;
    }
    logDevice(d.noRec, QStringLiteral(" العثور على سجلات جديدة ") + QString::number(n));

    Map_Users();

    QString batch;
    if (!batchKey(d, batch))
        return outcome::Stopped;
    if (MSFG3.rows() < 2 || firstRow >= MSFG3.rows())
        return outcome::Stopped;

    Sendev_No = Save_Sendev(d.noRec, MSFG3.textMatrix(MSFG3.rows() - 1, 2));
    if (Sendev_No == records::kNoNumber)
        return outcome::Stopped;

    qint32 saved = 0;
    if (!saveRows(d, firstRow, batch, pullStamp, saved))
        return outcome::Stopped;

    // A recount that fails is a failed read: the header waits for the next pull, nothing is cleared.
    const std::optional<qint32> recount = Count_Dev_Log(d.address, d.port);
    if (!recount) {
        deviceFailed(d, notConnected, deviceError_, checkConnect);
        return outcome::Stopped;
    }
    bool failed = false;
    if (*recount == n) {
        // Every record read is stored or set aside: the one exchange left is the clear, and it only
        // drops what was read, so a punch taken meanwhile stays on the device.
        wait_.deadline = DeviceWait::Clock::time_point::max();
        bool cleared = false;
        try {
            cleared = Clear_Dev_Log(n, lastRead_);
        } catch (const std::exception& e) {
            // The punches are stored; their header row is still completed below.
            ctx_.errorLog.failure(QStringLiteral("SYN023"));
            ctx_.errorLog.reason(d.step(), "the clear got no answer: " + QString::fromStdString(e.what()),
                                 QStringLiteral("the device's network cable and power; the punches are saved and "
                                                "the next pull finds them stored"));
            failed = true;
        }
        if (cleared)
            logDevice(d.noRec, QStringLiteral(" حذف السجلات من الجهاز "));
    }
    const QString count = QString::number(*recount);

    if (!rc.db.Update_Loc(Rs_Sendev, "SynAdd=  '1',CRS1=  " + lit(count), kSendev, "where no_rec = " + lit(Sendev_No)))
        return outcome::Stopped;
    finishLeftHeaders(d, count);
    records::Add_Notice(rc, QStringLiteral("سحب بصمة عدد ") + count, QStringLiteral("New rec ") + count, d.noRec,
                        kFindev);
    logDevice(d.noRec, QStringLiteral(" حفظ سجلات بصمة جديدة ") + QString::number(saved));

    rc.tables.raiseSend(kSendev);
    // The punch rows wait for the send pass too, not for the next full rescan.
    rc.tables.raiseSend(kRst);
    return failed ? outcome::Stopped : outcome::Done;
}

bool Devices::batchKey(const Device& d, QString& batch)
{
    records::RecordsContext& rc = ctx_.records;
    batch = records::New_No_Rec(rc, 1, 4, Rs_Rst, kRst);
    if (batch.size() == 8)
        return true;
    // The batch format (year code, branch, four digits) is the accounting application's: once batch
    // 9999 of the year is taken, no punch can be saved until the year code changes.
    bool exhausted = false;
    try {
        exhausted = batch == records::kNoNumber && Rs_Rst && Rs_Rst->isOpen() && Rs_Rst->recordCount() > 0
                    && Rs_Rst->text(u"no_rec").mid(4, 4) == u"9999";
    } catch (const std::exception&) {
    }
    if (!exhausted)
        return false;
    numberingExhausted_ = true;
    if (numberingReported_)
        return false;
    numberingReported_ = true;
    logDevice(d.noRec, QStringLiteral(" نفد ترقيم سحب البصمات لهذه السنة، تبقى البصمات على الاجهزة ولا تحفظ"));
    records::Add_Notice(rc, QStringLiteral("نفد ترقيم سحب البصمات لهذه السنة، البصمات باقية على الاجهزة"),
                        QStringLiteral("Punch numbering of this year is used up; punches stay on the devices"), d.noRec,
                        kFindev);
    ctx_.errorLog.reason(d.step(),
                         "the punch batch numbering of year code " + rc.run.Kin_Yer
                             + " is used up (batch 9999 is taken); no punch is saved and the devices keep theirs",
                         QStringLiteral("the accounting application's year code: punches are saved again once it "
                                        "starts a new year's numbering"));
    return false;
}

namespace {

// A database refusal of the values themselves (SQLSTATE class 22: too long, out of range, not a
// date), as opposed to a connection or statement failure that another try may get past.
bool valuesRefused(const QString& sqlState)
{
    return sqlState.startsWith(u"22");
}

QString shortened(const QString& text, int limit)
{
    return text.size() > limit ? text.left(limit) + QStringLiteral("…") : text;
}

}  // namespace

void Devices::setAside(const Device& d, const QString& enroll, const QString& punch)
{
    logDevice(d.noRec, QStringLiteral(" بصمة تركت لان جدول البصمات لا يقبلها: ") + shortened(enroll, 80) + " " + punch);
    // The device forgets it at the clear: its one whole copy goes where nothing rotates it away.
    ctx_.errorLog.keepRefusedPunch(now(), d.noRec, d.address + u':' + QString::number(d.port), enroll, punch, saveError_);
    ctx_.errorLog.reason(d.step() + " punch", "punch " + shortened(enroll, 1000) + " " + punch + " set aside, rst_tab refused it: " + saveError_,
                         "the enroll number and time of this punch on the device; it is cleared from the device with "
                         "the others and kept whole in " + ctx_.errorLog.refusedPunchesPath());
}

bool Devices::saveRows(const Device& d, int firstRow, const QString& batch, const QString& pullStamp, qint32& saved)
{
    records::RecordsContext& rc = ctx_.records;
    for (int i = firstRow; i < MSFG3.rows(); ++i) {
        wait_.check();
        const QString enroll = MSFG3.textMatrix(i, 1);
        const QString punch = MSFG3.textMatrix(i, 2);
        // The same person in the same second on another device is another punch, and is kept.
        const QString clause = "where DateLog = " + lit(punch) + " and NoUser = " + lit(enroll) + d.ownClause();
        if (!rc.db.Open_Rs_Loc(Rs_Rst, kRst, clause))
            return false;
        if (Rs_Rst->recordCount() > 0)
            continue;
        if (Save_Rst(d.noRec, enroll, MSFG3.textMatrix(i, 3), punch, pullStamp, rc.run.config.My_Branch,
                     batch + QString::number(saved + 1).rightJustified(7, u'0'), Sendev_No, Sendev_Key)) {
            ++saved;
            continue;
        }
        // One record the table cannot hold must not keep every later punch off the table for good.
        if (!valuesRefused(saveState_))
            return false;
        setAside(d, enroll, punch);
    }
    return true;
}

void Devices::finishLeftHeaders(const Device& d, const QString& count)
{
    // A header of an earlier try that stopped before completing it: never sent, still "0" and "0".
    records::RecordsContext& rc = ctx_.records;
    const QString clause = "where SynAdd = '0' and CRS1 = '0' and (DatTim2 is null or DatTim2 = '') and No_Branch = "
                           + lit(rc.run.config.My_Branch) + d.ownClause();
    const std::optional<qint64> left = rc.db.Count_Rows_Loc(kSendev, clause);
    if (!left || *left == 0)
        return;
    if (rc.db.Update_Loc(Rs_Sendev, "SynAdd=  '1',CRS1=  " + lit(count), kSendev, clause))
        rc.tables.raiseSend(kSendev);
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
    } catch (const std::exception& e) {
        saveError_ = QString::fromStdString(e.what());
        const auto* db = dynamic_cast<const data::DbError*>(&e);
        saveState_ = db ? db->sqlState() : QString();
        dropEdit(Rs_Rst);
        ctx_.errorLog.failure(QStringLiteral("SYN025"));
        return false;
    }
}

}  // namespace tarvelo::devices
