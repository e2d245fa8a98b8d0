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
    AnswerWithBytes(Server(), code, payload);
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
