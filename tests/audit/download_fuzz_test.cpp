// The file download met with damaged replies: single compressed replies whose sizes, file
// time and zlib stream are mutated, and cached transfers whose announcement and packets are.
// A download either leaves exactly the file that the bytes it accepted describe, or fails and
// leaves no file at all; nothing is ever written from bytes that the reply does not hold.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include <zlib.h>

#include "audit/Hostile.h"
#include "audit/ScriptedChannel.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kRounds = 60;
constexpr DWORD kChunk = 64;
constexpr DWORD kSingleReply = 2;
constexpr DWORD kStop = 4;
constexpr DWORD kData = 1;

// The file a single compressed reply describes, or nothing when it describes none.
std::optional<std::string> SingleReplyFile(const std::vector<BYTE>& reply)
{
    std::optional<DWORD> size = WordIn(reply, 16);
    if (WordIn(reply, 0) != kSingleReply || !size || *size == 0 || *size > reply.size() - 20)
        return std::nullopt;
    std::string data(0x500000, '\0');
    uLongf length = static_cast<uLongf>(data.size() - 1);
    uLong consumed = *size;
    if (uncompress2(reinterpret_cast<Bytef*>(data.data()), &length, reply.data() + 20,
                    &consumed) != Z_OK)
        return std::nullopt;
    data.resize(length);
    return data;
}

std::string Contents(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class DownloadFuzz : public ScriptedChannel {
protected:
    void SetUp() override
    {
        ScriptedChannel::SetUp();
        channel->SetGetPacketSize(kChunk);
        target = folder.path() / "restored.bin";
    }

    INT Restore()
    {
        const std::u16string path = Utf8ToUtf16(target.string());
        DWORD word = 0;
        DWORD done = 0;
        DWORD fileTime = 0;
        return channel->RequestFile(1, 0, 2, 0, 3, 0, 4, 0, 5, 0, path.c_str(), path.c_str(), 0,
                                    &word, &done, &fileTime);
    }

    // Answers every packet request with the chunk asked for of contents, damaged by damage
    // (which may leave it alone).
    void ServePackets(const std::string& contents,
                      std::function<std::vector<BYTE>(std::vector<BYTE>)> damage)
    {
        server->Commands().Set(CCreatePacket::kGetCachePacket,
                               [contents, damage](RequestReader& request, ReplyWriter& reply,
                                                  ServerModel&) {
            std::string name;
            ULONGLONG offset = 0;
            DWORD chunk = 0;
            request.ReadCountedBytes(&name);
            request.ReadU64(&offset);
            request.ReadU32(&chunk);
            const size_t start = std::min<size_t>(offset, contents.size());
            const std::string piece = contents.substr(start, chunk);
            WireBytes packet;
            packet.U32(kData).U64(contents.size()).U32(0).U64(piece.size());
            std::vector<BYTE> whole = packet.Get();
            whole.insert(whole.end(), piece.begin(), piece.end());
            // An empty server text.
            whole.insert(whole.end(), 4, 0);
            std::vector<BYTE> sent = damage(whole);
            // A server that says it is still preparing is asked again after a pause; that is
            // no damage worth waiting for here.
            if (WordIn(sent, 0) == 2u)
                sent[0] = kData;
            reply.PutBytes(sent.data(), sent.size());
        });
    }

    std::filesystem::path target;
};

}  // namespace

TEST_F(DownloadFuzz, ASingleReplyIsWrittenOnlyWhenItsStreamInflatesWithinTheReply)
{
    Mutator random(401);
    uint32_t written = 0;
    for (uint32_t round = 0; round < kRounds; ++round) {
        std::string contents(random.Below(4000), 'z');
        for (char& byte : contents)
            byte = static_cast<char>(random.Below(3) == 0 ? random.Word() : 'q');
        const std::string stream = Compress(contents.data(), contents.size());
        WireBytes whole;
        whole.U32(kSingleReply).U32(1300000000).U32(0).U32(0).U32(
            static_cast<DWORD>(stream.size()));
        std::vector<BYTE> reply = whole.Get();
        reply.insert(reply.end(), stream.begin(), stream.end());
        if (round % 4 != 0) {
            reply = random.Below(2) == 0 ? random.Mutate(reply) : reply;
            random.PutHostileWord(reply, 16);
        }
        SCOPED_TRACE(round);
        Answer(CCreatePacket::kGetFile, reply);
        // A mutated first word may turn the reply into the start of a cached transfer; the
        // server then stops it.
        Answer(CCreatePacket::kGetCachePacket, WireBytes().U32(kStop));
        std::filesystem::remove(target);
        const INT result = Restore();
        std::optional<std::string> expected = SingleReplyFile(reply);
        ASSERT_EQ(result != 0, expected.has_value());
        if (!expected) {
            EXPECT_FALSE(std::filesystem::exists(target));
            continue;
        }
        ++written;
        EXPECT_EQ(Contents(target), *expected);
    }
    EXPECT_GE(written, kRounds / 4);
}

TEST_F(DownloadFuzz, ACachedTransferKeepsNoFileUnlessEveryChunkItWroteWasWhole)
{
    Mutator random(402);
    uint32_t completed = 0;
    for (uint32_t round = 0; round < kRounds / 2; ++round) {
        std::string contents(random.Below(4 * kChunk), '\0');
        for (char& byte : contents)
            byte = static_cast<char>('a' + random.Below(26));
        Answer(CCreatePacket::kGetFile, WireBytes().U32(1).Text8("cache-file-1").U32(0));
        // One packet in four is damaged.
        ServePackets(contents, [&random](std::vector<BYTE> bytes) {
            return random.Below(4) == 0 ? random.Mutate(std::move(bytes)) : bytes;
        });
        std::filesystem::remove(target);
        SCOPED_TRACE(round);
        const INT result = Restore();
        if (result == 0) {
            EXPECT_FALSE(std::filesystem::exists(target));
            continue;
        }
        ++completed;
        // Damage that left a packet whole in form may change its bytes but never the file's
        // announced size, which the transfer must reach exactly.
        EXPECT_EQ(std::filesystem::file_size(target), contents.size());
    }
    EXPECT_GE(completed, 1u);
}

TEST_F(DownloadFuzz, PacketSizesPastTheReplyOrTheFileAreAskedForAgainAndNeverWritten)
{
    const std::string contents(3 * kChunk / 2, 'c');
    for (ULONGLONG dataSize : {ULONGLONG{kChunk + 1}, ULONGLONG{0xFFFFFFFF}, ULONGLONG{1} << 32,
                               ULONGLONG{0xFFFFFFFFFFFFFFFF}, ULONGLONG{0x8000000000000000}}) {
        SCOPED_TRACE(dataSize);
        Answer(CCreatePacket::kGetFile, WireBytes().U32(1).Text8("cache-file-2").U32(0));
        ServePackets(contents, [dataSize](std::vector<BYTE> bytes) {
            for (int i = 0; i < 8; ++i)
                bytes[16 + i] = static_cast<BYTE>(dataSize >> (8 * i));
            return bytes;
        });
        std::filesystem::remove(target);
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg failed"));
    }
}

TEST_F(DownloadFuzz, AnAnnouncementCutAtEveryLengthOrWithAnOverlongNameStartsNoTransfer)
{
    const std::vector<BYTE> whole = WireBytes().U32(1).Text8("cache-file-3").U32(7);
    for (size_t length = 4; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        Answer(CCreatePacket::kGetFile,
               std::vector<BYTE>(whole.begin(), whole.begin() + length));
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
    for (DWORD count : {2048u, 0xFFFFFFFFu, 0x80000000u, 0xFFFFFFFCu}) {
        WireBytes reply;
        reply.U32(1).U32(count).Fill(2100, 'n').U32(7);
        Answer(CCreatePacket::kGetFile, reply);
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}
