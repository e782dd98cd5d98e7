#pragma once
#include "data/activity_log.h"
#include "data/error_log.h"
#include "data/reachability.h"
#include "data/sql_text.h"
#include "devices/devices.h"
#include "records/records_world.h"
#include "support/device_simulator.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <memory>

namespace tarvelo::test {

// Echoes that answer unless the address is listed as unreachable; nothing is sent.
class ScriptedNet : public data::Reachability {
public:
    qint32 Ping_Ip(const QString& address, data::EchoReply& reply) override
    {
        pinged << address;
        reply = data::EchoReply{};
        reply.Status = unreachable.contains(address) ? quint32(data::ip_status::ReqTimedOut) : 0u;
        return qint32(reply.Status);
    }
    QSet<QString> unreachable;
    QStringList pinged;
};

// Branch and server databases, the logs, the device layer over TCP with short time-outs and the
// attendance devices built on them, as the program wires them.
struct DevicesWorld {
    static constexpr int ConnectTimeoutMs = 500;
    static constexpr int ReadTimeoutMs = 2000;  // long enough for a loaded test machine

    DevicesWorld()
    {
        records.fillTables();
        records.run.Kin_Yer = QStringLiteral("25");
        logs.Grid_Head_Syn();
        logs.Grid_Head_Msg();
        logs.Grid_Head_Pull();
    }

    devices::Devices& dev() const { return *devices; }

    void addDevice(const QString& noRec, const QString& ip, const QString& port, const QString& kin2 = "1",
                   const QString& desEna = "0", const QString& branch = "01")
    {
        records.branchDb.exec("insert into findev_tab (no_rec, No_Branch, SynAdd, No_branch_1, texIP, texPort, kin2, "
                              "DesEna) values ("
                              + QStringList{data::sqlLiteral(noRec), "'01'", "'0'", data::sqlLiteral(branch),
                                            data::sqlLiteral(ip), data::sqlLiteral(port), data::sqlLiteral(kin2),
                                            data::sqlLiteral(desEna)}
                                    .join(u',')
                              + ")");
    }
    void addDevice(const QString& noRec, const DeviceSimulator& sim) { addDevice(noRec, sim.address(), sim.portText()); }

    void addUser(const QString& noRec, const QString& noUser)
    {
        records.branchDb.exec("insert into user_tab (no_rec, No_Branch, SynAdd, NoUser) values ("
                              + data::sqlLiteral(noRec) + ", '01', '0', " + data::sqlLiteral(noUser) + ")");
    }

    QString scalar(const QString& sql) const { return records.branchDb.scalar(sql); }

    // The rows of a query, each row's columns joined by "|".
    QStringList rows(const QString& sql) const
    {
        QStringList out;
        for (const auto& row : records.branchDb.query(sql).rows) {
            QStringList cells;
            for (const auto& v : row)
                cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
            out << cells.join(u'|');
        }
        return out;
    }

    QStringList messages() const
    {
        QStringList out;
        for (int r = 1; r < logs.MSFG2.rows(); ++r)
            out << logs.MSFG2.textMatrix(r, 0);
        return out;
    }

    QStringList errorLines() const
    {
        QFile f(errorLog.path());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QStringList reasonLines() const
    {
        QFile f(errorLog.reasons.path());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList{};
    }

    qint32 sendCounter(const char16_t* table) const { return records.tables.Tab_Send[size_t(records.tables.slotOf(table))]; }

    RecordsWorld records;
    data::ActivityLogs logs{records.run, [this] { return records.tables.Tab_Index; }};
    QTemporaryDir folder;
    data::ErrorLog errorLog{folder.path()};
    ScriptedNet net;
    devices::TcpDeviceSdk sdk{ConnectTimeoutMs, ReadTimeoutMs};
    QStringList machine{QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.2")};
    std::function<QStringList()> ipList = [this] { return machine; };
    QDateTime fixedNow;  // when valid, the devices' clock reads it
    std::function<void()> onPump;  // runs where the window's events would
    std::unique_ptr<devices::Devices> devices = std::make_unique<devices::Devices>(devices::DevicesContext{
        records.ctx, logs, errorLog, net, sdk, [this] { if (onPump) onPump(); }, [this] { return ipList(); },
        [this] { return fixedNow.isValid() ? fixedNow : QDateTime::currentDateTime(); }});
};

}  // namespace tarvelo::test
