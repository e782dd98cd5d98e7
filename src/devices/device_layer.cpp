// Connecting a device, reading its attendance log into the punch grid, counting and clearing it.
#include "devices/devices.h"

namespace tarvelo::devices {

namespace {

QString padded(qint32 value, int width)
{
    return QString::number(value).rightJustified(width, u'0');
}

QString punchTime(const PunchRecord& r)
{
    return padded(r.year, 4) + u'-' + padded(r.month, 2) + u'-' + padded(r.day, 2) + u' ' + padded(r.hour, 2) + u':'
           + padded(r.minute, 2) + u':' + padded(r.second, 2);
}

}  // namespace

void Devices::Grid_Head_Punch()
{
    MSFG3.setRightToLeft(true);
    MSFG3.setRows(1);
    MSFG3.setCols(4);
    const char* captions[] = {"م", "رقم البصمة", "وقت البصمة", "الموظف"};
    const int widths[] = {500, 1200, 2200, 1800};
    for (int c = 0; c < 4; ++c) {
        MSFG3.setTextMatrix(0, c, QString::fromUtf8(captions[c]));
        MSFG3.setColWidth(c, widths[c]);
        MSFG3.setColAlignment(c, data::GridModel::AlignLeftCenter);
    }
}

bool Devices::Conn_Dev(const QString& address, qint32 port)
{
    try {
        ctx_.Dev_Obj.Sdk_Pre_Connect(1);
        pump();
        const bool connected = ctx_.Dev_Obj.Sdk_Connect(address, port);
        pump();
        if (!connected)
            deviceError_ = QStringLiteral("the device refused the connection");
        return connected;
    } catch (const DeadlineError&) {
        throw;
    } catch (const std::exception& e) {
        deviceError_ = QString::fromStdString(e.what());
        ctx_.errorLog.failure(QStringLiteral("SYN017"));
        return false;
    }
}

std::optional<qint32> Devices::readLog(const QString& address, qint32 port, bool intoGrid)
{
    if (!Conn_Dev(address, port))
        return std::nullopt;
    if (!ctx_.Dev_Obj.Sdk_Open_Log(1))
        return 0;
    qint32 count = 0;
    PunchRecord record;
    const bool bounded = wait_.deadline != DeviceWait::Clock::time_point::max();
    const auto perRecord = std::chrono::duration_cast<DeviceWait::Clock::duration>(Pull_Bounds.perThousand) / 1000;
    auto pumped = DeviceWait::Clock::now();
    while (ctx_.Dev_Obj.Sdk_Next_Record(1, record)) {
        // A device answering just in time must not hold the window's events or the cycle.
        if (bounded) {
            if (intoGrid)
                wait_.deadline += perRecord;
            wait_.check();
        }
        if (DeviceWait::Clock::now() - pumped >= DeviceWait::PumpEvery) {
            pump();
            pumped = DeviceWait::Clock::now();
        }
        if (intoGrid) {
            lastRead_ = record;
            MSFG3.setRows(MSFG3.rows() + 1);
            const int r = MSFG3.rows() - 1;
            MSFG3.setTextMatrix(r, 0, QString::number(r));
            MSFG3.setTextMatrix(r, 1, record.enrollNumber);
            MSFG3.setTextMatrix(r, 2, punchTime(record));
            MSFG3.setTextMatrix(r, 3, QStringLiteral("--"));
        }
        ++count;
    }
    return count;
}

std::optional<qint32> Devices::Read_Dev_Log(const QString& address, qint32 port)
{
    return readLog(address, port, true);
}

std::optional<qint32> Devices::Count_Dev_Log(const QString& address, qint32 port)
{
    return readLog(address, port, false);
}

bool Devices::Clear_Dev_Log(qint32 count, const PunchRecord& last)
{
    if (!(count < 0 ? ctx_.Dev_Obj.Sdk_Clear_Log(0) : ctx_.Dev_Obj.Sdk_Clear_Read(count, last)))
        return false;
    ctx_.Dev_Obj.Sdk_Post_Clear(0);
    return true;
}

}  // namespace tarvelo::devices
