// The stand-in server's side of a session: it opens the credential packets of user logins
// and checks them against a table of users, checks machine logins against a table of machine
// keys, answers both with a login reply whose fields can be chosen, and answers the settings
// request and the keep-alive echo. It records every login it received.
//
// Register it on a server's command table; it must outlive the server's connections. The
// credential packet is opened with the key of the command index that its own connection was
// handed, so clients may connect and log in at the same time.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "connection/CCreatePacket.h"
#include "tools/server/CommandTable.h"

struct LoginReplyFields {
    DWORD result = 1;
    DWORD status = 1;
    // Sent with its own length; an empty or over-long text makes a malformed reply.
    std::string text = "welcome";
    DWORD sessionValue = 1;
    DWORD refusalFlag = 0;
    DWORD refusalCode = 0;
    DWORD logLevel = 0;
    DWORD sequenceWord = 1;
    DWORD lockedOut = 0;
    DWORD flagX = 0;
    DWORD flag80 = 1;
    DWORD flag100 = 1;
    ULONGLONG machineId = 0;
    DWORD maintenance = 0;
};

struct SettingsReplyFields {
    DWORD result = 1;
    DWORD first = 0;
    std::string dataServer;
    DWORD maintenance = 0;
    std::string text;
};

struct ReceivedLogin {
    DWORD command = 0;
    // User logins: the packet's words and the opened credentials.
    DWORD sequence = 0;
    DWORD word2 = 0;
    ULONGLONG commandIndex = 0;
    std::string userName;
    std::string password;
    // Machine logins: the key.
    std::string machineKey;
    std::string hostName;
    // The credentials or the key were known.
    bool accepted = false;
};

class LoginService {
public:
    void AddUser(const std::string& userName, const std::string& password);
    void AddMachineKey(const std::string& key);
    // The reply to every later login; unknown credentials get it with the refusal flag set.
    void SetLoginReply(const LoginReplyFields& fields);
    void SetSettingsReply(const SettingsReplyFields& fields);
    std::vector<ReceivedLogin> Logins() const;

    // Installs the handlers of the echo, the settings and both logins.
    void Register(CommandTable& commands);

private:
    void AuthenticateUser(RequestReader& request, ReplyWriter& reply);
    void MachineAuthentication(RequestReader& request, ReplyWriter& reply);
    void GetSettings(ReplyWriter& reply) const;
    static void EchoTest(ReplyWriter& reply);
    // Reads and deciphers a credential packet; false when it is not well formed.
    static bool OpenCredentials(RequestReader& request, ULONGLONG commandIndex,
                                ReceivedLogin* login);
    void AnswerLogin(ReplyWriter& reply, const ReceivedLogin& login);

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_users;
    std::set<std::string> m_machineKeys;
    LoginReplyFields m_loginReply;
    SettingsReplyFields m_settingsReply;
    std::vector<ReceivedLogin> m_logins;
};
