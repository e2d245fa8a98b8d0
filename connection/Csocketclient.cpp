#include "connection/Csocketclient.h"

#include <cstring>
#include <exception>

#include "platform/file.h"
#include "platform/registry.h"

namespace {

const WCHAR kRegistryKey[] = u"Software\\Brightfen\\Halcyra";
const WCHAR kDataPathValue[] = u"DataPath";
const WCHAR kTempFolder[] = u"\\Temp\\";
// The command-index reply holds 16 bytes. Its frame is the first the connection carries: one
// that announces more than this bound, far above those bytes, is no reply of the server's but
// the rest of the hello's answer read as a length, and is refused before its payload is
// waited for. The header of any record of SSL 3.0 or later reads as 788 bytes or more, text
// as far more.
constexpr DWORD kCommandIndexReplyLimit = 256;

size_t WideLength(const WCHAR* text, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && text[length] != 0)
        ++length;
    return length;
}

}

Csocketclient::Csocketclient()
    : m_hostName{}, m_userName{}, m_password{}, m_loginSequence(1), m_dataFolder{},
      m_volumeCodes{}, m_commandIndexWord(0)
{
    ReadDataFolder();
    ReadHostName();
    ResetSession();
}

Csocketclient::~Csocketclient()
{
    // Closing the handle and the farewell are exchanges with the server, which can run out of
    // memory; a destructor that let that out would end the host. The channel is freed and its
    // connection closed all the same.
    try {
        CloseOpenHandle();
    } catch (const std::exception&) {
    }
    std::memset(m_userName, 0, sizeof m_userName);
    std::memset(m_password, 0, sizeof m_password);
    try {
        Disconnect(1);
    } catch (const std::exception&) {
        CloseSocket(1);
    }
}

// The data folder is "\Temp\" under the registered data path, created when missing; without
// a usable registry value it is the current directory.
void Csocketclient::ReadDataFolder()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD size = sizeof m_dataFolder;
        LSTATUS status = RegQueryValueExW(key, kDataPathValue, nullptr, &type,
                                          reinterpret_cast<BYTE*>(m_dataFolder), &size);
        RegCloseKey(key);
        size_t length = WideLength(m_dataFolder, kDataFolderSize);
        const size_t tempLength = sizeof kTempFolder / sizeof kTempFolder[0];
        if (status == ERROR_SUCCESS && length + tempLength <= kDataFolderSize) {
            std::memcpy(m_dataFolder + length, kTempFolder, sizeof kTempFolder);
            Cutil::CreateDirectoryTree(m_dataFolder);
            return;
        }
    }
    DWORD length = GetCurrentDirectoryW(kDataFolderSize, m_dataFolder);
    if (length == 0 || length >= kDataFolderSize)
        m_dataFolder[0] = 0;
}

void Csocketclient::ReadHostName()
{
    char name[kHostNameSize];
    if (gethostname(name, sizeof name) != 0) {
        m_hostName[0] = 0;
        return;
    }
    if (std::strlen(name) > kHostNameLimit)
        name[kHostNameCut] = 0;
    std::strcpy(m_hostName, name);
}

BOOL Csocketclient::ResetSession()
{
    m_cancel = 0;
    m_lastError = kErrorNone;
    InitTimer();
    ReadHostName();
    return TRUE;
}

BOOL Csocketclient::SetServer(const WCHAR* host, DWORD port)
{
    m_cancel = 0;
    m_serverPort = port;
    StoreAnsiText(host, m_serverHost);
    return TRUE;
}

BOOL Csocketclient::SetUserCredentials(const WCHAR* user, const WCHAR* password)
{
    ResetSessionFlags();
    Cutil::WideToUtf8(user, m_userName, kCredentialSize);
    Cutil::WideToUtf8(password, m_password, kCredentialSize);
    return TRUE;
}

BOOL Csocketclient::Connect(WCHAR* errText)
{
    if (!SocketConnect(errText))
        return FALSE;
    FormatW(errText, kErrorTextCapacity, u"CTransportSocket::SocketConnect ok");
    return GetCommandIndex(errText);
}

BOOL Csocketclient::CloseSocket(INT abortive)
{
    // No answer comes on a connection that is closed, nor on the next one.
    m_echoPending = false;
    return CTransportSocket::CloseSocket(abortive);
}

BOOL Csocketclient::Disconnect(INT abortive)
{
    if (m_socket == INVALID_SOCKET)
        return TRUE;
    m_cancel = 0;
    // The connection ends: the answer to an echo still due is not waited for.
    m_echoPending = false;
    void* packet = nullptr;
    DWORD length = m_createpacket.Disconnect(&packet);
    // No reply comes; a failed send has closed the socket already.
    if (length != 0)
        SendPacket(packet, length);
    return CloseSocket(abortive);
}

DWORD Csocketclient::GetCommandIndex(WCHAR* errText)
{
    m_commandIndex = 0;
    m_cancel = 0;
    m_commandIndexWord = 0;
    void* packet = nullptr;
    DWORD length = m_createpacket.GetCommandIndex(&packet);
    if (length == 0) {
        FormatW(errText, kErrorTextCapacity, u"m_createpacket.GetCommandIndex");
        return 0;
    }
    if (!SendPacket(packet, length)) {
        ReportCommandIndexFailure(errText, "GetCommandIndex: Sendmsg failed (%d) wsaerror (%ld)",
                                  "GetCommandIndex: Sendmsg failed (%d) wsaerror (%ld)");
        return 0;
    }
    void* received = nullptr;
    const DWORD replyLength = ReceiveMsg(&received, kCommandIndexReplyLimit);
    const PacketBuffer reply(received);
    if (replyLength == 0) {
        ReportCommandIndexFailure(errText, "GetCommandIndex: ReceiveMsg failed (%d) wsaerror (%ld)",
                                  "GetCommandIndex: ReceiveMsg failed (%d) wsaerror (%ld)");
        return 0;
    }
    // The reply: u32 result, u64 command index, u32 word. A reply too short to hold them all
    // is no command index.
    ReplyReader reader(reply.get(), replyLength);
    DWORD result = 0;
    ULONGLONG commandIndex = 0;
    DWORD word = 0;
    if (!reader.U32(&result) || !reader.U64(&commandIndex) || !reader.U32(&word) || result != 1) {
        ReportCommandIndexFailure(errText,
                                  "GetCommandIndex: ReceiveMsg ok rc=fail (%d) wsaerror (%ld)",
                                  "GetCommandIndex: ReceiveMsg failed (%d) wsaerror (%ld)");
        return 0;
    }
    m_commandIndex = commandIndex;
    m_commandIndexWord = word;
    return 1;
}

void Csocketclient::ReportCommandIndexFailure(WCHAR* errText, const char* errorFormat,
                                              const char* logFormat)
{
    INT lastError = static_cast<INT>(m_lastError);
    INT socketError = WSAGetLastError();
    char text[256];
    FormatA(text, sizeof text, errorFormat, lastError, socketError);
    if (Cutil::AnsiToWide(text, errText, kErrorTextCapacity) == 0)
        errText[0] = 0;
    LogFormatA(kTypeInformation, 30, logFormat, lastError, socketError);
}
