// RestoreHybridFile hands the channel back without the host's callback, whether it stopped at
// the block file or went through: events of later commands must not reach that callback.
#include "RestoreFixture.h"
#include "support/BlockFileWriter.h"

namespace {

class HybridCallbackTest : public RestoreFixture {
protected:
    void SetUp() override
    {
        RestoreFixture::SetUp();
        // A server-chosen log level that makes every exchange report to the callback.
        LoginReplyFields verbose;
        verbose.logLevel = 50;
        server.Logins().SetLoginReply(verbose);
        library.CloseChannel(channel);
        channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0,
                                      u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
        std::filesystem::create_directory(folder);
    }

    // A later command on the channel; true when no event of it reached the host.
    bool LaterCommandIsSilent()
    {
        host.Clear();
        char dataServer[KELVANE_DATA_SERVER_SIZE] = {};
        uint32_t maintenance = 0;
        EXPECT_TRUE(library.VerifyServer(channel, dataServer, &maintenance));
        return host.Events().empty();
    }

    std::filesystem::path folder = dir.path() / "restore";
    std::filesystem::path destination = dir.path() / "version.bin";
};

} // namespace

TEST_F(HybridCallbackTest, AMissingBlockFileLeavesNoCallback)
{
    Serve("copy");
    EXPECT_EQ(RestoreHybridFile(folder.u16string(), u"absent.dat", destination.u16string()), 0);
    EXPECT_TRUE(LaterCommandIsSilent());
}

TEST_F(HybridCallbackTest, ARebuiltVersionLeavesNoCallback)
{
    Serve("copy");
    BlockFileWriter(4, 0).Save(folder / "blocks.dat");
    EXPECT_EQ(RestoreHybridFile(folder.u16string(), u"blocks.dat", destination.u16string()), 1);
    EXPECT_GT(host.Seen(1), 0u);
    EXPECT_TRUE(LaterCommandIsSilent());
}
