#include "support/LoginServer.h"

#include "platform/text.h"

LoginServer::LoginServer() : m_server(StartLoopbackServer())
{
    if (m_server == nullptr)
        return;
    m_logins.Register(m_server->Commands());
    m_logins.AddUser(kUser, kPassword);
    m_logins.AddMachineKey(kMachineKey);
    NameDataServer(m_server->Address());
}

LoginServer::~LoginServer()
{
    Stop();
}

std::u16string LoginServer::Address16() const
{
    return Utf8ToUtf16(Address());
}

void LoginServer::NameDataServer(const std::string& dataServer, DWORD maintenance)
{
    SettingsReplyFields settings;
    settings.dataServer = dataServer;
    settings.maintenance = maintenance;
    m_logins.SetSettingsReply(settings);
}

size_t LoginServer::RequestCount(DWORD code) const
{
    return m_server->Log().Requests(code).size();
}

void LoginServer::Stop()
{
    if (m_server != nullptr)
        m_server->Stop();
}
