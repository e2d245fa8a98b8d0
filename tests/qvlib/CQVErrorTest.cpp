#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "qvlib/CQVError.h"
#include "qvlib/QVTime.h"

namespace {

CQVString TextOf(uint32_t code)
{
    CQVError error;
    error.SetCode(code);
    return error.GetErrorText();
}

TEST(QVError, StartsAtOkAndGivesTheSystemTexts)
{
    CQVError error;
    EXPECT_EQ(error.GetMessage(), u"OK");
    EXPECT_EQ(error.GetCode(), 0u);
    EXPECT_EQ(TextOf(2), u"The system cannot find the file specified.\r\n");
    EXPECT_EQ(TextOf(3), u"The system cannot find the path specified.\r\n");
    EXPECT_EQ(TextOf(5), u"Access is denied.\r\n");
    EXPECT_EQ(TextOf(32),
              u"The process cannot access the file because it is being used by another "
              u"process.\r\n");
    EXPECT_EQ(TextOf(87), u"The parameter is incorrect.\r\n");
    EXPECT_EQ(TextOf(1168), u"Element not found.\r\n");
    EXPECT_EQ(TextOf(1235), u"The request was aborted.\r\n");
    EXPECT_EQ(TextOf(10061),
              u"No connection could be made because the target machine actively refused "
              u"it.\r\n");
}

TEST(QVError, GivesAnEmptyTextForUnknownCodesAndForTheMissingErrorModule)
{
    EXPECT_EQ(TextOf(0x10000002), u"");
    EXPECT_EQ(TextOf(987654), u"");
}

TEST(QVTime, FormatsLocalTimeAndRefusesNegativeTimes)
{
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(QVFormatTime(u"%Y", -1), u"");
    EXPECT_EQ(QVFormatTime(u"[%H:%M:%S] ", 1369325552), u"[16:12:32] ");
    EXPECT_EQ(QVFormatTime(u"%A %Y-%m-%d  at %H:%M:%S", 1369325552),
              u"Thursday 2013-05-23  at 16:12:32");
    EXPECT_EQ(QVFormatTime(u"%Y", QVGetCurrentTime()).size(), 4u);
}

TEST(QVTime, ReadsTheSystemClock)
{
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const int64_t now = QVGetCurrentTime();
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

}  // namespace
