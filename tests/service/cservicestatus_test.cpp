#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "service/Cserviceclient.h"
#include "service/Cservicestatus.h"
#include "service/StandinService.h"

namespace {

// The reply as every caller holds it: at the start of a zero-filled 8192-byte buffer.
std::vector<uint8_t> InBuffer(const std::vector<uint8_t>& reply)
{
    std::vector<uint8_t> buffer(Cservicestatus::kReplyBufferSize, 0);
    std::copy(reply.begin(), reply.end(), buffer.begin());
    return buffer;
}

uint32_t Decode(Cservicestatus* status, const std::vector<uint8_t>& reply)
{
    return status->Decode(InBuffer(reply).data(), static_cast<uint32_t>(reply.size()));
}

// Decodes from a buffer that ends where the reply ends, so that AddressSanitizer catches any
// read past the received bytes.
uint32_t DecodeExact(Cservicestatus* status, const std::vector<uint8_t>& reply)
{
    auto* exact = new uint8_t[reply.size()];
    std::copy(reply.begin(), reply.end(), exact);
    uint32_t result = status->Decode(exact, static_cast<uint32_t>(reply.size()));
    delete[] exact;
    return result;
}

void PutWordAt(std::vector<uint8_t>* bytes, size_t offset, uint32_t value)
{
    std::vector<uint8_t> word = Word(value);
    std::copy(word.begin(), word.end(), bytes->begin() + static_cast<std::ptrdiff_t>(offset));
}


StatusReply TailReply()
{
    StatusReply reply;
    reply.tailWord1 = -7;
    reply.tailWord2 = 8;
    reply.inBackupNow = 1;
    reply.tailWord4 = 10;
    reply.stepStatusCode = 11;
    reply.estimatedFiles = 12;
    reply.backedUpFiles = 13;
    return reply;
}

TEST(ServiceStatus, ANewRecordHoldsTheDocumentedStartingValues)
{
    Cservicestatus status;
    EXPECT_EQ(status.GetStepCode(), 0xFFFFu);
    EXPECT_EQ(status.m_totalProgress, -1);
    EXPECT_EQ(status.m_animate, 1u);
    EXPECT_EQ(std::u16string(status.m_text8), u"backed up 0 files");
    EXPECT_EQ(std::u16string(status.m_stepStatusFile), u" ");
    EXPECT_EQ(std::u16string(status.m_progressStatusFile), u" ");
    EXPECT_EQ(status.m_inbackupnow, 0u);
    EXPECT_EQ(status.m_estimatedFileCount, 0u);
}

TEST(ServiceStatus, EveryItemLandsInItsField)
{
    StatusReply reply = TailReply();
    std::u16string* texts[] = {&reply.text1,  &reply.stepStatusFile, &reply.progressStatusFile,
                               &reply.text4,  &reply.text5,          &reply.text6,
                               &reply.text7,  &reply.text8,          &reply.text9,
                               &reply.text10, &reply.text11,         &reply.text12,
                               &reply.text13, &*reply.text14};
    for (size_t index = 0; index < std::size(texts); ++index)
        *texts[index] = u"text " + std::u16string(1, static_cast<char16_t>(u'a' + index));
    uint32_t* words[] = {&reply.headWord,    &reply.progressWord, &reply.middleWord1,
                         &reply.middleWord2, &reply.blockWord1,   &reply.animate,
                         &reply.blockWord16};
    for (size_t index = 0; index < std::size(words); ++index)
        *words[index] = 100 + static_cast<uint32_t>(index);
    reply.totalProgress = 55;
    for (uint32_t index = 0; index < 13; ++index)
        reply.blockWords3To15[index] = 200 + index;
    reply.userStatusFlags = {1, 0, 3, 0};

    Cservicestatus status;
    EXPECT_EQ(Decode(&status, reply.Encode()), 1u);
    const WCHAR* fields[] = {status.m_text1,  status.m_stepStatusFile, status.m_progressStatusFile,
                             status.m_text4,  status.m_text5,          status.m_text6,
                             status.m_text7,  status.m_text8,          status.m_text9,
                             status.m_text10, status.m_text11,         status.m_text12,
                             status.m_text13, status.m_text14};
    for (size_t index = 0; index < std::size(fields); ++index)
        EXPECT_EQ(std::u16string(fields[index]), *texts[index]) << index;
    const uint32_t decoded[] = {status.m_headWord,    status.m_progressWord, status.m_middleWord1,
                                status.m_middleWord2, status.m_blockWord1,   status.m_animate,
                                status.m_blockWord16};
    for (size_t index = 0; index < std::size(decoded); ++index)
        EXPECT_EQ(decoded[index], 100 + index) << index;
    EXPECT_EQ(status.m_totalProgress, 55);
    EXPECT_EQ(status.m_blockWords3To15[0], 200u);
    EXPECT_EQ(status.m_blockWords3To15[12], 212u);
    EXPECT_EQ(status.m_userStatusFlagA, 1u);
    EXPECT_EQ(status.m_userStatusFlagB, 0u);
    EXPECT_EQ(status.m_userStatusFlagC, 3u);
    EXPECT_EQ(status.m_userStatusFlagD, 0u);
    EXPECT_EQ(status.m_tailWord1, -7);
    EXPECT_EQ(status.m_tailWord2, 8u);
    EXPECT_EQ(status.m_inbackupnow, 1u);
    EXPECT_EQ(status.m_tailWord4, 10u);
    EXPECT_EQ(status.GetStepCode(), 11u);
    EXPECT_EQ(status.m_estimatedFileCount, 12u);
    EXPECT_EQ(status.m_backedUpFileCount, 13u);
}

TEST(ServiceStatus, AFullReplyWithEmptyTextsEmptiesText14AndReadsTheTail)
{
    Cservicestatus status;
    StatusReply earlier;
    earlier.text14 = u"earlier";
    Decode(&status, earlier.Encode());
    std::vector<uint8_t> reply = TailReply().Encode();
    ASSERT_EQ(reply.size(), StatusReply::kEmptyLength);
    EXPECT_EQ(DecodeExact(&status, reply), 1u);
    EXPECT_EQ(std::u16string(status.m_text14), u"");
    EXPECT_EQ(status.m_tailWord1, -7);
    EXPECT_EQ(status.m_inbackupnow, 1u);
    EXPECT_EQ(status.GetStepCode(), 11u);
    EXPECT_EQ(status.m_backedUpFileCount, 13u);
}

TEST(ServiceStatus, AReplyEndingAfterText13KeepsText14AndZeroesTheTail)
{
    Cservicestatus status;
    StatusReply earlier = TailReply();
    earlier.text14 = u"kept";
    Decode(&status, earlier.Encode());
    StatusReply old;
    old.text14.reset();
    std::vector<uint8_t> reply = old.Encode();
    ASSERT_EQ(reply.size(), StatusReply::kEmptyLengthWithoutText14);
    EXPECT_EQ(DecodeExact(&status, reply), 1u);
    EXPECT_EQ(std::u16string(status.m_text14), u"kept");
    EXPECT_EQ(status.m_tailWord1, 0);
    EXPECT_EQ(status.m_inbackupnow, 0u);
    EXPECT_EQ(status.GetStepCode(), 0u);
    EXPECT_EQ(status.m_estimatedFileCount, 0u);
}

TEST(ServiceStatus, CountsAreUnsignedWithAZeroHighHalf)
{
    StatusReply reply;
    reply.estimatedFiles = 0xFFFFFFFF;
    reply.backedUpFiles = 0x80000000;
    Cservicestatus status;
    Decode(&status, reply.Encode());
    EXPECT_EQ(status.m_estimatedFileCount, 4294967295u);
    EXPECT_EQ(status.m_backedUpFileCount, 2147483648u);
}

TEST(ServiceStatus, AnOverlongTextIsSkippedAndTheItemsAfterItStayInStep)
{
    StatusReply reply = TailReply();
    reply.text1 = std::u16string(1025, u'x');
    reply.stepStatusFile = u"after";
    Cservicestatus status;
    EXPECT_EQ(Decode(&status, reply.Encode()), 1u);
    EXPECT_EQ(std::u16string(status.m_text1), u" ");
    EXPECT_EQ(std::u16string(status.m_stepStatusFile), u"after");
    EXPECT_EQ(status.GetStepCode(), 11u);
    EXPECT_EQ(status.m_backedUpFileCount, 13u);
}

TEST(ServiceStatus, TheTerminatorAlwaysStaysInsideTheField)
{
    StatusReply reply = TailReply();
    reply.text1 = std::u16string(1024, u'a');           // 1024 characters wide
    reply.stepStatusFile = std::u16string(1024, u'b');  // 2048 characters wide
    Cservicestatus status;
    EXPECT_EQ(Decode(&status, reply.Encode()), 1u);
    EXPECT_EQ(std::u16string(status.m_text1), std::u16string(1023, u'a'));
    EXPECT_EQ(std::u16string(status.m_stepStatusFile), std::u16string(1024, u'b'));
    EXPECT_EQ(status.GetStepCode(), 11u);
}

TEST(ServiceStatus, AnEightByteReplyEmptiesTheTextsAndZeroesTheWords)
{
    Cservicestatus status;
    StatusReply earlier = TailReply();
    earlier.text14 = u"kept";
    earlier.text1 = u"gone";
    Decode(&status, earlier.Encode());
    std::vector<uint8_t> reply = Word(1);
    std::vector<uint8_t> head = Word(3);
    reply.insert(reply.end(), head.begin(), head.end());
    EXPECT_EQ(DecodeExact(&status, reply), 1u);
    EXPECT_EQ(status.m_headWord, 3u);
    EXPECT_EQ(std::u16string(status.m_text1), u"");
    EXPECT_EQ(std::u16string(status.m_text13), u"");
    EXPECT_EQ(std::u16string(status.m_text14), u"kept");
    EXPECT_EQ(status.m_animate, 0u);
    EXPECT_EQ(status.GetStepCode(), 0u);
    EXPECT_EQ(status.m_estimatedFileCount, 0u);
}

TEST(ServiceStatus, AReplyCutInsideATextGivesTheCharactersThatArrived)
{
    StatusReply reply = TailReply();
    reply.stepStatusFile = u"abcdef";
    std::vector<uint8_t> bytes = reply.Encode();
    bytes.resize(8 + 4 + 4 + 2 * 2);  // head, empty text 1, count and "ab"
    Cservicestatus status;
    EXPECT_EQ(DecodeExact(&status, bytes), 1u);
    EXPECT_EQ(std::u16string(status.m_stepStatusFile), u"ab");
    EXPECT_EQ(status.GetStepCode(), 0u);
}

TEST(ServiceStatus, ACountReachingPastTheBufferStopsTheDecodeThere)
{
    for (uint32_t count : {4100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::vector<uint8_t> reply = TailReply().Encode();
        PutWordAt(&reply, 8, count);  // text 1
        Cservicestatus status;
        EXPECT_EQ(DecodeExact(&status, reply), 0u) << count;
        EXPECT_EQ(std::u16string(status.m_text1), u" ");
        EXPECT_EQ(std::u16string(status.m_stepStatusFile), u" ");
        EXPECT_EQ(status.m_animate, 1u);
        EXPECT_EQ(status.GetStepCode(), 0xFFFFu);
    }
    // A skip that still ends inside the buffer leaves the later items to its zeros.
    std::vector<uint8_t> reply = TailReply().Encode();
    PutWordAt(&reply, 8, 4000);
    Cservicestatus status;
    EXPECT_EQ(DecodeExact(&status, reply), 1u);
    EXPECT_EQ(std::u16string(status.m_text1), u" ");
    EXPECT_EQ(status.m_animate, 0u);
    EXPECT_EQ(status.GetStepCode(), 0u);
}

TEST(ServiceStatus, ASkipThatRunsPastTheBufferKeepsTheFieldsItDoesNotReach)
{
    StatusReply reply = TailReply();
    reply.text6 = std::u16string(1025, u's');  // skipped: ends at byte 2090
    reply.text7 = std::u16string(1025, u't');
    std::vector<uint8_t> bytes = reply.Encode();
    // Text 8 claims 3000 skipped characters: 6000 bytes past the texts before it.
    size_t text8 = 8 + 4 * 7 + 2 * (2 * 1025) + 8;
    PutWordAt(&bytes, text8, 3000);
    Cservicestatus status;
    EXPECT_EQ(DecodeExact(&status, bytes), 0u);
    EXPECT_EQ(status.m_totalProgress, 0);  // read before the stop
    EXPECT_EQ(std::u16string(status.m_text8), u"backed up 0 files");
    EXPECT_EQ(status.m_middleWord1, 1u);
    EXPECT_EQ(status.GetStepCode(), 0xFFFFu);
}

TEST(ServiceStatus, AReplyLargerThanTheUsualBufferIsReadToItsEnd)
{
    StatusReply reply = TailReply();
    reply.text6 = std::u16string(1000, u'6');
    reply.text7 = std::u16string(1000, u'7');
    reply.text9 = std::u16string(1000, u'9');
    reply.text10 = std::u16string(1000, u'0');
    reply.text12 = std::u16string(1000, u'2');
    std::vector<uint8_t> bytes = reply.Encode();
    ASSERT_GT(bytes.size(), Cservicestatus::kReplyBufferSize);
    Cservicestatus status;
    EXPECT_EQ(DecodeExact(&status, bytes), 1u);
    EXPECT_EQ(std::u16string(status.m_text12), std::u16string(1000, u'2'));
    EXPECT_EQ(status.m_backedUpFileCount, 13u);
}

TEST(ServiceStatus, StepCodeReadersOnAnotherThreadSeeOnlyWholeDecodedValues)
{
    StatusReply first = TailReply();
    first.stepStatusCode = 0x11111111;
    StatusReply second = TailReply();
    second.stepStatusCode = 0x22222222;
    const std::vector<uint8_t> replies[] = {InBuffer(first.Encode()), InBuffer(second.Encode())};
    const auto length = static_cast<uint32_t>(first.Encode().size());
    Cservicestatus status;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int round = 0; round < 4000; ++round)
            status.Decode(replies[round % 2].data(), length);
        done = true;
    });
    uint32_t unexpected = 0;
    while (!done) {
        uint32_t code = status.GetStepCode();
        if (code != 0xFFFF && code != 0x11111111 && code != 0x22222222)
            ++unexpected;
    }
    writer.join();
    EXPECT_EQ(unexpected, 0u);
    EXPECT_EQ(status.GetStepCode(), 0x22222222u);
}

class StatusExchange : public ServiceTest {};

TEST_F(StatusExchange, AStatusFromTheServiceDecodesIntoTheRecord)
{
    StandinService service(dir.path().string());
    StatusReply values = TailReply();
    values.totalProgress = 64;
    values.estimatedFiles = 7;
    values.backedUpFiles = 3;
    values.progressStatusFile = u"D:\\docs\\report.doc";
    values.userStatusFlags = {1, 0, 1, 0};
    service.SetStatus(values);
    service.Misbehave(Cserviceclient::COMMAND_STATUS, StandinService::Misbehaviour::Truncate, 60);
    ASSERT_TRUE(service.Start());

    Cserviceclient client;
    ASSERT_EQ(client.Connect(1), 1u);
    std::vector<uint8_t> buffer(Cservicestatus::kReplyBufferSize, 0);
    uint32_t length = 0;
    ASSERT_EQ(client.SendCommand(Cserviceclient::COMMAND_STATUS_FIRSTCALL, buffer.data(), &length,
                                 static_cast<uint32_t>(buffer.size())),
              1u);
    Cservicestatus status;
    EXPECT_EQ(status.Decode(buffer.data(), length), 1u);
    EXPECT_EQ(status.m_totalProgress, 64);
    EXPECT_EQ(status.m_estimatedFileCount, 7u);
    EXPECT_EQ(status.m_backedUpFileCount, 3u);
    EXPECT_EQ(std::u16string(status.m_progressStatusFile), u"D:\\docs\\report.doc");
    EXPECT_EQ(status.m_userStatusFlagC, 1u);

    // A truncated status reply still decodes; what did not arrive reads as zero.
    std::fill(buffer.begin(), buffer.end(), 0);
    ASSERT_EQ(client.SendCommand(Cserviceclient::COMMAND_STATUS, buffer.data(), &length,
                                 static_cast<uint32_t>(buffer.size())),
              1u);
    EXPECT_EQ(length, 60u);
    Cservicestatus cut;
    EXPECT_EQ(cut.Decode(buffer.data(), length), 1u);
    EXPECT_EQ(std::u16string(cut.m_progressStatusFile), u"D:\\docs\\report.doc");
    EXPECT_EQ(cut.m_estimatedFileCount, 0u);
    EXPECT_EQ(cut.GetStepCode(), 0u);
}

}  // namespace
