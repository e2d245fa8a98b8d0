// The result and status words of chosen server answers, exactly as the server gives them.
#include "commands/CommandFixture.h"

using namespace ServerCommand;

TEST_F(CommandFixture, ARefusedDeletionReturnsZeroWithTheServersStatus)
{
    LogIn();
    Answer(kDeleteServerFile, WireBytes().U32(0).U32(7));
    DWORD status = 99;
    EXPECT_EQ(channel.DeleteServerFile(1, 0, 2, 0, 3, 0, 4, 0, 5, 0, &status), 0);
    EXPECT_EQ(status, 7u);
}

TEST_F(CommandFixture, ARefusedMachineCreationKeepsTheCallersOuts)
{
    Connect();
    Answer(kCreateMachineByAuth, WireBytes().U32(0).U32(5).U64(4242).Text8("new-key"));
    ULONGLONG machineId = 3;
    char key[Csocketclient::kReplyTextCapacity] = "old";
    DWORD status = 99;
    EXPECT_EQ(channel.CreateMachineByAuth("auth", "box", "host", 53, &machineId, key, &status), 0);
    EXPECT_EQ(status, 5u);
    EXPECT_EQ(machineId, 3u);
    EXPECT_STREQ(key, "old");
}
