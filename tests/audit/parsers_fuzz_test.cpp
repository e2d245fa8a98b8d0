// The readers of outside bytes, driven directly over heap buffers of exactly the size that
// arrived (and out-buffers of exactly the size promised), so that the address sanitizer sees
// a read or write of a single byte too far: the page allocations that carry replies on the
// real road have slack behind them that would hide one. Each reader is fed seeded mutations
// of well-formed input and must answer with its failure result where the input does not hold
// what it announces.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "api/ReplyBuffer.h"
#include "audit/Hostile.h"
#include "connection/Csocketclient.h"
#include "connection/ReplyReader.h"
#include "platform/format.h"
#include "restore/Cinflate.h"
#include "service/Cservicestatus.h"
#include "service/StatusReply.h"
#include "util/Cdatautil.h"

namespace {

constexpr uint32_t kRounds = 400;

// A heap copy of exactly the bytes, so that one byte past them is out of bounds.
std::unique_ptr<BYTE[]> Exact(const std::vector<BYTE>& bytes)
{
    auto copy = std::make_unique<BYTE[]>(bytes.size());
    if (!bytes.empty())
        std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

std::vector<BYTE> RandomBytes(Mutator& random, size_t count)
{
    std::vector<BYTE> bytes(count);
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(random.Word());
    return bytes;
}

}  // namespace

TEST(ParserFuzz, ReplyReaderNeverReadsPastThePayloadAndStaysPutOnFailure)
{
    Mutator random(201);
    for (uint32_t round = 0; round < kRounds; ++round) {
        const std::vector<BYTE> bytes = RandomBytes(random, random.Below(48));
        auto payload = Exact(bytes);
        const DWORD start = random.Below(static_cast<uint32_t>(bytes.size()) + 8);
        ReplyReader reader(payload.get(), static_cast<DWORD>(bytes.size()), start);
        uint64_t offset = start;
        for (int step = 0; step < 12; ++step) {
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            switch (random.Below(4)) {
            case 0: {
                DWORD value = 0;
                const bool read = reader.U32(&value);
                EXPECT_EQ(read, offset + 4 <= bytes.size());
                if (read) {
                    EXPECT_EQ(value, *WordIn(bytes, offset));
                    offset += 4;
                }
                break;
            }
            case 1: {
                ULONGLONG value = 0;
                if (reader.U64(&value))
                    offset += 8;
                else
                    EXPECT_GT(offset + 8, bytes.size());
                break;
            }
            case 2: {
                const BYTE* data = nullptr;
                DWORD count = 0;
                std::optional<uint32_t> announced = WordIn(bytes, offset);
                const bool fits = announced && offset + 4 + *announced <= bytes.size();
                ASSERT_EQ(reader.Counted(&data, &count), fits);
                if (fits) {
                    EXPECT_EQ(count, *announced);
                    EXPECT_EQ(data, payload.get() + offset + 4);
                    offset += 4 + uint64_t{count};
                }
                break;
            }
            default: {
                const DWORD skip = random.Below(2) == 0 ? random.Below(16) : random.Word();
                if (reader.Skip(skip))
                    offset += skip;
                else
                    EXPECT_GT(offset + skip, bytes.size());
                break;
            }
            }
            EXPECT_EQ(reader.Offset(), offset);
        }
    }
}

TEST(ParserFuzz, ReplyStringsAreRefusedWholeWhenTheyDoNotFitTheirPayloadOrBuffer)
{
    Mutator random(202);
    for (uint32_t round = 0; round < kRounds; ++round) {
        const uint32_t units = random.Below(40);
        std::vector<BYTE> bytes = WireBytes().U32(2 * units).Get();
        for (uint32_t i = 0; i < 2 * units; ++i)
            bytes.push_back(static_cast<BYTE>(i % 2 == 0 ? 'a' + random.Below(26) : 0));
        bytes = random.Mutate(bytes);
        auto payload = Exact(bytes);
        const DWORD capacity = 1 + random.Below(48);
        auto out = std::make_unique<WCHAR[]>(capacity);
        std::fill(out.get(), out.get() + capacity, u'#');
        DWORD offset = 0;
        SCOPED_TRACE(round);
        const BOOL read = Csocketclient::ReadReplyString(
            payload.get(), static_cast<DWORD>(bytes.size()), &offset, out.get(), capacity);
        std::optional<uint32_t> count = WordIn(bytes, 0);
        const bool fits = count && 4 + uint64_t{*count} <= bytes.size() && *count % 2 == 0 &&
                          *count / 2 < capacity;
        ASSERT_EQ(read != 0, fits);
        if (!fits) {
            EXPECT_EQ(offset, 0u);
            EXPECT_TRUE(std::all_of(out.get(), out.get() + capacity,
                                    [](WCHAR c) { return c == u'#'; }));
            continue;
        }
        EXPECT_EQ(offset, 4 + *count);
        EXPECT_EQ(out[*count / 2], 0);
    }
}

TEST(ParserFuzz, RecordWalksOfReplyBuffersStayInsideTheReply)
{
    static constexpr RecordPart kParts[] = {kTextPart, FixedPart(12), kTextPart, FixedPart(4)};
    Mutator random(203);
    for (uint32_t round = 0; round < kRounds; ++round) {
        WireBytes well;
        const uint32_t count = random.Below(4);
        well.U32(count);
        for (uint32_t record = 0; record < count; ++record)
            well.Text8(std::string(random.Below(20), 't')).Fill(12, 1).Text8("xy").Fill(4, 2);
        const std::vector<BYTE> bytes = round == 0 ? well.Get() : random.Mutate(well.Get());
        auto payload = Exact(bytes);
        ReplyBuffer reply;
        *reply.Out() = payload.get();
        *reply.LengthOut() = static_cast<DWORD>(bytes.size());
        SCOPED_TRACE(round);
        std::optional<uint32_t> announced = WordIn(bytes, 0);
        DWORD size = 0xA5A5A5A5u;
        const bool measured = announced && reply.MeasureRecords(kReplyWordSize, *announced,
                                                                kParts, &size);
        // Walked here the same way from the wire format: text, 12 bytes, text, 4 bytes.
        std::optional<uint64_t> end;
        if (announced) {
            end = 4;
            for (uint32_t record = 0; record < *announced && end; ++record) {
                for (int part = 0; part < 4 && end; ++part) {
                    if (part % 2 == 0) {
                        std::optional<uint32_t> length = WordIn(bytes, *end);
                        end = length ? std::optional<uint64_t>(*end + 4 + *length) : std::nullopt;
                    } else {
                        *end += part == 1 ? 12 : 4;
                    }
                    if (end && *end > bytes.size())
                        end.reset();
                }
            }
        }
        EXPECT_EQ(measured, end.has_value());
        if (measured)
            EXPECT_EQ(size, *end);
        else
            EXPECT_EQ(size, 0xA5A5A5A5u);
        // The buffer is the test's own: it is not page memory to give back.
        reply.HandOver();
    }
}

TEST(ParserFuzz, StatusRepliesAreDecodedWithinTheBytesReceived)
{
    StatusReply status;
    status.text1 = u"text one";
    status.stepStatusFile = u"C:\\data\\step.txt";
    status.progressStatusFile = u"C:\\data\\progress.txt";
    status.text8 = u"backed up 12 files";
    status.animate = 1;
    status.inBackupNow = 1;
    status.stepStatusCode = 7;
    status.estimatedFiles = 30;
    status.backedUpFiles = 12;
    const std::vector<BYTE> whole = status.Encode();
    Mutator random(204);
    for (uint32_t round = 0; round < kRounds; ++round) {
        std::vector<BYTE> bytes = round == 0 ? whole : random.Mutate(whole);
        // Replies of more than the usual buffer come too.
        if (random.Below(8) == 0)
            bytes.resize(Cservicestatus::kReplyBufferSize + random.Below(64), 0x41);
        auto reply = Exact(bytes);
        auto record = std::make_unique<Cservicestatus>();
        SCOPED_TRACE(round);
        const uint32_t decoded =
            record->Decode(reply.get(), static_cast<uint32_t>(bytes.size()));
        if (round == 0) {
            EXPECT_EQ(decoded, 1u);
            EXPECT_EQ(record->GetStepCode(), 7u);
            EXPECT_EQ(record->m_inbackupnow, 1u);
            EXPECT_EQ(record->m_backedUpFileCount, 12u);
        }
        // Every text field keeps its terminator inside it, whatever was decoded.
        for (const WCHAR* field : {record->m_text1, record->m_text4, record->m_text5,
                                   record->m_text8, record->m_text9, record->m_text10,
                                   record->m_text11, record->m_text12, record->m_text13,
                                   record->m_text14}) {
            EXPECT_LT(std::char_traits<WCHAR>::length(field), Cservicestatus::kShortText);
        }
        for (const WCHAR* field : {record->m_stepStatusFile, record->m_progressStatusFile,
                                   record->m_text6, record->m_text7}) {
            EXPECT_LT(std::char_traits<WCHAR>::length(field), Cservicestatus::kLongText);
        }
    }
}

TEST(ParserFuzz, InflateAcceptsExactlyTheStreamsZlibEndsAndNeverWritesPastItsBuffer)
{
    Mutator random(205);
    uint32_t accepted = 0;
    for (uint32_t round = 0; round < kRounds; ++round) {
        std::vector<BYTE> data(random.Below(3000));
        for (BYTE& byte : data)
            byte = static_cast<BYTE>(random.Below(4) == 0 ? random.Word() : 'k');
        const std::string stream = Compress(data.data(), data.size());
        std::vector<BYTE> input(stream.begin(), stream.end());
        if (round % 4 != 0)
            input = random.Mutate(input);
        auto in = Exact(input);
        const DWORD capacity = 1 + random.Below(3200);
        auto out = std::make_unique<BYTE[]>(capacity);
        DWORD length = capacity;
        INT status = 0;
        Cinflate inflater;
        SCOPED_TRACE(round);
        const DWORD inflated = inflater.Inflate(out.get(), &length, in.get(),
                                                static_cast<DWORD>(input.size()), &status);
        // zlib itself, into exactly the room for data that Inflate keeps (one byte less than
        // its buffer, for the zero byte).
        std::vector<BYTE> expected(capacity);
        uLongf expectedLength = capacity - 1;
        uLong consumed = static_cast<uLong>(input.size());
        const int zlibStatus = uncompress2(expected.data(), &expectedLength, input.data(),
                                           &consumed);
        ASSERT_EQ(inflated != 0, zlibStatus == Z_OK) << "zlib status " << zlibStatus;
        if (!inflated) {
            EXPECT_EQ(length, 0u);
            continue;
        }
        ++accepted;
        ASSERT_EQ(length, expectedLength);
        EXPECT_EQ(std::memcmp(out.get(), expected.data(), length), 0);
        EXPECT_EQ(out[length], 0);
    }
    EXPECT_GT(accepted, kRounds / 10);
}

TEST(ParserFuzz, SealedParameterTextsThatDoNotOpenGiveNothing)
{
    Mutator random(206);
    WCHAR sealed[1024];
    ASSERT_EQ(EncodeParameterText(u"user:password", sealed), 1u);
    const std::u16string whole(sealed);
    for (uint32_t round = 0; round < kRounds; ++round) {
        std::u16string text = whole;
        switch (random.Below(4)) {
        case 0:
            text.resize(random.Below(static_cast<uint32_t>(text.size())));
            break;
        case 1:
            text[random.Below(static_cast<uint32_t>(text.size()))] =
                static_cast<char16_t>(u"0123456789ABCDEFZ\xFFFF\xD800"[random.Below(19)]);
            break;
        case 2:
            text.append(random.Below(5000), u"0123456789ABCDEF"[random.Below(16)]);
            break;
        default:
            text.insert(random.Below(static_cast<uint32_t>(text.size())), 1 + random.Below(9),
                        u'F');
            break;
        }
        // Exactly the 4096 characters the channel's parameter work area holds.
        auto out = std::make_unique<WCHAR[]>(4096);
        SCOPED_TRACE(round);
        const uint32_t opened = DecodeParameterText(text.c_str(), out.get());
        if (text == whole) {
            EXPECT_EQ(opened, 1u);
            continue;
        }
        if (opened != 0) {
            // Only a change that left the sealed bytes as they were may still open.
            EXPECT_EQ(std::u16string(out.get()), u"user:password");
        }
    }
}

TEST(ParserFuzz, FormattedLinesOfServerTextsStayInsideTheirBufferAndSayWhenTheyWereCut)
{
    // Log lines and error texts carry texts from the server, in both widths, through the
    // bounded formatter into buffers of fixed size.
    Mutator random(207);
    for (uint32_t round = 0; round < kRounds; ++round) {
        std::string narrow(random.Below(300), '\0');
        for (char& byte : narrow)
            byte = static_cast<char>(1 + random.Below(255));
        std::u16string wide(random.Below(300), u'\0');
        for (char16_t& unit : wide)
            unit = static_cast<char16_t>(1 + random.Below(0xFFFF));
        const size_t capacity = 1 + random.Below(400);
        auto out = std::make_unique<WCHAR[]>(capacity);
        auto outNarrow = std::make_unique<char[]>(capacity);
        SCOPED_TRACE(round);
        const int written = FormatW(out.get(), capacity, u"[%s] (%S) %ld", wide, narrow,
                                    static_cast<int32_t>(random.Word()));
        const size_t length = std::char_traits<WCHAR>::length(out.get());
        ASSERT_LT(length, capacity);
        EXPECT_TRUE(written == -1 || static_cast<size_t>(written) == length);
        const int writtenNarrow = FormatA(outNarrow.get(), capacity, "[%S] (%s) %I64u", wide,
                                          narrow, uint64_t{random.Word()} << 32);
        const size_t narrowLength = std::strlen(outNarrow.get());
        ASSERT_LT(narrowLength, capacity);
        EXPECT_TRUE(writtenNarrow == -1 || static_cast<size_t>(writtenNarrow) == narrowLength);
        // A line that fits whole is never reported as cut.
        if (narrow.size() + wide.size() + 40 < capacity / 4) {
            EXPECT_NE(written, -1);
        }
    }
}
