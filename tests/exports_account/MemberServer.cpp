#include "MemberServer.h"

#include "support/KelvaneLibrary.h"

MemberServer::MemberServer()
{
    if (!Started())
        return;
    Store([](ServiceState& state) {
        state.member.userName = u"alice";
        state.member.memberAuth = kMemberAuth;
        state.userNames = {u"alice", u"bob"};
    });
}

MemberServer::~MemberServer()
{
    for (Csocketclient* channel : m_channels)
        EXPORT(CloseChannel)(channel);
}

void MemberServer::AnswerWith(DWORD code, const std::vector<BYTE>& payload)
{
    Server().Commands().Set(code, [payload](RequestReader&, ReplyWriter& reply, ServerModel&) {
        reply.PutBytes(payload.data(), payload.size());
    });
}

Csocketclient* MemberServer::OpenUser()
{
    uint32_t flags = 0;
    return Keep(EXPORT(OpenChannel)(Address16().c_str(), u"alice", u"secret",
                                                  &flags, 0, u"", 0, u"", u""));
}

Csocketclient* MemberServer::OpenNoUser()
{
    return Keep(EXPORT(OpenChannelNoUser)(Address16().c_str(), 0, u"", 0, u"", u""));
}

Csocketclient* MemberServer::Keep(Csocketclient* channel)
{
    if (channel != nullptr)
        m_channels.push_back(channel);
    return channel;
}

Payload& Payload::U32(DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<BYTE>(value >> shift));
    return *this;
}

Payload& Payload::U64(ULONGLONG value)
{
    return U32(static_cast<DWORD>(value)).U32(static_cast<DWORD>(value >> 32));
}

Payload& Payload::Counted(const std::string& bytes)
{
    U32(static_cast<DWORD>(bytes.size()));
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

Payload& Payload::Zeros(size_t count)
{
    m_bytes.insert(m_bytes.end(), count, 0);
    return *this;
}
