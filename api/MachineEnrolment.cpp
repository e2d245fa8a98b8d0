// The exports that enrol this computer as a machine of the logged-in member, read a machine's
// storage details with its authentication key, and delete stored files and folders.
#include "kelvane.h"

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "api/LocalLogin.h"
#include "connection/Csocketclient.h"
#include "platform/text.h"
#include "platform/winsock.h"
#include "util/Cutil.h"

namespace {

// Bytes of this computer's name that gethostname may write into the trace's buffer.
constexpr int kHostNameLength = 256;
// Code units of a formatted expiry time, terminator included.
constexpr int32_t kExpiryTextSize = 20;

constexpr const char16_t* kMemberAuthFailed = u"Get member authentication failed.";

// How one of the two enrolment exports traces its creation request.
struct Enrolment {
    DWORD clientCode;
    uint32_t memberAuthLine;
    uint32_t createLine;
    const char16_t* createFailed;
};

// Fetches the member's authentication text into the host's memberauth and creates a machine
// for this computer with it; the new machine's key goes to the host's key. 1 when the machine
// was created.
int32_t EnrolMachine(ExportFrame& frame, Csocketclient& channel, char* memberauth,
                     const char* machineName, char* key, const Enrolment& enrolment)
{
    char authScratch[kHostTextCapacity] = {};
    char keyScratch[kHostTextCapacity] = {};
    memberauth = OutOrScratch(memberauth, authScratch);
    key = OutOrScratch(key, keyScratch);
    char localName[kHostTextCapacity] = {};
    if (channel.GetMemberAuth(memberauth) != 1) {
        frame.Error(enrolment.memberAuthLine, kMemberAuthFailed);
        return 0;
    }
    gethostname(localName, kHostNameLength);
    ULONGLONG machineId = 0;
    DWORD reasoncode = 0;
    BOOL created = channel.CreateMachineByAuth(memberauth, machineName, channel.GetHostName(),
                                               enrolment.clientCode, &machineId, key,
                                               &reasoncode);
    frame.Var(u"memberauth", static_cast<const char*>(memberauth));
    frame.Var(u"&machinename[0]", static_cast<const char*>(localName));
    return Outcome(frame, created, u"reasoncode", reasoncode, enrolment.createLine,
                   enrolment.createFailed);
}

// The host's out-parameters of the bucket details; those the host passed as NULL point at
// scratch values of this object.
struct BucketOuts {
    uint64_t wideScratch[3] = {};
    uint32_t wordScratch[6] = {};
    char16_t textScratch[2][kHostTextCapacity] = {};
    uint64_t* quota = nullptr;
    uint64_t* used = nullptr;
    uint64_t* expirygmt = nullptr;
    uint32_t* value = nullptr;
    uint32_t* posapos = nullptr;
    uint32_t* suspendbackup = nullptr;
    uint32_t* suspendmember = nullptr;
    uint32_t* suspendaccount = nullptr;
    char16_t* purchaseId = nullptr;
    char16_t* subscriptionId = nullptr;
    uint32_t* isMigrated = nullptr;
};

// Gives the machine key to the channel and logs the machine in. A key that is missing or
// does not fit the channel's field fails like a refused login, and the channel is left as
// it was.
bool LogMachineIn(ExportFrame& frame, Csocketclient& channel, const char16_t* machineauth)
{
    char key[kHostTextCapacity] = {};
    uint32_t maintenance = 0;
    uint32_t lockedout = 0;
    bool loggedIn = machineauth != nullptr &&
                    WideCharToMultiByte(CP_ACP, 0, machineauth, -1, key,
                                        static_cast<int>(kHostTextCapacity), nullptr,
                                        nullptr) != 0;
    if (loggedIn) {
        channel.SetMachineKey(key);
        loggedIn = AuthenticateMachine(&channel, &maintenance, &lockedout);
    }
    if (!loggedIn) {
        frame.Var(u"lockedout", lockedout);
        frame.Var(u"maintenance", maintenance);
        frame.Error(2847, u"Authenticate machine failed.");
    }
    return loggedIn;
}

// Copies the expiry text with its terminator when the host's buffer holds it; a smaller
// buffer receives an empty text, a NULL one or a capacity of 0 or less nothing.
void CopyExpiryText(const char16_t* text, char16_t* expiry, int32_t capacity)
{
    if (expiry == nullptr || capacity <= 0)
        return;
    if (capacity < kExpiryTextSize)
        expiry[0] = u'\0';
    else
        lstrcpynW(expiry, text, kExpiryTextSize);
}

int32_t ReadBucketDetails(ExportFrame& frame, Csocketclient* channel, const char16_t* machineauth,
                          BucketOuts& outs, char16_t* expiry, int32_t expiryCapacity)
{
    if (!RequireChannel(frame, channel, 2852) || !LogMachineIn(frame, *channel, machineauth))
        return 0;
    if (!channel->GetMachineBucketDetails(outs.quota, outs.used, outs.expirygmt, outs.value,
                                          outs.posapos, outs.suspendbackup, outs.suspendmember,
                                          outs.suspendaccount, outs.purchaseId,
                                          outs.subscriptionId, outs.isMigrated)) {
        frame.Error(2840, u"Get machine bucket failed.");
        return 0;
    }
    char16_t text[kHostTextCapacity] = {};
    Cutil::FormatUtcTime(static_cast<int64_t>(*outs.expirygmt), text);
    CopyExpiryText(text, expiry, expiryCapacity);
    return 1;
}

// The host's text as far as its buffer reaches: a buffer that the call did not fill need not
// hold a terminator.
std::u16string HostText(const char16_t* text)
{
    std::u16string bounded;
    for (size_t i = 0; i + 1 < kHostTextCapacity && text[i] != u'\0'; ++i)
        bounded.push_back(text[i]);
    return bounded;
}

void LogBucketDetails(ExportFrame& frame, const BucketOuts& outs)
{
    frame.Var(u"quota", static_cast<int64_t>(*outs.quota));
    frame.Var(u"used", static_cast<int64_t>(*outs.used));
    frame.Var(u"expirygmt", static_cast<int64_t>(*outs.expirygmt));
    frame.Var(u"posapos", *outs.posapos);
    frame.Var(u"suspendbackup", *outs.suspendbackup);
    frame.Var(u"suspendaccount", *outs.suspendaccount);
    frame.Var(u"suspendmember", *outs.suspendmember);
    frame.Var(u"PucharseId", HostText(outs.purchaseId).c_str());
    frame.Var(u"SubcriptionId", HostText(outs.subscriptionId).c_str());
    frame.Var(u"isMigrated", *outs.isMigrated);
}

} // namespace

extern "C" {

int32_t GetMemberAuth(Csocketclient* channel, char* memberauth)
{
    return ExportFrame::Run(u"GetMemberAuth", u"2888", 0, [&](ExportFrame& frame) {
        if (!RequireChannel(frame, channel, 2906))
            return frame.Return(u"2909", 0);
        char scratch[kHostTextCapacity] = {};
        bool fetched = channel->GetMemberAuth(OutOrScratch(memberauth, scratch)) == 1;
        return frame.Return(u"2909", Outcome(frame, fetched, 2901, kMemberAuthFailed));
    });
}

int32_t CreateMachineAuth(Csocketclient* channel, char* memberauth, const char* machinename,
                          char* machineauth)
{
    return ExportFrame::Run(u"CreateMachineAuth", u"2579", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return frame.Return(u"2608", 0);
        int32_t result = EnrolMachine(
            frame, *channel, memberauth, machinename, machineauth,
            {53, 2604, 2599, u"Create machine by authentication failed. SOURCE_KORVEXA_CLIENT_x86 "});
        return frame.Return(u"2608", result);
    });
}

int32_t CreateMachineAuthEx(Csocketclient* channel, char* memberauth, const char* machinename,
                            char* machineauth)
{
    return ExportFrame::Run(u"CreateMachineAuthEx", u"2613", 0, [&](ExportFrame& frame) {
        if (!RequireChannel(frame, channel, 2662))
            return frame.Return(u"2665", 0);
        uint32_t maintenance = 0;
        uint32_t lockedout = 0;
        int32_t loggedIn = AuthenticateUser(channel, &maintenance, &lockedout);
        if (loggedIn != 1 || maintenance != 0 || lockedout != 0) {
            frame.Var(u"maintenance", maintenance);
            frame.Var(u"lockedout", lockedout);
            if (loggedIn != 1)
                frame.Error(2657, kAuthenticationFailed);
            else
                frame.Warning(u"Authentication user failed.");
            return frame.Return(u"2665", 0);
        }
        int32_t result = EnrolMachine(
            frame, *channel, memberauth, machinename, machineauth,
            {56, 2643, 2638, u"Create member by authentication failed. SOURCE_CONTINUOUS_WIN_x86"});
        return frame.Return(u"2665", result);
    });
}

// The channel keeps the machine key and its machine login mode after the call, whatever
// the result: later sessions log in as that machine.
int32_t GetMachineBucketDetails(Csocketclient* channel, const char16_t* machineauth,
                                uint64_t* quota, uint64_t* used, uint64_t* expirygmt,
                                uint32_t* value, uint32_t* posapos, uint32_t* suspendbackup,
                                uint32_t* suspendmember, uint32_t* suspendaccount,
                                char16_t* expiry, int32_t expiryCapacity, char16_t* PucharseId,
                                char16_t* SubcriptionId, uint32_t* isMigrated)
{
    return ExportFrame::Run(u"GetMachineBucketDetails", u"2800", 0, [&](ExportFrame& frame) {
        frame.Var(u"machineauth", machineauth);
        BucketOuts outs;
        outs.quota = OutOrScratch(quota, outs.wideScratch[0]);
        outs.used = OutOrScratch(used, outs.wideScratch[1]);
        outs.expirygmt = OutOrScratch(expirygmt, outs.wideScratch[2]);
        outs.value = OutOrScratch(value, outs.wordScratch[0]);
        outs.posapos = OutOrScratch(posapos, outs.wordScratch[1]);
        outs.suspendbackup = OutOrScratch(suspendbackup, outs.wordScratch[2]);
        outs.suspendmember = OutOrScratch(suspendmember, outs.wordScratch[3]);
        outs.suspendaccount = OutOrScratch(suspendaccount, outs.wordScratch[4]);
        outs.isMigrated = OutOrScratch(isMigrated, outs.wordScratch[5]);
        outs.purchaseId = OutOrScratch(PucharseId, outs.textScratch[0]);
        outs.subscriptionId = OutOrScratch(SubcriptionId, outs.textScratch[1]);
        int32_t result = ReadBucketDetails(frame, channel, machineauth, outs, expiry,
                                           expiryCapacity);
        LogBucketDetails(frame, outs);
        return frame.Return(u"2855", result);
    });
}

int32_t DeleteServerFileEx(Csocketclient* channel, uint32_t machineidLow, uint32_t machineidHigh,
                           uint32_t volumeidLow, uint32_t volumeidHigh, uint32_t foldercodeLow,
                           uint32_t foldercodeHigh, uint32_t filecodeLow, uint32_t filecodeHigh,
                           uint32_t archivecodeLow, uint32_t archivecodeHigh,
                           uint32_t* reasoncode)
{
    return ExportFrame::Run(u"DeleteServerFileEx", u"2515", 0, [&](ExportFrame& frame) {
        frame.Var(u"machineid", JoinCode(machineidLow, machineidHigh));
        frame.Var(u"volumeid", JoinCode(volumeidLow, volumeidHigh));
        frame.Var(u"foldercode", JoinCode(foldercodeLow, foldercodeHigh));
        frame.Var(u"filecode", JoinCode(filecodeLow, filecodeHigh));
        frame.Var(u"archivecode", JoinCode(archivecodeLow, archivecodeHigh));
        if (!RequireChannel(frame, channel, 2537))
            return frame.Return(u"2540", 0);
        uint32_t reasonScratch = 0;
        reasoncode = OutOrScratch(reasoncode, reasonScratch);
        bool deleted = channel->DeleteServerFile(machineidLow, machineidHigh, volumeidLow,
                                                 volumeidHigh, foldercodeLow, foldercodeHigh,
                                                 filecodeLow, filecodeHigh, archivecodeLow,
                                                 archivecodeHigh, reasoncode);
        return frame.Return(u"2540", Outcome(frame, deleted, u"reasoncode", *reasoncode, 2532,
                                             u"Unable to delete file"));
    });
}

int32_t DeleteServerFolderEx(Csocketclient* channel, uint32_t machineidLow,
                             uint32_t machineidHigh, uint32_t volumeidLow, uint32_t volumeidHigh,
                             uint32_t foldercodeLow, uint32_t foldercodeHigh,
                             uint32_t* reasoncode)
{
    return ExportFrame::Run(u"DeleteServerFolderEx", u"2551", 0, [&](ExportFrame& frame) {
        frame.Var(u"machineid", JoinCode(machineidLow, machineidHigh));
        frame.Var(u"volumeid", JoinCode(volumeidLow, volumeidHigh));
        frame.Var(u"foldercode", JoinCode(foldercodeLow, foldercodeHigh));
        if (!RequireChannel(frame, channel, 2570))
            return frame.Return(u"2573", 0);
        uint32_t reasonScratch = 0;
        reasoncode = OutOrScratch(reasoncode, reasonScratch);
        bool deleted = channel->DeleteServerFolder(machineidLow, machineidHigh, volumeidLow,
                                                   volumeidHigh, foldercodeLow, foldercodeHigh,
                                                   reasoncode);
        return frame.Return(u"2573", Outcome(frame, deleted, u"reasoncode", *reasoncode, 2565,
                                             u"Unable to delete folder"));
    });
}

} // extern "C"
