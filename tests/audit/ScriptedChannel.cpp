#include "audit/ScriptedChannel.h"

#include <algorithm>

#include "platform/text.h"
#include "support/LoopbackServer.h"

void LogRecorder::Install(Csocketclient& channel)
{
    channel.SetCallback(reinterpret_cast<uintptr_t>(this), Callback);
}

bool LogRecorder::Logged(const std::string& line) const
{
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}

int32_t LogRecorder::Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t)
{
    auto* self = reinterpret_cast<LogRecorder*>(context);
    if (code == 1 && text != nullptr)
        self->m_lines.push_back(Utf16ToUtf8(text));
    return 0;
}

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
    server->Commands().Set(code, [bytes](RequestReader&, ReplyWriter& reply, ServerModel&) {
        reply.PutBytes(bytes.data(), bytes.size());
    });
}

void ScriptedChannel::AnswerLogins(const LoginReplyFields& fields)
{
    logins.SetLoginReply(fields);
}
