#include "connection/CCreatePacket.h"

#include <cstring>
#include <string>
#include <vector>

#include "connection/CredentialKey.h"
#include "connection/PacketWriter.h"
#include "util/CBlowfish.h"
#include "util/Cutil.h"

namespace {

// Work buffers of the UTF-8 conversions, terminator included.
constexpr DWORD kTextWork = 1024;
constexpr DWORD kRootPathWork = 2048;
constexpr DWORD kCheckFileWork = 4096;

// Zeroed room beyond the payload of the builders that carry many texts.
constexpr DWORD kAccountSlack = 9216;
constexpr DWORD kCreateAccountSlack = 2048;

// Builders whose buffer has a fixed size, which is the limit of their content.
constexpr DWORD kUsernamePasswordBuffer = 4096;
constexpr DWORD kSmallFixedBuffer = 1024;

}  // namespace

DWORD CCreatePacket::CodeOnly(void** packet, DWORD command)
{
    PacketWriter writer(command);
    return writer.Finish(packet);
}

DWORD CCreatePacket::Disconnect(void** packet) { return CodeOnly(packet, kDisconnect); }
DWORD CCreatePacket::GetCommandIndex(void** packet) { return CodeOnly(packet, kGetCommandIndex); }
DWORD CCreatePacket::GetSettings(void** packet) { return CodeOnly(packet, kGetSettings); }
DWORD CCreatePacket::GetVolumeList(void** packet) { return CodeOnly(packet, kGetVolumeList); }
DWORD CCreatePacket::GetMemberAuth(void** packet) { return CodeOnly(packet, kGetMemberAuth); }
DWORD CCreatePacket::GetMemberStats(void** packet) { return CodeOnly(packet, kGetMemberStats); }
DWORD CCreatePacket::CloseOpenHandle(void** packet) { return CodeOnly(packet, kCloseOpenHandle); }
DWORD CCreatePacket::GetMemberInfo(void** packet) { return CodeOnly(packet, kGetMemberInfo); }
DWORD CCreatePacket::GetAccountInfo(void** packet) { return CodeOnly(packet, kGetAccountInfo); }

DWORD CCreatePacket::GetMachineBucketDetailsEx(void** packet)
{
    return CodeOnly(packet, kGetMachineBucketDetailsEx);
}

DWORD CCreatePacket::IsWebPortalEnabledEx(void** packet)
{
    return CodeOnly(packet, kIsWebPortalEnabledEx);
}

DWORD CCreatePacket::LastRestoreInfo(void** packet)
{
    PacketWriter writer(kLastRestoreInfo);
    return writer.FinishFixed(packet, kSmallFixedBuffer);
}

DWORD CCreatePacket::EchoTest(void** packet, DWORD size)
{
    PacketWriter writer(kEchoTest);
    writer.U32(1);
    writer.Zeros(size > 4 ? size - 4 : 0);
    return writer.Finish(packet);
}

DWORD CCreatePacket::RemoveCacheFile(void** packet, LPCSTR cacheName, DWORD reason, DWORD flag)
{
    PacketWriter writer(kRemoveCacheFile);
    writer.Sn(cacheName);
    writer.U32(reason);
    writer.U32(flag);
    return writer.Finish(packet);
}

DWORD CCreatePacket::GetCachePacket(void** packet, LPCSTR cacheName, DWORD word1, DWORD word2,
                                    DWORD word3, DWORD word4)
{
    PacketWriter writer(kGetCachePacket);
    writer.Sn(cacheName);
    for (DWORD word : {word1, word2, word3, word4})
        writer.U32(word);
    return writer.Finish(packet);
}

DWORD CCreatePacket::GetVersions(void** packet, DWORD machineLow, DWORD machineHigh,
                                 DWORD volumeLow, DWORD volumeHigh, DWORD folderLow,
                                 DWORD folderHigh, DWORD fileLow, DWORD fileHigh)
{
    PacketWriter writer(kGetVersions);
    writer.U64(machineLow, machineHigh);
    writer.U64(volumeLow, volumeHigh);
    writer.U64(folderLow, folderHigh);
    writer.U64(fileLow, fileHigh);
    return writer.Finish(packet);
}

DWORD CCreatePacket::GetFile(void** packet, DWORD word1, DWORD word2, DWORD word3, DWORD word4,
                             DWORD word5, DWORD word6, DWORD word7, DWORD word8, DWORD word9,
                             DWORD word10, DWORD word11)
{
    PacketWriter writer(kGetFile);
    for (DWORD word : {word1, word2, word3, word4, word5, word6, word7, word8, word9, word10,
                       word11})
        writer.U32(word);
    return writer.Finish(packet);
}

DWORD CCreatePacket::AuthenticateUser(void** packet, DWORD sequence, DWORD word2,
                                      LPSTR userName, LPSTR password, LPSTR hostName,
                                      ULONGLONG commandIndex)
{
    *packet = nullptr;
    if (userName == nullptr || password == nullptr || hostName == nullptr)
        return 0;
    Cutil::TrimChar(hostName, ' ', 2);
    Cutil::TrimChar(userName, ' ', 2);
    Cutil::TrimChar(password, ' ', 2);
    const DWORD userLength = static_cast<DWORD>(std::strlen(userName));
    const DWORD passwordLength = static_cast<DWORD>(std::strlen(password));
    const DWORD hostLength = static_cast<DWORD>(std::strlen(hostName));

    char key[kCredentialKeyLength + 1];
    BuildCredentialKey(commandIndex, key);
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const BYTE*>(key), kCredentialKeyLength);

    const std::string plain = std::string(userName) + password + hostName;
    std::vector<BYTE> sealed((plain.size() + 7) / 8 * 8);
    const DWORD sealedLength =
        cipher.EncryptBuffer(reinterpret_cast<const BYTE*>(plain.data()), sealed.data(),
                             static_cast<DWORD>(plain.size()));

    PacketWriter writer(kAuthenticateUser);
    writer.U32(sequence);
    writer.U32(word2);
    writer.U32(userLength);
    writer.U32(passwordLength);
    writer.U32(hostLength);
    writer.U32(sealedLength);
    writer.U32(userLength + passwordLength + hostLength);
    writer.Raw(sealed.data(), sealedLength);
    return writer.Finish(packet);
}

DWORD CCreatePacket::GetMachineAuth(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                                    DWORD machineCodeLow, DWORD machineCodeHigh)
{
    PacketWriter writer(kGetMachineAuth);
    writer.U64(machineIdLow, machineIdHigh);
    writer.U64(machineCodeLow, machineCodeHigh);
    return writer.Finish(packet);
}

DWORD CCreatePacket::MachineAuthentication(void** packet, LPCSTR machineKey, LPCSTR hostName)
{
    PacketWriter writer(kMachineAuthentication);
    writer.Sn(machineKey);
    writer.Sn(hostName);
    return writer.Finish(packet);
}

DWORD CCreatePacket::GetDirectory(void** packet, DWORD machineLow, DWORD machineHigh,
                                  DWORD volumeLow, DWORD volumeHigh, DWORD folderLow,
                                  DWORD folderHigh)
{
    PacketWriter writer(kGetDirectory);
    writer.U64(machineLow, machineHigh);
    writer.U64(volumeLow, volumeHigh);
    writer.U64(folderLow, folderHigh);
    return writer.Finish(packet);
}

DWORD CCreatePacket::Search(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                            LPCWSTR text)
{
    PacketWriter writer(kSearch);
    writer.U64(machineIdLow, machineIdHigh);
    writer.S8(text, kTextWork);
    writer.U32(0);
    return writer.Finish(packet);
}

DWORD CCreatePacket::CheckUsername(void** packet, LPCWSTR userName)
{
    PacketWriter writer(kCheckUsername);
    writer.S8(userName, kTextWork);
    return writer.Finish(packet);
}

DWORD CCreatePacket::MachineList(void** packet, DWORD value)
{
    PacketWriter writer(kMachineList);
    writer.U32(value);
    return writer.Finish(packet);
}

DWORD CCreatePacket::CheckFile(void** packet, DWORD volumeLow, DWORD volumeHigh,
                               LPCWSTR folderPath, LPCWSTR fileName, DWORD a, DWORD b, DWORD c,
                               DWORD d, DWORD e)
{
    PacketWriter writer(kCheckFile);
    writer.U64(volumeLow, volumeHigh);
    writer.S8(folderPath, kCheckFileWork);
    writer.S8(fileName, kCheckFileWork);
    for (DWORD value : {a, b, e, c, d})
        writer.U32(value);
    return writer.Finish(packet);
}

DWORD CCreatePacket::SetActiveMachine(void** packet, LPCWSTR machine)
{
    PacketWriter writer(kSetActiveMachine);
    writer.S8(machine, kTextWork);
    return writer.Finish(packet);
}

DWORD CCreatePacket::DeleteMember(void** packet, LPCWSTR userName)
{
    PacketWriter writer(kDeleteMember);
    writer.S16(userName);
    return writer.Finish(packet);
}

DWORD CCreatePacket::SetMachinePlan(void** packet, LPCWSTR text1, LPCWSTR text2, LPCWSTR text3,
                                    LPCWSTR text4, DWORD value1, DWORD value2)
{
    PacketWriter writer(kSetMachinePlan);
    for (LPCWSTR text : {text1, text2, text3, text4})
        writer.S8(text, kTextWork);
    writer.U32(value1);
    writer.U32(value2);
    return writer.Finish(packet);
}

DWORD CCreatePacket::CancelAccount(void** packet, LPCWSTR serviceTag, DWORD reason)
{
    PacketWriter writer(kCancelAccount);
    writer.S8(serviceTag, kTextWork);
    writer.U32(reason);
    return writer.Finish(packet);
}

DWORD CCreatePacket::DeleteServerFile(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                                      DWORD volumeIdLow, DWORD volumeIdHigh, DWORD folderLow,
                                      DWORD folderHigh, DWORD fileLow, DWORD fileHigh,
                                      DWORD archiveLow, DWORD archiveHigh)
{
    PacketWriter writer(kDeleteServerFile);
    writer.U64(machineIdLow, machineIdHigh);
    writer.U64(volumeIdLow, volumeIdHigh);
    writer.U64(folderLow, folderHigh);
    writer.U64(fileLow, fileHigh);
    writer.U64(archiveLow, archiveHigh);
    return writer.Finish(packet);
}

DWORD CCreatePacket::MachineListEx(void** packet, DWORD value)
{
    PacketWriter writer(kMachineListEx);
    writer.U32(value);
    return writer.Finish(packet);
}

DWORD CCreatePacket::ProductList(void** packet, DWORD value1, DWORD value2, LPCWSTR text)
{
    PacketWriter writer(kProductList);
    writer.U32(value1);
    writer.U32(value2);
    writer.S16(text);
    return writer.FinishFixed(packet, kSmallFixedBuffer);
}

DWORD CCreatePacket::CreateAccount(void** packet, LPCWSTR userName, LPCWSTR password,
                                   LPCWSTR email, LPCWSTR language, LPCWSTR firstName,
                                   LPCWSTR lastName, LPCWSTR phone)
{
    PacketWriter writer(kCreateAccount);
    for (LPCWSTR text : {userName, password, email, language, firstName, lastName, phone})
        writer.S16(text);
    return writer.Finish(packet, kCreateAccountSlack);
}

DWORD CCreatePacket::CancellationReasons(void** packet, LPCWSTR text, DWORD value)
{
    PacketWriter writer(kCancellationReasons);
    writer.S16(text);
    writer.U32(value);
    return writer.FinishFixed(packet, kSmallFixedBuffer);
}

DWORD CCreatePacket::UpdateUsernamePassword(void** packet, LPCWSTR memberAuth,
                                            LPCWSTR userName, LPCWSTR password)
{
    PacketWriter writer(kUpdateUsernamePassword);
    for (LPCWSTR text : {memberAuth, userName, password})
        writer.S16(text);
    return writer.FinishFixed(packet, kUsernamePasswordBuffer);
}

DWORD CCreatePacket::DeleteServerFolder(void** packet, DWORD machineIdLow,
                                        DWORD machineIdHigh, DWORD volumeIdLow,
                                        DWORD volumeIdHigh, DWORD folderLow, DWORD folderHigh)
{
    PacketWriter writer(kDeleteServerFolder);
    writer.U64(machineIdLow, machineIdHigh);
    writer.U64(volumeIdLow, volumeIdHigh);
    writer.U64(folderLow, folderHigh);
    return writer.Finish(packet);
}

DWORD CCreatePacket::UpdateMemberExtendedInfo(void** packet, LPCWSTR userName,
                                              LPCWSTR secondText, LPCWSTR email,
                                              LPCWSTR language, LPCWSTR firstName,
                                              LPCWSTR lastName, LPCWSTR phone)
{
    PacketWriter writer(kUpdateMemberExtendedInfo);
    for (LPCWSTR text : {userName, secondText, email, language, firstName, lastName, phone})
        writer.S16(text);
    return writer.Finish(packet, kAccountSlack);
}

DWORD CCreatePacket::UpdateAccountInfo(void** packet, LPCWSTR name, LPCWSTR address1,
                                       LPCWSTR address2, LPCWSTR city, LPCWSTR province,
                                       LPCWSTR postalCode, LPCWSTR country, LPCWSTR phone)
{
    PacketWriter writer(kUpdateAccountInfo);
    for (LPCWSTR text : {name, address1, address2, city, province, postalCode, country, phone})
        writer.S16(text);
    return writer.Finish(packet, kAccountSlack);
}

DWORD CCreatePacket::GetRootDirectory(void** packet, DWORD machineLow, DWORD machineHigh,
                                      DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath)
{
    PacketWriter writer(kGetRootDirectory);
    writer.U64(machineLow, machineHigh);
    writer.U64(volumeLow, volumeHigh);
    writer.S8(folderPath, kRootPathWork);
    return writer.Finish(packet);
}

DWORD CCreatePacket::CreateMachineByAuth(void** packet, LPCSTR memberAuth, LPCSTR machineName,
                                         LPCSTR hostName, DWORD sourceId)
{
    PacketWriter writer(kCreateMachineByAuth);
    writer.Sn(memberAuth);
    writer.Sn(hostName);
    writer.U32(sourceId);
    writer.Sn(machineName);
    return writer.Finish(packet);
}
