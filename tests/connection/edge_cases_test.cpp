// Messages of any length reach standard output whole when no host listens.
#include <string>

#include <gtest/gtest.h>

#include "connection/Csocketclient.h"
#include "connection/RegistryFile.h"

TEST(ChannelLogEdges, ALongWideMessageIsWrittenWholeWithoutACallback)
{
    RegistryFile registry;
    Csocketclient channel;
    channel.SetLogLevel(10);
    const std::u16string text = std::u16string(6000, u'w') + u"\u00e9end";
    testing::internal::CaptureStdout();
    channel.LogW(1, 10, text.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(6000, 'w') + "\xc3\xa9" + "end\n");
}
