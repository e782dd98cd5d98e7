#include "sync/engine.h"

#include <gtest/gtest.h>


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

TEST(ServerStamp, IsServerTimeWithMillisecondsAndAlwaysAboveTheLastOne)
{
    const QDateTime at = QDateTime::fromString("20240229235959123", "yyyyMMddhhmmsszzz");
    QString last;
    EXPECT_EQ(newServerStamp(at, "1", last), "202403010000001230");
    EXPECT_EQ(newServerStamp(at.addMSecs(-5), "1", last), "202403010000001231");
    EXPECT_EQ(newServerStamp(at.addMSecs(1), "1", last), "202403010000001240");
    EXPECT_EQ(last, "202403010000001240");
}
