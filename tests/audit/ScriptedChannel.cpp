#include "audit/ScriptedChannel.h"

#include "platform/text.h"
#include "support/LoopbackServer.h"

void ScriptedChannel::SetUp()
{
    server = StartLoopbackServer();
    ASSERT_TRUE(server) << "no loopback address could be bound on port 443";
    logins.AddUser(kUser, kPassword);
    LoginReplyFields fields;
    fields.logLevel = kLogLevel;
    logins.SetLoginReply(fields);
    logins.Register(server->Commands());
    channel = std::make_unique<Csocketclient>();
    channel->SetServer(Utf8ToUtf16(server->Address()).c_str(), StandinServer::kDefaultPort);
    channel->SetSendSleep(0);
    channel->SetRecvSleep(0);
    channel->SetUserCredentials(Utf8ToUtf16(kUser).c_str(), Utf8ToUtf16(kPassword).c_str());
    channel->SetAutoSession(1);
    host.Install(*channel);
    ASSERT_TRUE(channel->EnsureSession(1, 1));
}

void ScriptedChannel::TearDown()
{
    channel.reset();
    if (server)
        server->Stop();
}

void ScriptedChannel::Answer(DWORD code, const std::vector<BYTE>& bytes)
{
    AnswerWithBytes(*server, code, bytes);
}

void ScriptedChannel::AnswerLogins(const LoginReplyFields& fields)
{
    logins.SetLoginReply(fields);
}
