#include "devices_world.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using devices::SdkError;
using devices::wire::Op;
using test::DeviceSimulator;
using test::DevicesWorld;
using test::punch;

namespace {

// Every simulator listens on an ephemeral port (32768 and above on Linux), so every exchange here
// also shows that ports beyond the 16-bit signed range work.
class DeviceLayer : public ::testing::Test {
protected:
    QStringList gridRow(int r) const
    {
        QStringList out;
        for (int c = 0; c < 4; ++c)
            out << w.dev().MSFG3.textMatrix(r, c);
        return out;
    }

    DevicesWorld w;
    DeviceSimulator sim{QStringLiteral("127.0.0.2")};
};

TEST_F(DeviceLayer, ReadsTheLogIntoThePunchGridAfterEarlierRowsAndCountsItWithoutWriting)
{
    ASSERT_GT(sim.port(), 32767);
    sim.addPunches({punch("7", "2024-03-05 07:08:09"), punch("12", "2024-12-31 23:59:59"), punch("7", "2025-01-01 00:00:00")});
    auto& grid = w.dev().MSFG3;
    grid.setRows(3);  // two rows of a device read earlier in the run

    EXPECT_EQ(w.dev().Read_Dev_Log(sim.address(), sim.port()), 3);
    ASSERT_EQ(grid.rows(), 6);
    EXPECT_EQ(gridRow(3), (QStringList{"3", "7", "2024-03-05 07:08:09", "--"}));
    EXPECT_EQ(gridRow(4), (QStringList{"4", "12", "2024-12-31 23:59:59", "--"}));
    EXPECT_EQ(gridRow(5), (QStringList{"5", "7", "2025-01-01 00:00:00", "--"}));

    EXPECT_EQ(w.dev().Count_Dev_Log(sim.address(), sim.port()), 3);
    EXPECT_EQ(grid.rows(), 6);
    EXPECT_EQ(sim.logSize(), 3) << "reading and counting leave the log as it is";

    // The second connect closed the first: one connection open, two made.
    EXPECT_EQ(sim.connects(), 2);
    for (int i = 0; i < 200 && sim.countOf("close") < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sim.openConnections(), 1);
    w.sdk.Sdk_Disconnect();
    EXPECT_TRUE(sim.waitAllClosed());
}

TEST_F(DeviceLayer, EmptyLogReadsZeroAndAnUnconnectableDeviceReadsAsNotConnected)
{
    EXPECT_EQ(w.dev().Read_Dev_Log(sim.address(), sim.port()), 0);
    EXPECT_EQ(w.dev().MSFG3.rows(), 1);
    EXPECT_EQ(sim.countOf("next"), 0) << "an open that answers False reads nothing";

    sim.setRefusing(true);
    EXPECT_EQ(w.dev().Read_Dev_Log(sim.address(), sim.port()), std::nullopt);
    EXPECT_EQ(w.dev().Count_Dev_Log(sim.address(), sim.port()), std::nullopt);
    EXPECT_TRUE(w.errorLines().isEmpty()) << "a refused connect is an answer, not an error";
    sim.setRefusing(false);

    // Accepts and then never answers: the read time-out ends the wait as a failing status.
    sim.setSilent(true);
    EXPECT_EQ(w.dev().Read_Dev_Log(sim.address(), sim.port()), std::nullopt);
    EXPECT_EQ(w.errorLines(), QStringList{"Error SYN017(0)"});
    EXPECT_FALSE(w.sdk.connected()) << "a connection out of step is dropped";
    EXPECT_EQ(sim.countOf("open"), 1) << "nothing is asked of a device that did not take the connection";
}

TEST_F(DeviceLayer, ADropOrAFailingStatusMidLogIsAnErrorOfTheCaller)
{
    sim.addPunches({punch("1", "2024-01-01 08:00:00"), punch("2", "2024-01-01 08:00:01"), punch("3", "2024-01-01 08:00:02")});
    sim.setDropAfterRecords(2);
    EXPECT_THROW(w.dev().Read_Dev_Log(sim.address(), sim.port()), SdkError);
    EXPECT_EQ(w.dev().MSFG3.rows(), 3) << "the two records read before the drop stay in the grid";

    sim.setDropAfterRecords(-1);
    sim.setFailing(Op::OpenLog);
    EXPECT_THROW(w.dev().Count_Dev_Log(sim.address(), sim.port()), SdkError);
    sim.setFailing(Op::Hello);
    EXPECT_FALSE(w.dev().Conn_Dev(sim.address(), sim.port()));
}

TEST_F(DeviceLayer, ClearsOnlyWhatWasReadAndOnlyWhenTheDeviceSaysSo)
{
    const auto first = punch("1", "2024-01-01 08:00:00"), second = punch("2", "2024-01-01 08:00:01");
    sim.addPunches({first, second, punch("3", "2024-01-01 08:00:02")});
    ASSERT_TRUE(w.dev().Conn_Dev(sim.address(), sim.port()));
    sim.setClearAnswersFalse(true);
    EXPECT_FALSE(w.dev().Clear_Dev_Log(2, second));
    EXPECT_EQ(sim.countOf("postclear"), 0);

    sim.setClearAnswersFalse(false);
    EXPECT_FALSE(w.dev().Clear_Dev_Log(1, second)) << "never more than the records read";
    EXPECT_EQ(sim.logSize(), 3);
    EXPECT_TRUE(w.dev().Clear_Dev_Log(2, second));
    EXPECT_EQ(sim.countOf("postclear"), 1);
    EXPECT_EQ(sim.punchLog(), (std::vector{punch("3", "2024-01-01 08:00:02")}));
    EXPECT_TRUE(w.dev().Clear_Dev_Log());
    EXPECT_EQ(sim.logSize(), 0);
}

TEST_F(DeviceLayer, LogsBeyond32767RecordsAreReadAndCountedWhole)
{
    std::vector<devices::PunchRecord> many;
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0));
    for (int i = 0; i < 40000; ++i)
        many.push_back(punch(QString::number(i % 50), start.addSecs(i).toString("yyyy-MM-dd HH:mm:ss")));
    sim.addPunches(many);

    EXPECT_EQ(w.dev().Read_Dev_Log(sim.address(), sim.port()), 40000);
    EXPECT_EQ(w.dev().MSFG3.rows(), 40001);
    EXPECT_EQ(w.dev().MSFG3.textMatrix(40000, 0), "40000");
    EXPECT_EQ(w.dev().Count_Dev_Log(sim.address(), sim.port()), 40000);
}

TEST(DeviceValues, PortsAndAddressesAreCheckedBeforeUse)
{
    EXPECT_EQ(devices::devicePort("4370"), 4370);
    EXPECT_EQ(devices::devicePort("65535"), 65535);
    EXPECT_EQ(devices::devicePort(" 40000 "), 40000);
    for (const char* bad : {"0", "65536", "-1", "4370a", "", "99999999999", "43 70"})
        EXPECT_EQ(devices::devicePort(bad), std::nullopt) << bad;

    EXPECT_TRUE(devices::isDottedIpv4("127.0.0.2"));
    EXPECT_TRUE(devices::isDottedIpv4("192.168.1.201"));
    for (const char* bad : {"192.168. 1.5", "192.168.1", "1.2.3.4.5", "256.1.1.1", "0x7f.0.0.1", "127.1",
                            "0.0.0.0", "255.255.255.255", "1.2.3.4'; --", "", "device-1"})
        EXPECT_FALSE(devices::isDottedIpv4(bad)) << bad;
}

}  // namespace
