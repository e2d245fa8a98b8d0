// The session of a channel: the logins of a user or a machine, the check that every server
// command runs first (reconnecting and logging in again when the connection was lost), the
// keep-alive echo and the server settings; and the reading of replies that those and the
// command methods share.
#include "connection/Csocketclient.h"

#include "connection/ReplyReader.h"

namespace {

// The login reply's text must hold 1 to kLoginTextMaximum bytes.
constexpr DWORD kLoginTextMaximum = 254;
// The settings reply: a data-server name below kDataServerSize bytes and a second text
// below kSettingsTextSize bytes (longer ones are dropped).
constexpr DWORD kDataServerSize = 65;
constexpr DWORD kSettingsTextSize = 4096;
// The keep-alive request is this many bytes after the code.
constexpr DWORD kEchoSize = 16;

// A settings reply that lacks a field it announces, or names too long a data server.
DWORD RefuseSettings(Csocketclient& channel)
{
    channel.LogA(CTransport::kTypeError, 30, "GetSettings: reply malformed");
    return 0;
}

}  // namespace

BOOL Csocketclient::SendPacket(void* packet, DWORD length)
{
    const PacketBuffer owned(packet);
    // An echo's answer still on its way would be read as this request's reply.
    FinishConnectionCheck();
    return SendRequest(packet, length);
}

BOOL Csocketclient::SendRequest(const void* packet, DWORD length)
{
    return !DropConnectionOutOfStep() && SendMsg(packet, length, nullptr);
}

BOOL Csocketclient::ReadReplyString(const void* payload, DWORD length, DWORD* offset,
                                    WCHAR* out, DWORD capacity)
{
    ReplyReader reader(payload, length, *offset);
    if (!reader.Utf16(out, capacity))
        return FALSE;
    *offset = reader.Offset();
    return TRUE;
}

BOOL Csocketclient::ParseAuthReply(const void* payload, DWORD length, char* loginText,
                                   DWORD* status, DWORD* sequence, LoginReply* fields)
{
    ReplyReader reader(payload, length, 4);
    DWORD statusWord = 0;
    if (!reader.U32(&statusWord))
        return FALSE;
    *status = statusWord;

    ReplyReader::Text text;
    if (!reader.Narrow(&text, kLoginTextMaximum + 1) || text.count < 1)
        return FALSE;
    LoginReply parsed;
    DWORD sequenceWord = 0;
    const bool complete =
        reader.U32(&parsed.sessionValue) && reader.U32(&parsed.refusalFlag) &&
        reader.U32(&parsed.refusalCode) && reader.U32(&parsed.authValueA) &&
        reader.U32(&parsed.logLevel) && reader.U32(&parsed.authValueB) &&
        reader.U32(&sequenceWord) && reader.U32(&parsed.lockedOut) &&
        reader.U32(&parsed.flagX) && reader.U32(&parsed.flag80) &&
        reader.U32(&parsed.flag100) && reader.U32(&parsed.sessionValueA) &&
        reader.U32(&parsed.sessionValueB) && reader.U64(&parsed.machineId) &&
        reader.U64(&parsed.reserved) && reader.U32(&parsed.maintenance) &&
        reader.U32(&parsed.sessionValueC);
    if (!complete)
        return FALSE;
    text.CopyTo(loginText);
    *sequence = sequenceWord;
    *fields = parsed;
    return TRUE;
}

void Csocketclient::PresetLogin(char* loginText, DWORD* status, LoginReply* fields)
{
    loginText[0] = ' ';
    loginText[1] = 0;
    *status = 0;
    *fields = LoginReply{};
}

DWORD Csocketclient::AuthenticateUser(DWORD* sequence, char* userName, char* password,
                                      char* loginText, DWORD* status, LoginReply* fields)
{
    PresetLogin(loginText, status, fields);
    void* packet = nullptr;
    const DWORD length = m_createpacket.AuthenticateUser(&packet, *sequence, 2, userName,
                                                         password, m_hostName, m_commandIndex);
    if (length == 0)
        return 0;
    LogFormatA(kTypeInformation, 30, "AuthenticateUser: Sending message (%ld) bytes", length);
    if (!SendPacket(packet, length)) {
        LogA(kTypeError, 30, "AuthenticateUser: SendMsg failed");
        return 0;
    }
    LogFormatA(kTypeInformation, 30, "AuthenticateUser: Sent ok (%ld) bytes", length);
    const CommandReply reply = ReceiveReply("AuthenticateUser");
    if (reply.length == 0)
        return 0;
    LogFormatA(kTypeInformation, 30, "AuthenticateUser: ReceiveMsg ok (%ld) bytes", reply.length);
    if (reply.FirstWord() == 0) {
        LogA(kTypeError, 30, "AuthenticateUser: retcode FALSE");
        return 0;
    }
    if (!ParseAuthReply(reply.payload.get(), reply.length, loginText, status, sequence, fields))
        return 0;
    return *status;
}

DWORD Csocketclient::MachineAuthentication(const char* machineKey, DWORD* sequence,
                                           char* loginText, DWORD* status, LoginReply* fields)
{
    PresetLogin(loginText, status, fields);
    if (!EnsureSession(0, 0)) {
        m_lastError = kErrorNoSession;
        return 0;
    }
    void* packet = nullptr;
    const DWORD length = m_createpacket.MachineAuthentication(&packet, machineKey, m_hostName);
    if (length == 0) {
        m_lastError = kErrorNotBuilt;
        return 0;
    }
    if (!SendPacket(packet, length)) {
        m_lastError = kErrorSendFailed;
        return 0;
    }
    const CommandReply reply = ReceiveReply("MachineAuthentication");
    if (reply.length == 0) {
        m_lastError = kErrorNoReply;
        return 0;
    }
    if (reply.FirstWord() == 0)
        return 0;
    return ParseAuthReply(reply.payload.get(), reply.length, loginText, status, sequence, fields);
}

DWORD Csocketclient::LoginUser(DWORD* maintenance, DWORD* lockedout)
{
    return Login(0, maintenance, lockedout);
}

DWORD Csocketclient::LoginMachine(DWORD* maintenance, DWORD* lockedout)
{
    return Login(1, maintenance, lockedout);
}

DWORD Csocketclient::Login(DWORD machineMode, DWORD* maintenance, DWORD* lockedout)
{
    m_machineMode = machineMode;
    ResetSessionFlags();
    m_cancel = 0;
    m_authenticated = 0;
    m_loginStatus = 0;

    // Without credentials there is nothing to log in with: no exchange, not authenticated.
    if (machineMode ? m_machineKey[0] == 0 : m_userName[0] == 0 || m_password[0] == 0)
        return 1;

    DWORD status = 0;
    LoginReply fields;
    const DWORD result =
        machineMode ? MachineAuthentication(m_machineKey, &m_loginSequence, m_loginText, &status,
                                            &fields)
                    : AuthenticateUser(&m_loginSequence, m_userName, m_password, m_loginText,
                                       &status, &fields);
    if (result == 0) {
        LogA(kTypeError, 30, "Authenticate failed");
        return 0;
    }
    ApplyLoginReply(machineMode, fields, maintenance, lockedout);
    m_loginStatus = status;
    if (fields.refusalFlag == 1) {
        m_sessionFlag4 = 1;
        m_authenticated = 0;
        m_sessionValue = 0;
        return 1;
    }
    if (fields.refusalCode != 0) {
        m_sessionFlag8 = fields.refusalCode;
        m_sessionValue = 0;
        return 1;
    }
    if (fields.flagX != 1)
        m_sessionValue = fields.sessionValue;
    m_authenticated = status;
    return 1;
}

void Csocketclient::ResetSessionFlags()
{
    m_sessionFlag4 = 0;
    m_sessionFlag8 = 0;
    m_sessionFlag2 = 0;
    m_sessionFlagX = 0;
    m_sessionFlag80 = 1;
    m_sessionFlag100 = 1;
}

void Csocketclient::ApplyLoginReply(DWORD machineMode, const LoginReply& fields,
                                    DWORD* maintenance, DWORD* lockedout)
{
    SetAuthValueA(fields.authValueA);
    SetAuthValueB(fields.authValueB);
    // A machine login may raise the channel's log level but never lowers it.
    const INT level = static_cast<INT>(fields.logLevel);
    if (!machineMode || level > GetLogLevel())
        SetLogLevel(level);
    m_sessionFlag80 = fields.flag80;
    m_sessionFlag100 = fields.flag100;
    m_machineId = fields.machineId;
    SetSessionValueA(fields.sessionValueA);
    SetSessionValueB(fields.sessionValueB);
    SetSessionValueC(fields.sessionValueC);
    *maintenance = fields.maintenance;
    *lockedout = fields.lockedOut;
    if (fields.flagX == 1) {
        m_sessionFlagX = 1;
        m_sessionValue = 0;
    }
}

BOOL Csocketclient::EnsureSession(DWORD needAuth, DWORD force)
{
    const bool tested = m_echoPending;
    FinishConnectionCheck();
    // A connection whose replies are out of step is connected anew, as one that was lost.
    DropConnectionOutOfStep();
    if (m_autoSession == 0 && force == 0)
        return TRUE;
    if (m_connected && !tested)
        CheckConnection();
    if (m_connected && (needAuth == 0 || m_authenticated))
        return TRUE;
    if (!m_connected) {
        WCHAR errText[kErrorTextCapacity] = {};
        if (!SocketConnect(errText))
            return FALSE;
        if (!GetCommandIndex(errText)) {
            CloseSocket(1);
            return FALSE;
        }
    }
    if (needAuth == 0)
        return TRUE;
    DWORD lockedout = 0;
    const DWORD loggedIn = m_machineMode ? LoginMachine(&m_sessionMaintenance, &lockedout)
                                         : LoginUser(&m_sessionMaintenance, &lockedout);
    if (loggedIn && m_authenticated)
        return TRUE;
    CloseSocket(1);
    return FALSE;
}

void Csocketclient::CheckConnection()
{
    if (m_keepAliveMode == 1) {
        if (!EchoTest(kEchoSize))
            CloseSocket(1);
        return;
    }
    DWORD selectFailed = 0;
    if (!WaitWritable(m_socket, m_waitTimeout, &selectFailed) || selectFailed)
        CloseSocket(1);
}

bool Csocketclient::StartConnectionCheck()
{
    if (m_echoPending || m_autoSession == 0 || !m_connected || m_keepAliveMode != 1)
        return false;
    // Due from before the send: whatever leaves the sending may leave the echo on the wire.
    m_echoPending = true;
    if (!SendEcho(kEchoSize))
        CloseSocket(1);
    return true;
}

void Csocketclient::FinishConnectionCheck()
{
    if (!m_echoPending)
        return;
    // Due until its answer is taken: an unwind out of the receive leaves it to the scope that
    // sent it, which drops the connection with what is left of the answer.
    if (m_connected && !ReceiveEcho())
        CloseSocket(1);
    m_echoPending = false;
}

Csocketclient::ConnectionCheckAhead::ConnectionCheckAhead(Csocketclient& channel)
    : m_channel(channel), m_sent(false)
{
    try {
        m_sent = channel.StartConnectionCheck();
    } catch (...) {
        // Out of the echo's own sending, which may have put it on the wire: no destructor
        // settles it.
        if (channel.m_echoPending)
            channel.CloseSocket(1);
        throw;
    }
}

Csocketclient::ConnectionCheckAhead::~ConnectionCheckAhead()
{
    // Waiting for the answer could take the whole wait time-out on a connection gone quiet.
    if (m_sent && m_channel.m_echoPending)
        m_channel.CloseSocket(1);
}

DWORD Csocketclient::EchoTest(DWORD size)
{
    FinishConnectionCheck();
    return SendEcho(size) && ReceiveEcho();
}

// Sent only when no answer is due before it (an echo sent ahead counts its own as due before
// it goes).
bool Csocketclient::SendEcho(DWORD size)
{
    m_cancel = 0;
    void* packet = nullptr;
    const DWORD length = m_createpacket.EchoTest(&packet, size);
    const PacketBuffer owned(packet);
    if (length == 0) {
        LogA(kTypeError, 30, "EchoTest m_createpacket failed");
        return false;
    }
    if (!SendRequest(packet, length)) {
        LogA(kTypeError, 30, "EchoTest failed to Send Msg");
        return false;
    }
    return true;
}

bool Csocketclient::ReceiveEcho()
{
    const CommandReply reply = ReceiveReply("EchoTest");
    if (reply.length == 0)
        return false;
    const DWORD result = reply.FirstWord();
    if (result != 1) {
        LogFormatA(kTypeError, 30, "EchoTest bRet = %ld", result);
        return false;
    }
    LogFormatA(kTypeInformation, 30, "EchoTest recv = %ld OK", reply.length);
    return true;
}

DWORD Csocketclient::GetSettings(char* dataServer, DWORD* first, DWORD* maintenance,
                                 char* text, DWORD needAuth)
{
    if (!EnsureSession(needAuth, 0))
        return 0;
    void* packet = nullptr;
    const DWORD length = m_createpacket.GetSettings(&packet);
    if (length == 0 || !SendPacket(packet, length))
        return 0;
    const CommandReply reply = ReceiveReply("GetSettings");
    if (reply.length == 0)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD result = 0;
    DWORD firstWord = 0;
    if (!reader.U32(&result))
        return RefuseSettings(*this);
    if (result == 0)
        return 0;
    if (!reader.U32(&firstWord))
        return RefuseSettings(*this);
    *first = firstWord;

    ReplyReader::Text name;
    if (!reader.Narrow(&name, kDataServerSize))
        return RefuseSettings(*this);
    name.CopyTo(dataServer);

    DWORD maintenanceWord = 0;
    if (!reader.U32(&maintenanceWord))
        return RefuseSettings(*this);
    *maintenance = maintenanceWord;
    // A second text of 1 to 4095 bytes is taken; any other length leaves the text empty.
    ReplyReader secondText = reader;
    DWORD declared = 0;
    if (!reader.U32(&declared))
        return RefuseSettings(*this);
    if (declared >= 1 && declared < kSettingsTextSize) {
        ReplyReader::Text second;
        if (!secondText.Narrow(&second, kSettingsTextSize))
            return RefuseSettings(*this);
        second.CopyTo(text);
    } else {
        text[0] = 0;
    }
    return 1;
}
