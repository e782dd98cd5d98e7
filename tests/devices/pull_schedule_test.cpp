#include "devices/addresses.h"
#include "devices_world.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using test::DeviceSimulator;
using test::DevicesWorld;
using test::punch;

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

class PullSchedule : public ::testing::Test {
protected:
    QStringList row(int r) const
    {
        QStringList out;
        for (int c = 0; c < 5; ++c)
            out << grid().textMatrix(r, c);
        return out;
    }
    const data::GridModel& grid() const { return w.logs.MSFG4; }

    DevicesWorld w;
    DeviceSimulator sim{QStringLiteral("127.0.0.2")};
};

TEST_F(PullSchedule, TheFirstRowIsMadeOnceTheBranchHasAPullDevice)
{
    w.fixedNow = at("2024-05-01 09:59:55");
    w.dev().Load_Pull_Plan();
    EXPECT_EQ(grid().rows(), 1) << "no device of this branch is marked for pulling";

    w.addDevice("0200000000000001", sim.address(), sim.portText(), "1", "0", "02");
    w.addDevice("0100000000000001", sim.address(), sim.portText(), "0");
    w.dev().Load_Pull_Plan();
    EXPECT_EQ(grid().rows(), 1);

    // A disabled device still makes the schedule; its pulls find nothing to pull.
    w.addDevice("0100000000000002", sim.address(), sim.portText(), "1", "1");
    w.dev().Load_Pull_Plan();
    ASSERT_EQ(grid().rows(), 2);
    EXPECT_EQ(row(1), (QStringList{"1", "2024-05-01 10:00:05", "X", "باقي 10 دقيقة", ""}));
}

TEST_F(PullSchedule, EachCycleEndCountsDownAndTheDueRowIsPulledThenTheNextFollowsThirtyMinutesLater)
{
    w.addDevice("0100000000000001", sim);
    sim.addPunch(punch("1", "2024-05-01 08:00:00"));
    w.fixedNow = at("2024-05-01 10:00:50");
    w.dev().Load_Pull_Plan();
    ASSERT_EQ(grid().textMatrix(1, 1), "2024-05-01 10:01:00");

    // Ten seconds ahead but in the next clock minute: one minute left, nothing pulled.
    w.dev().Run_Pull_Plan();
    w.dev().Next_Pull_Plan();
    EXPECT_EQ(row(1), (QStringList{"1", "2024-05-01 10:01:00", "X", "باقي 1 دقيقة", ""}));
    EXPECT_EQ(grid().rows(), 2);
    EXPECT_EQ(sim.connects(), 0);

    w.fixedNow = at("2024-05-01 10:01:00");
    w.dev().Run_Pull_Plan();
    EXPECT_EQ(row(1), (QStringList{"1", "2024-05-01 10:01:00", "XX", "تمت العملية", "OK"}));
    EXPECT_EQ(w.scalar("select count(*) from rst_tab"), "1");

    w.fixedNow = at("2024-05-01 10:01:07");
    w.dev().Next_Pull_Plan();
    ASSERT_EQ(grid().rows(), 3);
    EXPECT_EQ(row(2), (QStringList{"2", "2024-05-01 10:31:07", "X", "باقي 30 دقيقة", ""}));
    w.dev().Next_Pull_Plan();
    EXPECT_EQ(grid().rows(), 3) << "a pending last row gets no successor";

    // A failed run is followed after the same interval.
    sim.setRefusing(true);
    w.fixedNow = at("2024-05-01 12:00:00");
    w.dev().Run_Pull_Plan();
    EXPECT_EQ(row(2).mid(2), (QStringList{"XX", "توجد اخطاء", "NotOk"}));
    w.dev().Next_Pull_Plan();
    EXPECT_EQ(row(3), (QStringList{"3", "2024-05-01 12:30:00", "X", "باقي 30 دقيقة", ""}));
}

TEST_F(PullSchedule, ARunWithoutACodeLeavesItsRowPendingAndAddsNoRow)
{
    w.addDevice("0100000000000001", sim);
    w.fixedNow = at("2024-05-01 10:00:00");
    w.dev().Load_Pull_Plan();
    w.ipList = []() -> QStringList { throw devices::AddressTableError("GetIpAddrTable failed with return value 1"); };
    w.fixedNow = at("2024-05-01 10:05:00");
    w.dev().Run_Pull_Plan();
    w.dev().Next_Pull_Plan();
    EXPECT_EQ(grid().rows(), 2);
    EXPECT_EQ(row(1), (QStringList{"1", "2024-05-01 10:00:10", "X", "باقي 10 دقيقة", ""}));
    EXPECT_EQ(w.errorLines(), QStringList{"Error SYN022(0)"});
}

TEST_F(PullSchedule, TheGridIsCutToItsHeaderBeyondAThousandRows)
{
    auto& g = w.logs.MSFG4;
    w.fixedNow = at("2024-05-01 10:00:00");
    g.setRows(1000);
    g.setTextMatrix(999, 4, "OK");
    w.dev().Next_Pull_Plan();
    ASSERT_EQ(g.rows(), 1001);
    EXPECT_EQ(g.textMatrix(1000, 0), "1000");

    g.setTextMatrix(1000, 4, "NotOk");
    w.dev().Next_Pull_Plan();
    ASSERT_EQ(g.rows(), 2);
    EXPECT_EQ(row(1), (QStringList{"1", "2024-05-01 10:30:00", "X", "باقي 30 دقيقة", ""}));
}

TEST(PullResult, CodesAndMinutes)
{
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"00", "خطاء غير معروف", "NotOk"}, {"10", "خطاء بالقاعدة", "NotOk"}, {"20", "لا توجد اجهزة مسجلة", "NotOk"},
        {"31", "توجد اخطاء", "NotOk"},     {"30", "تمت العملية", "OK"},
    };
    for (const auto& [code, state, result] : cases) {
        const auto texts = devices::pullResultTexts(code);
        ASSERT_TRUE(texts) << code;
        EXPECT_EQ(texts->state, QString::fromUtf8(state));
        EXPECT_EQ(texts->result, result);
    }
    EXPECT_FALSE(devices::pullResultTexts(""));
    EXPECT_FALSE(devices::pullResultTexts("3"));
    EXPECT_FALSE(devices::pullResultTexts("32"));

    EXPECT_EQ(devices::Min_Left("2024-05-01 10:00:50", "2024-05-01 10:01:00"), 1);
    EXPECT_EQ(devices::Min_Left("2024-05-01 10:00:00", "2024-05-01 10:00:59"), 0);
    EXPECT_EQ(devices::Min_Left("2024-05-01 10:30:00", "2024-05-01 10:00:00"), -30);
    EXPECT_EQ(devices::Min_Left("2024-02-28 23:59:00", "2024-03-01 00:01:00"), 1442);
    EXPECT_EQ(devices::Min_Left("2024-05-01 10:00:00", "not a time"), 0);
}

}  // namespace
