// RestoreFile onto a path where a file already stands, typically the file being restored.
// Whatever the server sends, a restore that fails leaves that file exactly as it was; only a
// restore that succeeds puts the new content in its place, and it leaves nothing else behind.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "audit/LibraryChannel.h"
#include "connection/CCreatePacket.h"
#include "platform/text.h"
#include "support/Noise.h"
#include "tools/server/DownloadHandlers.h"

namespace {

using Handlers = DownloadHandlers;
constexpr Handlers::FileCodes kCodes{11, 12, 13, 14, 15};
constexpr DWORD kChunk = 0x20000;
const std::string kOld = "the file as it stood before the restore";

std::string Read(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class RestoreOverExisting : public LibraryChannel {
protected:
    void SetUp() override
    {
        LibraryChannel::SetUp();
        files.Register(server.Server().Commands());
        std::ofstream(target, std::ios::binary) << kOld;
    }

    // The handlers go before the server does: its connections end first.
    void TearDown() override
    {
        LibraryChannel::TearDown();
        server.Stop();
    }

    void Serve(const std::string& contents, Handlers::Behaviour behaviour)
    {
        files.AddFile(kCodes, contents, 1300000000);
        files.SetBehaviour(behaviour);
    }

    int32_t Restore()
    {
        auto restore = EXPORT(RestoreFile);
        const std::u16string path = Utf8ToUtf16(target.string());
        return restore(channel, 11, 0, 12, 0, 13, 0, 14, 0, 15, 0, path.c_str(), 0, 0, u"",
                       nullptr);
    }

    // Only the target is left in its folder.
    bool NothingElseLeft() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.path() != target)
                return false;
        }
        return true;
    }

    std::filesystem::path target = folder.path() / "report.doc";
    Handlers files;
};

}  // namespace

TEST_F(RestoreOverExisting, ARefusedOrUnreadableFirstReplyKeepsTheFile)
{
    for (const std::vector<BYTE>& reply :
         {WireBytes().U32(0).Get(), WireBytes().U32(2).U32(0).Get(),
          WireBytes().U32(1).U32(0xFFFFFFFF).Get()}) {
        Answer(CCreatePacket::kGetFile, reply);
        EXPECT_EQ(Restore(), 0);
        EXPECT_EQ(Read(target), kOld);
        EXPECT_TRUE(NothingElseLeft());
    }
}

TEST_F(RestoreOverExisting, ADamagedSingleReplyKeepsTheFile)
{
    for (Handlers::SingleReplyFault fault :
         {Handlers::SingleReplyFault::CorruptStream, Handlers::SingleReplyFault::CutStream,
          Handlers::SingleReplyFault::SizePastReply, Handlers::SingleReplyFault::ZeroSize}) {
        Handlers::Behaviour behaviour;
        behaviour.form = Handlers::Form::Single;
        behaviour.singleFault = fault;
        Serve(Noise(5000), behaviour);
        EXPECT_EQ(Restore(), 0);
        EXPECT_EQ(Read(target), kOld);
        EXPECT_TRUE(NothingElseLeft());
    }
}

TEST_F(RestoreOverExisting, ACachedTransferThatFailsOnTheWayKeepsTheFile)
{
    Handlers::Behaviour behaviour;
    behaviour.form = Handlers::Form::Cached;
    Serve(Noise(3 * kChunk), behaviour);
    files.QueuePacketActions({Handlers::PacketAction::Data, Handlers::PacketAction::Stop});
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Read(target), kOld);
    EXPECT_TRUE(NothingElseLeft());

    files.QueuePacketActions({Handlers::PacketAction::Data, Handlers::PacketAction::PastEndOfFile,
                              Handlers::PacketAction::Stop});
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Read(target), kOld);
    EXPECT_TRUE(NothingElseLeft());
}

TEST_F(RestoreOverExisting, ASuccessfulRestoreReplacesTheFileInEitherForm)
{
    const std::string contents = Noise(3 * kChunk + 5);
    for (Handlers::Form form : {Handlers::Form::Single, Handlers::Form::Cached}) {
        std::ofstream(target, std::ios::binary | std::ios::trunc) << kOld;
        Handlers::Behaviour behaviour;
        behaviour.form = form;
        Serve(contents, behaviour);
        EXPECT_EQ(Restore(), 1);
        EXPECT_TRUE(Read(target) == contents);
        EXPECT_TRUE(NothingElseLeft());
    }
}
