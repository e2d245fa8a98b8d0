#include "tools/server/LoginService.h"

#include <vector>

#include "connection/CredentialKey.h"
#include "util/CBlowfish.h"

void LoginService::AddUser(const std::string& userName, const std::string& password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users[userName] = password;
}

void LoginService::AddMachineKey(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_machineKeys.insert(key);
}

void LoginService::SetLoginReply(const LoginReplyFields& fields)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loginReply = fields;
}

void LoginService::SetSettingsReply(const SettingsReplyFields& fields)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settingsReply = fields;
}

std::vector<ReceivedLogin> LoginService::Logins() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logins;
}

void LoginService::Register(CommandTable& commands)
{
    commands.Set(CCreatePacket::kEchoTest, [](RequestReader&, ReplyWriter& reply, ServerModel&) {
        EchoTest(reply);
    });
    commands.Set(CCreatePacket::kGetSettings, [this](RequestReader&, ReplyWriter& reply, ServerModel&) {
        GetSettings(reply);
    });
    commands.Set(CCreatePacket::kAuthenticateUser,
                 [this](RequestReader& request, ReplyWriter& reply, ServerModel&) {
                     AuthenticateUser(request, reply);
                 });
    commands.Set(CCreatePacket::kMachineAuthentication,
                 [this](RequestReader& request, ReplyWriter& reply, ServerModel&) {
                     MachineAuthentication(request, reply);
                 });
}

void LoginService::EchoTest(ReplyWriter& reply)
{
    reply.PutU32(1);
    reply.PutU32(0);
}

void LoginService::GetSettings(ReplyWriter& reply) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    reply.PutU32(m_settingsReply.result);
    reply.PutU32(m_settingsReply.first);
    reply.PutCountedBytes(m_settingsReply.dataServer);
    reply.PutU32(m_settingsReply.maintenance);
    reply.PutCountedBytes(m_settingsReply.text);
}

// u32 sequence, u32 2, u32 lengths of user name, password and host name, u32 cipher length,
// u32 sum of the three lengths, then the cipher of the three texts back to back.
bool LoginService::OpenCredentials(RequestReader& request, ULONGLONG commandIndex,
                                   ReceivedLogin* login)
{
    DWORD userLength = 0;
    DWORD passwordLength = 0;
    DWORD hostLength = 0;
    DWORD cipherLength = 0;
    DWORD sum = 0;
    if (!request.ReadU32(&login->sequence) || !request.ReadU32(&login->word2) ||
        !request.ReadU32(&userLength) || !request.ReadU32(&passwordLength) ||
        !request.ReadU32(&hostLength) || !request.ReadU32(&cipherLength) ||
        !request.ReadU32(&sum))
        return false;
    const ULONGLONG plainLength = ULONGLONG{userLength} + passwordLength + hostLength;
    if (sum != plainLength || cipherLength % 8 != 0 || cipherLength < plainLength ||
        cipherLength - plainLength >= 8 || request.Remaining() != cipherLength)
        return false;
    std::string sealed;
    request.ReadBytes(cipherLength, &sealed);

    char key[kCredentialKeyLength + 1];
    BuildCredentialKey(commandIndex, key);
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const BYTE*>(key), kCredentialKeyLength);
    std::vector<BYTE> plain(sealed.begin(), sealed.end());
    cipher.DecryptBuffer(plain.data(), plain.data(), cipherLength);
    for (size_t i = plainLength; i < plain.size(); ++i) {
        if (plain[i] != 0)
            return false;
    }
    const char* text = reinterpret_cast<const char*>(plain.data());
    login->commandIndex = commandIndex;
    login->userName.assign(text, userLength);
    login->password.assign(text + userLength, passwordLength);
    login->hostName.assign(text + userLength + passwordLength, hostLength);
    return true;
}

void LoginService::AuthenticateUser(RequestReader& request, ReplyWriter& reply)
{
    ReceivedLogin login;
    login.command = CCreatePacket::kAuthenticateUser;
    if (!OpenCredentials(request, request.Connection().commandIndex, &login)) {
        reply.PutU32(0);
        reply.PutU32(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto user = m_users.find(login.userName);
        login.accepted = user != m_users.end() && user->second == login.password;
    }
    AnswerLogin(reply, login);
}

// u32 225, then the machine key and the host name, each a u32 count and its bytes.
void LoginService::MachineAuthentication(RequestReader& request, ReplyWriter& reply)
{
    ReceivedLogin login;
    login.command = CCreatePacket::kMachineAuthentication;
    if (!request.ReadCountedBytes(&login.machineKey) ||
        !request.ReadCountedBytes(&login.hostName) || request.Remaining() != 0) {
        reply.PutU32(0);
        reply.PutU32(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        login.accepted = m_machineKeys.count(login.machineKey) != 0;
    }
    AnswerLogin(reply, login);
}

void LoginService::AnswerLogin(ReplyWriter& reply, const ReceivedLogin& login)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logins.push_back(login);
    const LoginReplyFields& fields = m_loginReply;
    reply.PutU32(fields.result);
    reply.PutU32(fields.status);
    reply.PutCountedBytes(fields.text);
    reply.PutU32(fields.sessionValue);
    reply.PutU32(login.accepted ? fields.refusalFlag : 1);
    reply.PutU32(fields.refusalCode);
    reply.PutU32(0);
    reply.PutU32(fields.logLevel);
    reply.PutU32(0);
    reply.PutU32(fields.sequenceWord);
    reply.PutU32(fields.lockedOut);
    reply.PutU32(fields.flagX);
    reply.PutU32(fields.flag80);
    reply.PutU32(fields.flag100);
    reply.PutU32(0);
    reply.PutU32(0);
    reply.PutU64(fields.machineId);
    reply.PutU64(0);
    reply.PutU32(fields.maintenance);
    reply.PutU32(0);
}
