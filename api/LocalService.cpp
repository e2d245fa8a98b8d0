// The exports that drive the local backup service over its pipe: the control commands (back
// up now, cancel, stop, reload the settings, generate a cipher), whose result is the first
// word of the service's last reply, and the status queries, whose reply is decoded into a
// status record. A missing service is no error to the host: the control exports give 0 and
// the queries report nothing.
#include "kelvane.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "platform/text.h"
#include "service/Cserviceclient.h"
#include "service/Cservicestatus.h"

namespace {

constexpr int32_t kConnectTries = 10;
constexpr uint32_t kControlBufferSize = 4096;
constexpr uint32_t kResultWordSize = 4;
constexpr uint32_t kStatusBufferSize = Cservicestatus::kReplyBufferSize;
// Characters of the status file text handed to the host's callbacks, terminator included.
constexpr int32_t kStatusFileCapacity = 2048;

// What GetUserStatus reports without a decoded reply, and for a reply without user flags.
constexpr uint32_t kNoServiceFlags = 255;
constexpr uint32_t kNoUserFlags = 1;

// Held while a reply is decoded into the process-wide status record and its flags are read, so
// that host threads asking at once each read the flags of one whole reply.
std::mutex g_statusLock;

// One command of a control export with its trace texts.
struct ControlCommand {
    uint32_t code;
    const char16_t* sending;
    const char16_t* failed;
};

// The texts around the connect of a control export.
struct ConnectTexts {
    const char16_t* connecting;
    const char16_t* failed;
};

uint32_t FirstWord(const std::vector<uint8_t>& buffer)
{
    return buffer[0] | buffer[1] << 8 | buffer[2] << 16 | static_cast<uint32_t>(buffer[3]) << 24;
}

// Runs a control export: sends the commands in order on one connection (a command whose
// predecessor failed is still tried) and gives the first word of the last reply read, 0 when
// none was.
uint32_t RunControlExport(const char16_t* function, const char16_t* entryLine,
                          const char16_t* exitLine, const ConnectTexts& texts,
                          std::initializer_list<ControlCommand> commands)
{
    return ExportFrame::Run(function, entryLine, 0u, [&](ExportFrame& frame) {
        std::vector<uint8_t> buffer(kControlBufferSize, 0);
        Cserviceclient client;
        frame.Info(texts.connecting);
        if (!client.Connect(kConnectTries))
            frame.Warning(texts.failed);
        for (const ControlCommand& command : commands) {
            frame.Info(command.sending);
            uint32_t length = 0;
            if (!client.SendCommand(command.code, buffer.data(), &length, kControlBufferSize)) {
                frame.Warning(command.failed);
            } else if (length < kResultWordSize) {
                // A reply too short for its result word reads as zeros past its end, never as
                // the bytes an earlier reply left in the buffer.
                std::fill(buffer.begin() + length, buffer.begin() + kResultWordSize, 0);
            }
        }
        client.Close();
        return frame.Return(exitLine, FirstWord(buffer));
    });
}

// The trace texts of a status query.
struct StatusQuery {
    uint32_t code;
    const char16_t* connectFailed;
    const char16_t* commandFailed;
};

// Asks the service for its status into the zero-filled reply buffer; gives the number of
// reply bytes, 0 when nothing was read.
uint32_t QueryStatus(ExportFrame& frame, const StatusQuery& query, std::vector<uint8_t>& reply)
{
    Cserviceclient client;
    if (!client.Connect(kConnectTries))
        frame.Warning(query.connectFailed);
    uint32_t datalen = 0;
    if (!client.SendCommand(query.code, reply.data(), &datalen, kStatusBufferSize))
        frame.Warning(query.commandFailed);
    client.Close();
    frame.Var(u"datalen", datalen);
    return datalen;
}

constexpr StatusQuery kFirstCallQuery = {Cserviceclient::COMMAND_STATUS_FIRSTCALL,
                                         u"Service client connect failed.",
                                         u"Service client COMMAND_STATUS_FIRSTCALL failed."};

// Queries the status and decodes it into a record of the call's own; null when the service
// sent nothing.
std::unique_ptr<Cservicestatus> QueryDecodedStatus(ExportFrame& frame, const StatusQuery& query)
{
    std::vector<uint8_t> reply(kStatusBufferSize, 0);
    uint32_t datalen = QueryStatus(frame, query, reply);
    if (datalen == 0)
        return nullptr;
    auto status = std::make_unique<Cservicestatus>();
    status->Decode(reply.data(), datalen);
    return status;
}

// Runs a status export that tells whether a switch of the service's status is on (exactly 1).
bool RunStatusSwitchExport(const char16_t* function, const char16_t* entryLine,
                           const char16_t* exitLine, const char16_t* switchName,
                           uint32_t Cservicestatus::*statusSwitch)
{
    return ExportFrame::Run(function, entryLine, false, [&](ExportFrame& frame) {
        std::unique_ptr<Cservicestatus> status = QueryDecodedStatus(frame, kFirstCallQuery);
        bool on = false;
        if (status != nullptr) {
            uint32_t value = status.get()->*statusSwitch;
            frame.Var(switchName, value);
            on = value == 1;
        }
        return frame.Return(exitLine, on);
    });
}

uint32_t UserStatusFlags(const Cservicestatus& status)
{
    uint32_t flags = 0;
    if (status.m_userStatusFlagA != 0)
        flags |= 2;
    if (status.m_userStatusFlagB != 0)
        flags |= 4;
    if (status.m_userStatusFlagC != 0)
        flags |= 8;
    if (status.m_userStatusFlagD != 0)
        flags |= 16;
    return flags != 0 ? flags : kNoUserFlags;
}

} // namespace

extern "C" {

uint32_t BackupNow(void)
{
    return RunControlExport(
        u"BackupNow", u"1359", u"1390",
        {u"Service client try to connect", u"Service client connect failed."},
        {{Cserviceclient::COMMAND_SCHEDULED_SELECTIONS,
          u"Service client send command COMMAND_SCHEDULED_SELECTIONS",
          u"Service client send command COMMAND_SCHEDULED_SELECTIONS failed."},
         {Cserviceclient::COMMAND_BACKUP_NOW, u"Service client send command COMMAND_BACKUP_NOW",
          u"Service client send command COMMAND_BACKUP_NOW failed."}});
}

uint32_t CancelBackup(void)
{
    return RunControlExport(u"CancelBackup", u"1395", u"1419",
                            {u"Service client Try to connect", u"Service client connect failed."},
                            {{Cserviceclient::COMMAND_NEED_USER_CANCEL,
                              u"Service client send command COMMAND_NEED_USER_CANCEL.",
                              u"Service client send command COMMAND_NEED_USER_CANCEL failed."}});
}

uint32_t StopService(void)
{
    return RunControlExport(u"StopService", u"1597", u"1620",
                            {u"Service client try to connect", u"Service client connect failed."},
                            {{Cserviceclient::COMMAND_SHUTDOWN, u"Service client COMMAND_SHUTDOWN",
                              u"Service client COMMAND_SHUTDOWN failed."}});
}

uint32_t SettingsUpdate(void)
{
    return RunControlExport(u"SettingsUpdate", u"1625", u"1649",
                            {u"Service client try to connect", u"Service client connect failed."},
                            {{Cserviceclient::COMMAND_REGISTRY_UPDATE,
                              u"Service client COMMAND_REGISTRY_UPDATE",
                              u"Service client COMMAND_REGISTRY_UPDATE failed."}});
}

uint32_t GenerateCipher(void)
{
    return RunControlExport(u"GenerateCipher", u"2860", u"2883",
                            {u"Service Client try to connect", u"Service Client connect failed"},
                            {{Cserviceclient::COMMAND_CIPHER, u"Service Client send COMMAND_CIPHER",
                              u"Service Client send COMMAND_CIPHER failed"}});
}

void GetProgressStatus(ProgressStatusCallback cb)
{
    ExportFrame::Run(u"GetProgressStatus", u"1424", [&](ExportFrame& frame) {
        std::unique_ptr<Cservicestatus> status = QueryDecodedStatus(
            frame, {Cserviceclient::COMMAND_STATUS, u"Service client connect failed.",
                    u"Service client COMMAND_STATUS failed."});
        if (status == nullptr || cb == nullptr)
            return;
        char16_t lastStatusFile[kStatusFileCapacity];
        lstrcpynW(lastStatusFile, status->m_progressStatusFile, kStatusFileCapacity);
        auto estimated = static_cast<uint32_t>(status->m_estimatedFileCount);
        auto backedUp = static_cast<uint32_t>(status->m_backedUpFileCount);
        frame.Var(u"totalProgress", status->m_totalProgress);
        frame.Var(u"EstimatedBackupFilesCount", static_cast<int32_t>(estimated));
        frame.Var(u"CurrentBackedUpFilesCount", static_cast<int32_t>(backedUp));
        frame.Var(u"LastStatusFile", static_cast<const char16_t*>(lastStatusFile));
        cb(status->m_totalProgress, estimated, backedUp, lastStatusFile);
    });
}

void GetCurrentStep(CurrentStepCallback cb)
{
    ExportFrame::Run(u"GetCurrentStep", u"1469", [&](ExportFrame& frame) {
        std::unique_ptr<Cservicestatus> status = QueryDecodedStatus(frame, kFirstCallQuery);
        if (status == nullptr || cb == nullptr)
            return;
        uint32_t stepStatusCode = status->GetStepCode();
        char16_t lastStatusFile[kStatusFileCapacity];
        lstrcpynW(lastStatusFile, status->m_stepStatusFile, kStatusFileCapacity);
        frame.Var(u"StepStatusCode", static_cast<int32_t>(stepStatusCode));
        frame.Var(u"LastStatusFile", static_cast<const char16_t*>(lastStatusFile));
        cb(lastStatusFile, stepStatusCode);
    });
}

bool IsBackinUpNow(void)
{
    return RunStatusSwitchExport(u"IsBackinUpNow", u"1511", u"1548", u"Status.m_inbackupnow",
                                 &Cservicestatus::m_inbackupnow);
}

bool IsAnimate(void)
{
    return RunStatusSwitchExport(u"IsAnimate", u"1554", u"1591", u"Status.m_animate",
                                 &Cservicestatus::m_animate);
}

// Decodes into the process-wide status record, one call at a time.
int32_t GetUserStatus(uint32_t* statusFlags)
{
    return ExportFrame::Run(u"GetUserStatus", u"2953", 0, [&](ExportFrame& frame) {
        uint32_t flagsScratch = 0;
        statusFlags = OutOrScratch(statusFlags, flagsScratch);
        *statusFlags = kNoServiceFlags;
        std::vector<uint8_t> reply(kStatusBufferSize, 0);
        uint32_t datalen = QueryStatus(
            frame,
            {Cserviceclient::COMMAND_STATUS_FIRSTCALL, u"Service client connection failed.",
             u"Service client send command COMMAND_STATUS_FIRSTCALL failed."},
            reply);
        if (datalen == 0)
            return frame.Return(u"3009", 0);
        {
            std::lock_guard<std::mutex> lock(g_statusLock);
            g_status.Decode(reply.data(), datalen);
            *statusFlags = UserStatusFlags(g_status);
        }
        frame.Var(u"statusFlags", *statusFlags);
        return frame.Return(u"3009", 1);
    });
}

} // extern "C"
