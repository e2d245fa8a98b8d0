#include "audit/LibraryChannel.h"

#include "platform/text.h"

void LibraryChannel::SetUp()
{
    ASSERT_TRUE(server.Started()) << "no loopback address could be bound on port 443";
    uint32_t flags = 0;
    channel = library.OpenChannel(server.Address16().c_str(),
                                  Utf8ToUtf16(LoginServer::kUser).c_str(),
                                  Utf8ToUtf16(LoginServer::kPassword).c_str(), &flags, 0, nullptr,
                                  0, nullptr, nullptr);
    ASSERT_NE(channel, nullptr);
}

void LibraryChannel::TearDown()
{
    library.CloseChannel(channel);
}

void LibraryChannel::Answer(DWORD code, const std::vector<BYTE>& bytes)
{
    AnswerWithBytes(server.Server(), code, bytes);
}
