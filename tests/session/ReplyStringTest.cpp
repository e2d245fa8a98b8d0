#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "PacketBytes.h"
#include "connection/Csocketclient.h"

namespace {

// A reply: w0, w1, then the given string fields.
Bytes ReplyWith(const std::u16string& text) { return ExpectedPacket(1).U32(0).Text16(text).Get(); }

Bytes ReplyWithCount(DWORD count, size_t bytesAfter)
{
    return ExpectedPacket(1).U32(0).U32(count).Fill(bytesAfter, 0).Get();
}

}  // namespace

TEST(ReplyString, ReadsStringsAtARunningOffset)
{
    const Bytes reply = ExpectedPacket(1).U32(0).Text16(u"ab\u00e9").Text16(u"").Text16(u"z").Get();
    WCHAR out[8];
    DWORD offset = 8;
    ASSERT_TRUE(Csocketclient::ReadReplyString(reply.data(), reply.size(), &offset, out, 8));
    EXPECT_EQ(std::u16string(out), u"ab\u00e9");
    EXPECT_EQ(offset, 8u + 4 + 6);

    ASSERT_TRUE(Csocketclient::ReadReplyString(reply.data(), reply.size(), &offset, out, 8));
    EXPECT_EQ(std::u16string(out), u"");
    EXPECT_EQ(offset, 8u + 4 + 6 + 4);

    ASSERT_TRUE(Csocketclient::ReadReplyString(reply.data(), reply.size(), &offset, out, 2));
    EXPECT_EQ(std::u16string(out), u"z");
    EXPECT_EQ(offset, reply.size());
}

TEST(ReplyString, RefusesHostileCountsAndWritesNothing)
{
    const WCHAR untouched = u'#';
    WCHAR out[5];
    auto refused = [&](const Bytes& reply, DWORD capacity) {
        std::fill(std::begin(out), std::end(out), untouched);
        DWORD offset = 8;
        const BOOL read = Csocketclient::ReadReplyString(reply.data(),
                                                         static_cast<DWORD>(reply.size()),
                                                         &offset, out, capacity);
        const bool untouchedAll =
            std::all_of(std::begin(out), std::end(out), [&](WCHAR c) { return c == untouched; });
        return !read && offset == 8 && untouchedAll;
    };
    // A count that runs past the reply, by one byte or by nearly 4 GiB.
    EXPECT_TRUE(refused(ReplyWithCount(8, 7), 5));
    EXPECT_TRUE(refused(ReplyWithCount(0xFFFFFFFF, 8), 5));
    EXPECT_TRUE(refused(ReplyWithCount(0xFFFFFFFE, 8), 5));
    // An odd count is no UTF-16 text.
    EXPECT_TRUE(refused(ReplyWithCount(3, 3), 5));
    // Four code units need five with the terminator.
    EXPECT_TRUE(refused(ReplyWith(u"abcd"), 4));
    // No room for the count itself.
    EXPECT_TRUE(refused(Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5));

    DWORD offset = 8;
    const Bytes fits = ReplyWith(u"abcd");
    EXPECT_TRUE(Csocketclient::ReadReplyString(fits.data(), fits.size(), &offset, out, 5));
    EXPECT_EQ(std::u16string(out), u"abcd");
}

TEST(ReplyString, RefusesAnOffsetBeyondTheReply)
{
    const Bytes reply = ReplyWith(u"a");
    WCHAR out[4] = {u'#'};
    DWORD offset = static_cast<DWORD>(reply.size()) + 1;
    EXPECT_FALSE(Csocketclient::ReadReplyString(reply.data(), reply.size(), &offset, out, 4));
    offset = 0xFFFFFFFC;
    EXPECT_FALSE(Csocketclient::ReadReplyString(reply.data(), reply.size(), &offset, out, 4));
    EXPECT_EQ(out[0], u'#');
}
