// Console log lines of any length, and the data folder of a channel without a data path.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "connection/ChannelProbe.h"
#include "connection/Csocketclient.h"
#include "support/TempDir.h"
#include "support/RegistryFile.h"

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

TEST(ChannelEdges, WithoutADataPathNoFolderIsCreatedInTheCurrentDirectory)
{
    TempDir current;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(current.path());
    {
        RegistryFile registry;
        Csocketclient channel;
        EXPECT_EQ(ChannelProbe(channel).DataFolder(), std::filesystem::current_path().u16string());
    }
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_empty(current.path()));
}
