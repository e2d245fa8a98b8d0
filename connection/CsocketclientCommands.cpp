// The channel's server commands: one method per command. Every method runs the same road
// (session check, request built, sent and released, reply received) through RunCommand and
// then reads only its own fields. Replies come from the network: every field is read through
// a bounds-checked reader, every text is measured against the caller's buffer before it is
// copied, and a reply that does not hold what it claims is refused as a whole, so a method
// either writes all of its out-parameters or none beyond its presets.
#include "connection/Csocketclient.h"

#include "connection/ReplyReader.h"
#include "platform/text.h"
#include "util/Cdatautil.h"

namespace {

// Bytes of the words that lead a reply.
constexpr DWORD kWordSize = 4;
constexpr DWORD kTwoWords = 8;

// Parts of a path as the path splitter gives them, terminator included.
constexpr size_t kDriveCapacity = 3;
constexpr size_t kPathPartCapacity = 256;
constexpr size_t kFileNameCapacity = 2 * kPathPartCapacity;

// Room of a formatted log line.
constexpr size_t kLogTextCapacity = 4096;

// Texts of GetMachineBucketDetailsEx pass through a narrow work buffer of this size.
constexpr DWORD kBucketTextWork = 1024;

constexpr DWORD kAccountTextCount = 8;
constexpr DWORD kMemberTextCount = 6;
constexpr DWORD kMemberValueCount = 6;

// The reason and flag with which CloseOpenHandle removes a pending cache file.
constexpr DWORD kCloseReason = 0;
constexpr DWORD kCloseFlag = 1;

// Consecutive reply strings, read whole before any of them reaches the caller's buffers
// (kReplyTextCapacity units each).
template <size_t Count>
class ReplyStrings {
public:
    bool Read(ReplyReader& reader)
    {
        for (WCHAR* text : m_texts) {
            if (!reader.Utf16(text, Csocketclient::kReplyTextCapacity))
                return false;
        }
        return true;
    }

    void CopyTo(WCHAR* const (&outs)[Count]) const
    {
        for (size_t i = 0; i < Count; ++i)
            lstrcpynW(outs[i], m_texts[i], Csocketclient::kReplyTextCapacity);
    }

private:
    WCHAR m_texts[Count][Csocketclient::kReplyTextCapacity];
};

}  // namespace

// ---------------------------------------------------------------------------------------
// The common road of a command

template <typename Build>
Csocketclient::CommandReply Csocketclient::RunCommand(const CommandRun& run, Build build)
{
    if (run.clearsCancel)
        m_cancel = 0;
    if (run.checkSession && !EnsureSession(run.needAuth, 0))
        return FailCommand(run, kErrorNoSession);
    void* packet = nullptr;
    DWORD length = build(&packet);
    if (length == 0)
        return FailCommand(run, kErrorNotBuilt);
    return ExchangePacket(run, packet, length);
}

Csocketclient::CommandReply Csocketclient::ExchangePacket(const CommandRun& run, void* packet,
                                                          DWORD length)
{
    if (!SendPacket(packet, length))
        return FailCommand(run, kErrorSendFailed);
    if (run.pollsWhileWaiting && !WaitForReply())
        return CommandReply{.logName = run.logName};
    CommandReply reply = ReceiveReply(run.logName);
    if (reply.length == 0)
        return FailCommand(run, kErrorNoReply);
    return reply;
}

Csocketclient::CommandReply Csocketclient::ReceiveReply(const char* logName)
{
    CommandReply reply{.logName = logName};
    void* payload = nullptr;
    reply.length = ReceiveMsg(&payload);
    reply.payload.reset(payload);
    if (reply.length == 0)
        LogFormatA(kTypeError, 30, "%s: ReceiveMsg failed", logName);
    return reply;
}

Csocketclient::CommandReply Csocketclient::FailCommand(const CommandRun& run, DWORD error)
{
    if (run.keepsErrors)
        m_lastError = error;
    return CommandReply{.logName = run.logName};
}

// Waits for the reply to arrive, asking the host between rounds whether to give up. Every
// round lasts the wait time-out; there is no limit on the rounds.
BOOL Csocketclient::WaitForReply()
{
    for (;;) {
        DWORD selectFailed = 0;
        if (WaitToRecvData(kWordSize, m_waitTimeout, &selectFailed))
            return TRUE;
        if (selectFailed) {
            CloseSocket(1);
            return FALSE;
        }
        if (m_callback != nullptr && PollCallback(kCodeCancelPoll, 0) != 0) {
            m_cancel = 1;
            CloseSocket(1);
            return FALSE;
        }
    }
}

BOOL Csocketclient::RefuseReply(const CommandReply& reply)
{
    LogFormatA(kTypeError, 30, "%s: reply malformed", reply.logName);
    return FALSE;
}

DWORD Csocketclient::ReadResultWord(const CommandReply& reply)
{
    if (!reply)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    if (!reader.U32(&w0))
        return RefuseReply(reply);
    return w0;
}

DWORD Csocketclient::ReadStatusReply(const CommandReply& reply, DWORD* status)
{
    if (!reply)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    DWORD w1 = 0;
    if (!reader.U32(&w0) || !reader.U32(&w1))
        return RefuseReply(reply);
    *status = w1;
    return w0;
}

// w0, w1 and, when w0 is not 0, three u64 values.
DWORD Csocketclient::ReadValueReply(const CommandReply& reply, DWORD* status, ULONGLONG* value1,
                                    ULONGLONG* value2, ULONGLONG* value3)
{
    if (!reply)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    DWORD w1 = 0;
    ULONGLONG values[3] = {};
    if (!reader.U32(&w0) || !reader.U32(&w1))
        return RefuseReply(reply);
    if (w0 != 0 && !(reader.U64(&values[0]) && reader.U64(&values[1]) && reader.U64(&values[2])))
        return RefuseReply(reply);
    *status = w1;
    if (w0 != 0) {
        *value1 = values[0];
        *value2 = values[1];
        *value3 = values[2];
    }
    return w0;
}

std::optional<ReplyReader> Csocketclient::SuccessFields(const CommandReply& reply)
{
    if (!reply)
        return std::nullopt;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    DWORD w1 = 0;
    if (!reader.U32(&w0)) {
        RefuseReply(reply);
        return std::nullopt;
    }
    if (w0 == 0)
        return std::nullopt;
    if (!reader.U32(&w1)) {
        RefuseReply(reply);
        return std::nullopt;
    }
    return reader;
}

BOOL Csocketclient::HandOverReply(CommandReply& reply, DWORD minimum, void** out,
                                  DWORD* replyLength)
{
    if (!reply)
        return FALSE;
    if (reply.length < minimum)
        return RefuseReply(reply);
    if (replyLength != nullptr)
        *replyLength = reply.length;
    *out = reply.payload.release();
    return TRUE;
}

// A list whose first word is its item count.
BOOL Csocketclient::HandOverList(CommandReply& reply, void** out, DWORD* count,
                                 DWORD* replyLength)
{
    if (!reply)
        return FALSE;
    ReplyReader reader = reply.Reader();
    DWORD items = 0;
    if (!reader.U32(&items))
        return RefuseReply(reply);
    *count = items;
    return HandOverReply(reply, kWordSize, out, replyLength);
}

// w0, w1, and when w0 is not 0 the item count at 8; the reply goes to the caller only then.
BOOL Csocketclient::HandOverCountedReply(CommandReply& reply, void** out, DWORD* count,
                                         DWORD* status, DWORD* replyLength)
{
    if (!reply)
        return FALSE;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    DWORD w1 = 0;
    DWORD items = 0;
    if (!reader.U32(&w0) || !reader.U32(&w1) || (w0 != 0 && !reader.U32(&items)))
        return RefuseReply(reply);
    *status = w1;
    if (w0 == 0)
        return FALSE;
    *count = items;
    return HandOverReply(reply, kTwoWords + kWordSize, out, replyLength);
}

// ---------------------------------------------------------------------------------------
// Commands answered by their result and status words

BOOL Csocketclient::DeleteServerFolder(DWORD machineIdLow, DWORD machineIdHigh, DWORD volumeIdLow,
                                       DWORD volumeIdHigh, DWORD folderLow, DWORD folderHigh,
                                       DWORD* status)
{
    *status = 0;
    CommandReply reply = RunCommand(
        {.logName = "DeleteServerFolder", .keepsErrors = true}, [&](void** packet) {
            return m_createpacket.DeleteServerFolder(packet, machineIdLow, machineIdHigh,
                                                     volumeIdLow, volumeIdHigh, folderLow,
                                                     folderHigh);
        });
    return ReadStatusReply(reply, status) != 0;
}

BOOL Csocketclient::DeleteServerFile(DWORD machineIdLow, DWORD machineIdHigh, DWORD volumeIdLow,
                                     DWORD volumeIdHigh, DWORD folderLow, DWORD folderHigh,
                                     DWORD fileLow, DWORD fileHigh, DWORD archiveLow,
                                     DWORD archiveHigh, DWORD* status)
{
    *status = 0;
    CommandReply reply = RunCommand(
        {.logName = "DeleteServerFile", .keepsErrors = true}, [&](void** packet) {
            return m_createpacket.DeleteServerFile(packet, machineIdLow, machineIdHigh,
                                                   volumeIdLow, volumeIdHigh, folderLow,
                                                   folderHigh, fileLow, fileHigh, archiveLow,
                                                   archiveHigh);
        });
    return ReadStatusReply(reply, status) != 0;
}

BOOL Csocketclient::UpdateUsernamePassword(LPCWSTR memberAuth, LPCWSTR userName,
                                           LPCWSTR password, DWORD* status)
{
    CommandReply reply = RunCommand({.logName = "UpdateUsernamePassword"}, [&](void** packet) {
        return m_createpacket.UpdateUsernamePassword(packet, memberAuth, userName, password);
    });
    return ReadStatusReply(reply, status) != 0;
}

BOOL Csocketclient::CreateAccount(LPCWSTR userName, LPCWSTR password, LPCWSTR email,
                                  LPCWSTR language, LPCWSTR firstName, LPCWSTR lastName,
                                  LPCWSTR phone, DWORD* status)
{
    CommandReply reply =
        RunCommand({.logName = "CreateAccount", .checkSession = false}, [&](void** packet) {
            return m_createpacket.CreateAccount(packet, userName, password, email, language,
                                                firstName, lastName, phone);
        });
    return ReadStatusReply(reply, status) != 0;
}

BOOL Csocketclient::CancelAccount(LPCWSTR serviceTag, DWORD reason, DWORD* status)
{
    CommandReply reply = RunCommand({.logName = "CancelAccount"}, [&](void** packet) {
        return m_createpacket.CancelAccount(packet, serviceTag, reason);
    });
    return ReadStatusReply(reply, status) != 0;
}

DWORD Csocketclient::CheckUsername(LPCWSTR userName, DWORD* status)
{
    *status = 0;
    CommandReply reply =
        RunCommand({.logName = "Search", .checkSession = false}, [&](void** packet) {
            return m_createpacket.CheckUsername(packet, userName);
        });
    return ReadStatusReply(reply, status);
}

// ---------------------------------------------------------------------------------------
// Commands answered by their result word alone

BOOL Csocketclient::SetMachinePlan(LPCWSTR text1, LPCWSTR text2, LPCWSTR text3, LPCWSTR text4,
                                   DWORD value1, DWORD value2)
{
    CommandReply reply = RunCommand({.logName = "SetMachinePlan"}, [&](void** packet) {
        return m_createpacket.SetMachinePlan(packet, text1, text2, text3, text4, value1, value2);
    });
    return ReadResultWord(reply) != 0;
}

DWORD Csocketclient::DeleteMember(LPCWSTR userName)
{
    CommandReply reply = RunCommand({.logName = "DeleteMember"}, [&](void** packet) {
        return m_createpacket.DeleteMember(packet, userName);
    });
    return ReadResultWord(reply);
}

DWORD Csocketclient::SetActiveMachine(LPCWSTR machine)
{
    CommandReply reply = RunCommand({.logName = "SetActiveMachine"}, [&](void** packet) {
        return m_createpacket.SetActiveMachine(packet, machine);
    });
    return ReadResultWord(reply);
}

BOOL Csocketclient::UpdateAccountInfo(LPCWSTR name, LPCWSTR address1, LPCWSTR address2,
                                      LPCWSTR city, LPCWSTR province, LPCWSTR postalCode,
                                      LPCWSTR country, LPCWSTR phone)
{
    CommandReply reply = RunCommand({.logName = "UpdateAccountInfo"}, [&](void** packet) {
        return m_createpacket.UpdateAccountInfo(packet, name, address1, address2, city, province,
                                                postalCode, country, phone);
    });
    return ReadResultWord(reply) != 0;
}

BOOL Csocketclient::UpdateMemberExtendedInfo(LPCWSTR userName, LPCWSTR secondText, LPCWSTR email,
                                             LPCWSTR language, LPCWSTR firstName,
                                             LPCWSTR lastName, LPCWSTR phone)
{
    CommandReply reply = RunCommand({.logName = "UpdateMemberExtendedInfo"}, [&](void** packet) {
        return m_createpacket.UpdateMemberExtendedInfo(packet, userName, secondText, email,
                                                       language, firstName, lastName, phone);
    });
    return ReadResultWord(reply) != 0;
}

DWORD Csocketclient::RemoveCacheFile(LPCSTR cacheName, DWORD reason, DWORD flag, DWORD needAuth)
{
    CommandReply reply =
        RunCommand({.logName = "RemoveCacheFile", .needAuth = needAuth}, [&](void** packet) {
            return m_createpacket.RemoveCacheFile(packet, cacheName, reason, flag);
        });
    return ReadResultWord(reply);
}

DWORD Csocketclient::CloseOpenHandle()
{
    if (!EnsureSession(1, 0))
        return 0;
    if (m_pendingCacheName[0] != 0) {
        RemoveCacheFile(m_pendingCacheName, kCloseReason, kCloseFlag, 1);
        m_pendingCacheName[0] = 0;
    }
    CommandReply reply =
        RunCommand({.logName = "CloseOpenHandle", .checkSession = false},
                   [&](void** packet) { return m_createpacket.CloseOpenHandle(packet); });
    return ReadResultWord(reply);
}

// ---------------------------------------------------------------------------------------
// Commands with values in their reply

BOOL Csocketclient::LastRestoreInfo(ULONGLONG* value1, ULONGLONG* value2, ULONGLONG* value3,
                                    DWORD* status)
{
    CommandReply reply =
        RunCommand({.logName = "LastRestoreInfo", .clearsCancel = true},
                   [&](void** packet) { return m_createpacket.LastRestoreInfo(packet); });
    return ReadValueReply(reply, status, value1, value2, value3) != 0;
}

BOOL Csocketclient::CheckFile(DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath,
                              LPCWSTR fileName, DWORD a, DWORD b, DWORD c, DWORD d, DWORD e,
                              ULONGLONG* value1, ULONGLONG* value2, ULONGLONG* value3,
                              DWORD* result, DWORD* status)
{
    *value1 = 0;
    *value2 = 0;
    *value3 = 0;
    *result = 0;
    *status = 0;
    CommandReply reply =
        RunCommand({.logName = "CheckFile", .keepsErrors = true}, [&](void** packet) {
            return m_createpacket.CheckFile(packet, volumeLow, volumeHigh, folderPath, fileName,
                                            a, b, c, d, e);
        });
    *result = ReadValueReply(reply, status, value1, value2, value3);
    return *result != 0;
}

BOOL Csocketclient::IsWebPortalEnabledEx(DWORD* enabled)
{
    *enabled = 0;
    if (!IsAuthenticated())
        return FALSE;
    CommandReply reply =
        RunCommand({.logName = "IsWebPortalEnabledEx"},
                   [&](void** packet) { return m_createpacket.IsWebPortalEnabledEx(packet); });
    std::optional<ReplyReader> fields = SuccessFields(reply);
    if (!fields)
        return FALSE;
    DWORD value = 0;
    if (!fields->U32(&value))
        return RefuseReply(reply);
    *enabled = value;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Commands with narrow texts in their reply

DWORD Csocketclient::GetMemberAuth(char* key)
{
    CommandReply reply = RunCommand({.logName = "GetMemberAuth"}, [&](void** packet) {
        return m_createpacket.GetMemberAuth(packet);
    });
    if (!reply)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    DWORD w1 = 0;
    ReplyReader::Text text;
    if (!reader.U32(&w0) ||
        (w0 == 1 && !(reader.U32(&w1) && reader.Narrow(&text, kReplyTextCapacity))))
        return RefuseReply(reply);
    if (w0 == 1)
        text.CopyTo(key);
    return w0;
}

DWORD Csocketclient::GetMachineAuth(DWORD machineIdLow, DWORD machineIdHigh,
                                    DWORD machineCodeLow, DWORD machineCodeHigh, char* key)
{
    CommandReply reply = RunCommand({.logName = "GetMachineAuth"}, [&](void** packet) {
        return m_createpacket.GetMachineAuth(packet, machineIdLow, machineIdHigh, machineCodeLow,
                                             machineCodeHigh);
    });
    if (!reply)
        return 0;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    ReplyReader::Text text;
    if (!reader.U32(&w0) || (w0 != 0 && !reader.Narrow(&text, kReplyTextCapacity)))
        return RefuseReply(reply);
    if (w0 != 0)
        text.CopyTo(key);
    return w0;
}

DWORD Csocketclient::GetMachineInformation(DWORD machineCodeLow, DWORD machineCodeHigh, char* key)
{
    return GetMachineAuth(static_cast<DWORD>(m_machineId), static_cast<DWORD>(m_machineId >> 32),
                          machineCodeLow, machineCodeHigh, key);
}

BOOL Csocketclient::CreateMachineByAuth(LPCSTR memberAuth, LPCSTR machineName, LPCSTR hostName,
                                        DWORD sourceId, ULONGLONG* machineId, char* key,
                                        DWORD* status)
{
    *status = 0;
    CommandReply reply = RunCommand(
        {.logName = "CreateMachineByAuth", .checkSession = false, .keepsErrors = true},
        [&](void** packet) {
            return m_createpacket.CreateMachineByAuth(packet, memberAuth, machineName, hostName,
                                                      sourceId);
        });
    if (!reply)
        return FALSE;
    ReplyReader reader = reply.Reader();
    DWORD w0 = 0;
    if (!reader.U32(&w0))
        return RefuseReply(reply);
    if (w0 == 0) {
        DWORD w1 = 0;
        if (!reader.U32(&w1))
            return RefuseReply(reply);
        *status = w1;
        return FALSE;
    }
    ULONGLONG id = 0;
    ReplyReader::Text text;
    if (!reader.U64(&id) || !reader.Narrow(&text, kReplyTextCapacity))
        return RefuseReply(reply);
    *machineId = id;
    text.CopyTo(key);
    return TRUE;
}

BOOL Csocketclient::GetMachineBucketDetailsEx(ULONGLONG* quota, ULONGLONG* used,
                                              ULONGLONG* expiry, DWORD* value1, DWORD* value2,
                                              DWORD* value3, DWORD* value4, DWORD* value5,
                                              DWORD* value6, WCHAR* text1, WCHAR* text2,
                                              DWORD* last)
{
    CommandReply reply =
        RunCommand({.logName = "GetMachineBucketDetailsEx"}, [&](void** packet) {
            return m_createpacket.GetMachineBucketDetailsEx(packet);
        });
    std::optional<ReplyReader> fields = SuccessFields(reply);
    if (!fields)
        return FALSE;
    ULONGLONG wide[3] = {};
    DWORD values[6] = {};
    WCHAR converted[2][kReplyTextCapacity];
    DWORD lastValue = 0;
    bool read = true;
    for (ULONGLONG& value : wide)
        read = read && fields->U64(&value);
    for (DWORD& value : values)
        read = read && fields->U32(&value);
    for (DWORD i = 0; i < 2; ++i) {
        char work[kBucketTextWork];
        ReplyReader::Text narrow;
        read = read && fields->Narrow(&narrow, kBucketTextWork);
        if (read)
            narrow.CopyTo(work);
        read = read && Cutil::AnsiToWide(work, converted[i], kReplyTextCapacity) != 0;
    }
    if (!read || !fields->U32(&lastValue))
        return RefuseReply(reply);
    *quota = wide[0];
    *used = wide[1];
    *expiry = wide[2];
    DWORD* outs[6] = {value1, value2, value3, value4, value5, value6};
    for (DWORD i = 0; i < 6; ++i)
        *outs[i] = values[i];
    lstrcpynW(text1, converted[0], kReplyTextCapacity);
    lstrcpynW(text2, converted[1], kReplyTextCapacity);
    *last = lastValue;
    return TRUE;
}

BOOL Csocketclient::GetMachineBucketDetails(ULONGLONG* quota, ULONGLONG* used, ULONGLONG* expiry,
                                            DWORD* value1, DWORD* value2, DWORD* value3,
                                            DWORD* value4, DWORD* value5, WCHAR* text1,
                                            WCHAR* text2, DWORD* last)
{
    DWORD dropped = 0;
    return GetMachineBucketDetailsEx(quota, used, expiry, value1, value2, value3, value4, value5,
                                     &dropped, text1, text2, last);
}

// ---------------------------------------------------------------------------------------
// Commands with reply strings

BOOL Csocketclient::GetAccountInfo(WCHAR* name, WCHAR* address1, WCHAR* address2, WCHAR* city,
                                   WCHAR* province, WCHAR* postalCode, WCHAR* country,
                                   WCHAR* phone)
{
    CommandReply reply = RunCommand({.logName = "GetAccountInfo"}, [&](void** packet) {
        return m_createpacket.GetAccountInfo(packet);
    });
    std::optional<ReplyReader> fields = SuccessFields(reply);
    if (!fields)
        return FALSE;
    ReplyStrings<kAccountTextCount> texts;
    if (!texts.Read(*fields))
        return RefuseReply(reply);
    texts.CopyTo({name, address1, address2, city, province, postalCode, country, phone});
    return TRUE;
}

BOOL Csocketclient::GetMemberInfo(WCHAR* text1, WCHAR* text2, WCHAR* text3, WCHAR* text4,
                                  WCHAR* text5, WCHAR* text6, ULONGLONG* a, ULONGLONG* b,
                                  DWORD* value1, DWORD* value2, DWORD* value3, DWORD* value4,
                                  DWORD* value5, DWORD* value6)
{
    CommandReply reply = RunCommand({.logName = "GetMemberInfo"}, [&](void** packet) {
        return m_createpacket.GetMemberInfo(packet);
    });
    std::optional<ReplyReader> fields = SuccessFields(reply);
    if (!fields)
        return FALSE;
    ReplyStrings<kMemberTextCount> texts;
    ULONGLONG wide[2] = {};
    DWORD values[kMemberValueCount] = {};
    bool read = texts.Read(*fields);
    for (ULONGLONG& value : wide)
        read = read && fields->U64(&value);
    for (DWORD& value : values)
        read = read && fields->U32(&value);
    if (!read)
        return RefuseReply(reply);
    texts.CopyTo({text1, text2, text3, text4, text5, text6});
    *a = wide[0];
    *b = wide[1];
    DWORD* valueOuts[kMemberValueCount] = {value1, value2, value3, value4, value5, value6};
    for (DWORD i = 0; i < kMemberValueCount; ++i)
        *valueOuts[i] = values[i];
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Commands whose reply goes to the caller

BOOL Csocketclient::CancellationReasons(LPCWSTR text, DWORD value, void** reply, DWORD* count,
                                        DWORD* status, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "CancellationReasons", .clearsCancel = true}, [&](void** packet) {
            return m_createpacket.CancellationReasons(packet, text, value);
        });
    return HandOverCountedReply(received, reply, count, status, replyLength);
}

BOOL Csocketclient::ProductList(LPCWSTR text, DWORD value1, DWORD value2, void** reply,
                                DWORD* count, DWORD* status, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "ProductList", .clearsCancel = true}, [&](void** packet) {
            return m_createpacket.ProductList(packet, value1, value2, text);
        });
    return HandOverCountedReply(received, reply, count, status, replyLength);
}

BOOL Csocketclient::MachineListEx(DWORD value, void** reply, DWORD* count, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "MachineListEx", .clearsCancel = true},
                   [&](void** packet) { return m_createpacket.MachineListEx(packet, value); });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::MachineList(DWORD value, void** reply, DWORD* count, DWORD* replyLength)
{
    CommandReply received = RunCommand(
        {.logName = "MachineList", .clearsCancel = true, .pollsWhileWaiting = true},
        [&](void** packet) { return m_createpacket.MachineList(packet, value); });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::GetDirectory(DWORD mode, void** reply, DWORD machineLow, DWORD machineHigh,
                                 DWORD volumeLow, DWORD volumeHigh, DWORD folderLow,
                                 DWORD folderHigh, DWORD* count, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "GetDirectory", .clearsCancel = true}, [&](void** packet) {
            return m_createpacket.GetDirectory(packet, machineLow, machineHigh, volumeLow,
                                               volumeHigh, folderLow, folderHigh);
        });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::GetRootDirectory(DWORD mode, void** reply, DWORD machineLow,
                                     DWORD machineHigh, DWORD volumeLow, DWORD volumeHigh,
                                     LPCWSTR folderPath, DWORD* count, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "GetDirectory", .clearsCancel = true}, [&](void** packet) {
            return m_createpacket.GetRootDirectory(packet, machineLow, machineHigh, volumeLow,
                                                   volumeHigh, folderPath);
        });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::GetVersions(void** reply, DWORD machineLow, DWORD machineHigh,
                                DWORD volumeLow, DWORD volumeHigh, DWORD folderLow,
                                DWORD folderHigh, DWORD fileLow, DWORD fileHigh, DWORD* count,
                                DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "GetVersions", .clearsCancel = true}, [&](void** packet) {
            return m_createpacket.GetVersions(packet, machineLow, machineHigh, volumeLow,
                                              volumeHigh, folderLow, folderHigh, fileLow,
                                              fileHigh);
        });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::GetVolumeList(void** reply, DWORD* count, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "GetVolumeList", .clearsCancel = true},
                   [&](void** packet) { return m_createpacket.GetVolumeList(packet); });
    return HandOverList(received, reply, count, replyLength);
}

BOOL Csocketclient::Search(void** reply, DWORD machineIdLow, DWORD machineIdHigh, LPCWSTR text,
                           DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "Search", .checkSession = false}, [&](void** packet) {
            return m_createpacket.Search(packet, machineIdLow, machineIdHigh, text);
        });
    return HandOverReply(received, kTwoWords, reply, replyLength);
}

BOOL Csocketclient::GetMemberStats(void** reply, DWORD* replyLength)
{
    CommandReply received =
        RunCommand({.logName = "GetMemberStats", .checkSession = false},
                   [&](void** packet) { return m_createpacket.GetMemberStats(packet); });
    return HandOverReply(received, kWordSize, reply, replyLength);
}

// ---------------------------------------------------------------------------------------
// Local work around the commands

void Csocketclient::GetVolumeCode(LPCWSTR path, ULONGLONG* code)
{
    *code = 0;
    WCHAR drive[kDriveCapacity];
    WCHAR folder[kPathPartCapacity];
    WCHAR name[kPathPartCapacity];
    WCHAR extension[kPathPartCapacity];
    Cutil::SplitPath(path, drive, folder, name, extension);
    for (DWORD i = 0; i < kVolumeCodeCount; ++i) {
        if (drive[0] == u'A' + i) {
            *code = m_volumeCodes[i];
            return;
        }
    }
}

// The path splitter cuts parts that do not fit its buffers; a cut folder or name would ask
// the server about another file, so such a path is refused instead.
BOOL Csocketclient::MyCheckFile(DWORD volumeLow, DWORD volumeHigh, LPCWSTR path, DWORD a,
                                DWORD b, DWORD c, DWORD d, DWORD e, ULONGLONG* value1,
                                ULONGLONG* value2, ULONGLONG* value3, DWORD* result,
                                DWORD* status)
{
    WCHAR drive[kDriveCapacity];
    WCHAR folder[kPathPartCapacity];
    WCHAR name[kPathPartCapacity];
    WCHAR extension[kPathPartCapacity];
    Cutil::SplitPath(path, drive, folder, name, extension);
    if (lstrlenW(folder) >= kPathPartCapacity - 1 || lstrlenW(name) >= kPathPartCapacity - 1 ||
        lstrlenW(extension) >= kPathPartCapacity - 1) {
        LogCheckFilePath(u"MyCheckFile: path too long for %s", path);
        return FALSE;
    }
    WCHAR fileName[kFileNameCapacity];
    FormatW(fileName, kFileNameCapacity, u"%s%s", name, extension);
    ULONGLONG volume = static_cast<ULONGLONG>(volumeHigh) << 32 | volumeLow;
    if (volume == 0)
        GetVolumeCode(path, &volume);
    if (volume == 0) {
        LogCheckFilePath(u"MyCheckFile: volumecode zero for %s", path);
        return FALSE;
    }
    return CheckFile(static_cast<DWORD>(volume), static_cast<DWORD>(volume >> 32), folder,
                     fileName, a, b, c, d, e, value1, value2, value3, result, status);
}

void Csocketclient::LogCheckFilePath(const WCHAR* format, LPCWSTR path)
{
    if (!IsLogged(10))
        return;
    WCHAR text[kLogTextCapacity];
    FormatW(text, kLogTextCapacity, format, path);
    LogW(kTypeError, 10, text);
}

DWORD Csocketclient::SetParameters(LPCWSTR text, WCHAR* out)
{
    return EncodeParameterText(text, out);
}

DWORD Csocketclient::GetParameters(LPCWSTR sealed, WCHAR* out)
{
    return DecodeParameterText(sealed, out);
}
