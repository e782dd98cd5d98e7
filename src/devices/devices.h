#pragma once
#include "data/activity_log.h"
#include "data/error_log.h"
#include "data/reachability.h"
#include "data/recordset.h"
#include "devices/device_sdk.h"
#include "records/records_state.h"
#include "sync/device_step.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

namespace tarvelo::devices {

// What the attendance devices work on; built by whoever owns that state, holds references only.
struct DevicesContext {
    records::RecordsContext& records;  // run state, database, table list and counters, notices
    data::ActivityLogs& logs;          // the message log MSFG2 and the schedule grid MSFG4
    data::ErrorLog& errorLog;
    data::Reachability& net;  // the one-echo check before a device is read
    DeviceSdk& Dev_Obj;       // the one device layer object of the process
    data::EventPump pump = {};
    // The machine's own addresses; Get_Ip_List unless a test stands in.
    std::function<QStringList()> ipList = {};
    // The local clock; the machine's unless a test stands in.
    std::function<QDateTime()> clock = {};
};

// How long one device's pull may take: `base`, and `perThousand` more for each thousand records it
// reads. Past that the pull ends as a failed read does.
struct PullBounds {
    std::chrono::milliseconds base{60000};
    std::chrono::milliseconds perThousand{10000};
};

// Outcomes of one device's pull.
namespace outcome {
inline constexpr qint32 Done = 0;
inline constexpr qint32 NotReachable = 1;
inline constexpr qint32 Stopped = -1;
}  // namespace outcome

// The attendance-device step of the cycle: the pull schedule, the pull of every device with its
// reachability diagnosis, the device layer and the saving of punches.
class Devices final : public sync::DeviceStep {
public:
    static constexpr int MaxScheduleRows = 1000;

    explicit Devices(DevicesContext ctx);

    // The punch grid: row 0 its header, then one row per record read in the current run:
    // index, enroll number, punch date-time, the user's record number ("--" until mapped).
    data::GridModel MSFG3;
    void Grid_Head_Punch();

    // The schedule in MSFG4.
    void Load_Pull_Plan() override;
    void Run_Pull_Plan() override;
    void Next_Pull_Plan() override;

    // One run over every enabled device of this branch: "30" every device done, "31" any device
    // not done or an error among the devices, "20" none to pull, "10" the device list could not be
    // read, "00" an error before that, "" the machine's address could not be read.
    QString Pull_Devices();

    // One device, the current row of Rs_Findev: an outcome:: value.
    qint32 Pull_Device();
    void Map_Users();
    QString Save_Sendev(const QString& deviceNoRec, const QString& lastPunch);
    bool Save_Rst(const QString& deviceNoRec, const QString& enroll, const QString& userNoRec, const QString& punch,
                  const QString& pullStamp, const QString& branch, const QString& noRec, const QString& pullNo,
                  const QString& pullKey);

    PullBounds Pull_Bounds;

    // The device layer.
    bool Conn_Dev(const QString& address, qint32 port);
    // The records added to MSFG3; nullopt when the device could not be connected.
    std::optional<qint32> Read_Dev_Log(const QString& address, qint32 port);
    // The records in the device's log; nullopt when the device could not be connected.
    std::optional<qint32> Count_Dev_Log(const QString& address, qint32 port);
    // True when the device dropped what the pull read: its first `count` records, up to `last`;
    // without a count, its whole log.
    bool Clear_Dev_Log(qint32 count = -1, const PunchRecord& last = {});

    data::RecordsetVar Rs_Findev;
    data::RecordsetVar Rs_Rst;
    data::RecordsetVar Rs_Sendev;
    data::RecordsetVar Rs_User;
    QString Sendev_No;
    QString Sendev_Key;

private:
    struct Device;
    QDateTime now() const;
    void pump() const;
    QStringList machineAddresses() const;
    void diagnose(const QString& deviceNoRec, const QString& step, const QString& deviceThird,
                  const QString& machineThird);
    void logDevice(const QString& deviceNoRec, const QString& text);
    std::optional<qint32> readLog(const QString& address, qint32 port, bool intoGrid);
    qint32 pullDevice(const Device& d, const QString& pullStamp);
    bool saveRows(const Device& d, int firstRow, const QString& batch, const QString& pullStamp, qint32& saved);
    bool batchKey(const Device& d, QString& batch);
    void deviceFailed(const Device& d, const QString& line, const QString& why, const QString& check);
    void finishLeftHeaders(const Device& d, const QString& count);
    void setAside(const Device& d, const QString& enroll, const QString& punch);

    DevicesContext ctx_;
    DeviceWait wait_;
    PunchRecord lastRead_;      // the last record the pull read
    QString deviceError_;       // why the device layer last failed
    QString saveError_;         // why Save_Rst last failed
    QString saveState_;         // its SQLSTATE, when the database refused
    bool numberingReported_ = false;  // the exhausted numbering is reported once per run
    bool numberingExhausted_ = false;
};

// Whole minutes from `start` to `end` ("yyyy-mm-dd hh:nn:ss"), counted as minute boundaries
// crossed; 0 when either is not a date-time.
qint32 Min_Left(const QString& start, const QString& end);

// The texts of the schedule row for a pull's result code; nullopt for a code that names no result.
struct PullResultTexts {
    QString state;   // column 3
    QString result;  // column 4: "OK" or "NotOk"
};
std::optional<PullResultTexts> pullResultTexts(const QString& code);

}  // namespace tarvelo::devices
