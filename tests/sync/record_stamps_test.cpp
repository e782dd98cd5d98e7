#include "sync/engine.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tarvelo::sync;

TEST(EditStamp, MovesByTheClockOffsetAcrossDayAndLeapYearBoundaries)
{
    EXPECT_EQ(editStampServerTime("20240229235959", "1").value(), "20240301000000");
    EXPECT_EQ(editStampServerTime("20240229235959", "-3600").value(), "20240229225959");
    EXPECT_EQ(editStampServerTime("20240229235959999", "").value(), "20240229235959");
}

TEST(EditStamp, TextThatIsNoDateGivesNothing)
{
    EXPECT_FALSE(editStampServerTime("", "0"));
    EXPECT_FALSE(editStampServerTime("2024022923595", "0"));
    EXPECT_FALSE(editStampServerTime("20240230120000", "0"));
    EXPECT_FALSE(editStampServerTime("2024-02-29 12:0", "0"));
}

TEST(ServerStamp, EndsInCharactersFiveToEightOfTheTickCount)
{
    const QDateTime at = QDateTime::fromString("20240229235959", "yyyyMMddhhmmss");
    EXPECT_EQ(newServerStamp(at, "1", 1234567), "20240301000000567");
    EXPECT_EQ(newServerStamp(at, "", 123456789), "202402292359595678");
    EXPECT_EQ(newServerStamp(at, "", std::numeric_limits<qint32>::min()), "202402292359597483");
    EXPECT_EQ(newServerStamp(at, "", 1234), "20240229235959");
}
