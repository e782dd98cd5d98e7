#include "devices_world.h"
#include "support/sync_rig.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

// Punches read from a device by branch A's cycle end, then carried by the next cycles to the server
// and on to branch B.
TEST(DeviceStepInTheCycle, PunchesPulledIntoOneBranchReachTheServerAndTheOtherBranch)
{
    SyncRig rig(2);
    RigBranch& a = rig.A();
    RigBranch& b = rig.B();
    DeviceSimulator sim{QStringLiteral("127.0.0.3")};
    sim.addPunches({punch("7", "2024-03-05 07:00:00"), punch("12", "2024-03-05 07:01:00"),
                    punch("7", "2024-03-05 16:00:00")});
    // The device is registered as the office registers it, so its row travels too.
    a.add("findev_tab", "0100000000000001",
          {{"No_branch_1", "01"}, {"texIP", "127.0.0.3"}, {"texPort", sim.portText()}, {"kin2", "1"}, {"DesEna", "0"}});
    a.queue("findev_tab", "Add");

    records::RecordsContext records = a.ctx.records();
    ScriptedNet net;
    devices::TcpDeviceSdk sdk{DevicesWorld::ConnectTimeoutMs, DevicesWorld::ReadTimeoutMs};
    QDateTime clock = QDateTime::currentDateTime();
    devices::Devices dev(devices::DevicesContext{records, a.logs, a.errors, net, sdk, {},
                                                 [] { return QStringList{"127.0.0.1", "192.0.2.2"}; },
                                                 [&clock] { return clock; }});
    a.ctx.devices = &dev;
    a.startSync();
    b.startSync();

    rig.round();
    ASSERT_EQ(a.logs.MSFG4.rows(), 2) << "the first cycle end plans the first pull";
    EXPECT_EQ(a.count("rst_tab"), 0);
    EXPECT_EQ(sim.connects(), 0);

    clock = clock.addSecs(120);
    rig.round();
    EXPECT_EQ(a.logs.MSFG4.textMatrix(1, 4), "OK");
    EXPECT_EQ(a.count("rst_tab"), 3);
    EXPECT_EQ(a.count("sendev_tab"), 1);
    EXPECT_EQ(sim.logSize(), 0) << "read whole, so cleared";
    const int connects = sim.connects();

    ASSERT_GE(rig.settle(), 0);
    // Punch rows are details that the ledger does not announce: another branch takes them at its
    // next full rescan (every tenth cycle, or a start).
    b.startSync();
    ASSERT_GE(rig.settle(), 0);
    EXPECT_EQ(sim.connects(), connects) << "the next pull is half an hour away";
    const QString punches = QStringLiteral("select concat_ws('|', no_rec, NoUser, DateLog, No_findev, NRS2) "
                                           "from rst_tab order by no_rec");
    const QString header = QStringLiteral("select concat_ws('|', no_rec, No_findev, CRS1, LasDateG) from sendev_tab");
    auto rows = [](const ScratchDatabase& db, const QString& sql) {
        QStringList out;
        for (const auto& row : db.query(sql).rows)
            out << row.at(0).toString();
        return out;
    };
    const QStringList pulled = rows(a.db, punches);
    ASSERT_EQ(pulled.size(), 3);
    EXPECT_TRUE(pulled[2].contains(u"|7|2024-03-05 16:00:00|0100000000000001|")) << pulled[2].toStdString();
    EXPECT_EQ(rows(rig.server, punches), pulled);
    EXPECT_EQ(rows(b.db, punches), pulled);
    const QStringList head = rows(a.db, header);
    EXPECT_EQ(head, QStringList{"010000001|0100000000000001|3|2024-03-05 16:00:00"});
    EXPECT_EQ(rows(rig.server, header), head);
    EXPECT_EQ(rows(b.db, header), head);
    EXPECT_EQ(rig.serverCount("atten_rec", "treco in ('rst_tab', 'sendev_tab')"), 0)
        << "every exchange closed";
}

}  // namespace
