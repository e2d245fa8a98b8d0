// The request packet builders: one method per server command, each writing a complete
// request payload (u32 command code, then the command's fields) into a fresh page buffer.
// Every builder stores the buffer in *packet and gives the payload length; it gives 0 with
// *packet NULL when the buffer cannot be allocated or a text does not fit the command's
// limits (a missing text, a UTF-8 form beyond its work buffer, a fixed buffer overrun).
// The caller releases the buffer with Cutil::FreePacket once it has been sent.
// 64-bit codes are passed as two 32-bit words, low word first.
#pragma once

#include "platform/types.h"

class CCreatePacket {
public:
    // Command codes.
    static constexpr DWORD kDisconnect = 0;
    static constexpr DWORD kRemoveCacheFile = 35;
    static constexpr DWORD kEchoTest = 49;
    static constexpr DWORD kGetCommandIndex = 75;
    static constexpr DWORD kGetCachePacket = 106;
    static constexpr DWORD kGetSettings = 114;
    static constexpr DWORD kGetVersions = 125;
    static constexpr DWORD kGetFile = 129;
    static constexpr DWORD kAuthenticateUser = 139;
    static constexpr DWORD kGetVolumeList = 209;
    static constexpr DWORD kGetMachineAuth = 216;
    static constexpr DWORD kMachineAuthentication = 225;
    static constexpr DWORD kGetDirectory = 249;
    static constexpr DWORD kSearch = 259;
    static constexpr DWORD kCheckUsername = 260;
    static constexpr DWORD kMachineList = 266;
    static constexpr DWORD kCheckFile = 267;
    static constexpr DWORD kSetActiveMachine = 271;
    static constexpr DWORD kGetMemberAuth = 272;
    static constexpr DWORD kDeleteMember = 273;
    static constexpr DWORD kGetMemberStats = 274;
    static constexpr DWORD kGetMachineBucketDetailsEx = 287;
    static constexpr DWORD kCloseOpenHandle = 290;
    static constexpr DWORD kSetMachinePlan = 292;
    static constexpr DWORD kIsWebPortalEnabledEx = 296;
    static constexpr DWORD kCancelAccount = 300;
    static constexpr DWORD kDeleteServerFile = 308;
    static constexpr DWORD kMachineListEx = 309;
    static constexpr DWORD kProductList = 310;
    static constexpr DWORD kCreateAccount = 312;
    static constexpr DWORD kCancellationReasons = 313;
    static constexpr DWORD kLastRestoreInfo = 316;
    static constexpr DWORD kUpdateUsernamePassword = 324;
    static constexpr DWORD kDeleteServerFolder = 325;
    static constexpr DWORD kGetMemberInfo = 328;
    static constexpr DWORD kUpdateMemberExtendedInfo = 329;
    static constexpr DWORD kGetAccountInfo = 330;
    static constexpr DWORD kUpdateAccountInfo = 331;
    static constexpr DWORD kGetRootDirectory = 338;
    static constexpr DWORD kCreateMachineByAuth = 344;

    // Code alone.
    DWORD Disconnect(void** packet);
    DWORD GetCommandIndex(void** packet);
    DWORD GetSettings(void** packet);
    DWORD GetVolumeList(void** packet);
    DWORD GetMemberAuth(void** packet);
    DWORD GetMemberStats(void** packet);
    DWORD GetMachineBucketDetailsEx(void** packet);
    DWORD CloseOpenHandle(void** packet);
    DWORD IsWebPortalEnabledEx(void** packet);
    DWORD LastRestoreInfo(void** packet);
    DWORD GetMemberInfo(void** packet);
    DWORD GetAccountInfo(void** packet);

    // The keep-alive: the word 1, then size - 4 zero bytes.
    DWORD EchoTest(void** packet, DWORD size);
    DWORD RemoveCacheFile(void** packet, LPCSTR cacheName, DWORD reason, DWORD flag);
    DWORD GetCachePacket(void** packet, LPCSTR cacheName, DWORD word1, DWORD word2,
                         DWORD word3, DWORD word4);
    DWORD GetVersions(void** packet, DWORD machineLow, DWORD machineHigh, DWORD volumeLow,
                      DWORD volumeHigh, DWORD folderLow, DWORD folderHigh, DWORD fileLow,
                      DWORD fileHigh);
    DWORD GetFile(void** packet, DWORD word1, DWORD word2, DWORD word3, DWORD word4,
                  DWORD word5, DWORD word6, DWORD word7, DWORD word8, DWORD word9,
                  DWORD word10, DWORD word11);
    // The credential packet. Trims blanks from both ends of the three texts in place (they
    // are the channel's own fields) and enciphers them under the key of commandIndex.
    DWORD AuthenticateUser(void** packet, DWORD sequence, DWORD word2, LPSTR userName,
                           LPSTR password, LPSTR hostName, ULONGLONG commandIndex);
    DWORD GetMachineAuth(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                         DWORD machineCodeLow, DWORD machineCodeHigh);
    DWORD MachineAuthentication(void** packet, LPCSTR machineKey, LPCSTR hostName);
    DWORD GetDirectory(void** packet, DWORD machineLow, DWORD machineHigh, DWORD volumeLow,
                       DWORD volumeHigh, DWORD folderLow, DWORD folderHigh);
    DWORD Search(void** packet, DWORD machineIdLow, DWORD machineIdHigh, LPCWSTR text);
    DWORD CheckUsername(void** packet, LPCWSTR userName);
    DWORD MachineList(void** packet, DWORD value);
    // Sends the five values in the order a, b, e, c, d.
    DWORD CheckFile(void** packet, DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath,
                    LPCWSTR fileName, DWORD a, DWORD b, DWORD c, DWORD d, DWORD e);
    DWORD SetActiveMachine(void** packet, LPCWSTR machine);
    DWORD DeleteMember(void** packet, LPCWSTR userName);
    DWORD SetMachinePlan(void** packet, LPCWSTR text1, LPCWSTR text2, LPCWSTR text3,
                         LPCWSTR text4, DWORD value1, DWORD value2);
    DWORD CancelAccount(void** packet, LPCWSTR serviceTag, DWORD reason);
    DWORD DeleteServerFile(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                           DWORD volumeIdLow, DWORD volumeIdHigh, DWORD folderLow,
                           DWORD folderHigh, DWORD fileLow, DWORD fileHigh, DWORD archiveLow,
                           DWORD archiveHigh);
    DWORD MachineListEx(void** packet, DWORD value);
    DWORD ProductList(void** packet, DWORD value1, DWORD value2, LPCWSTR text);
    DWORD CreateAccount(void** packet, LPCWSTR userName, LPCWSTR password, LPCWSTR email,
                        LPCWSTR language, LPCWSTR firstName, LPCWSTR lastName, LPCWSTR phone);
    DWORD CancellationReasons(void** packet, LPCWSTR text, DWORD value);
    DWORD UpdateUsernamePassword(void** packet, LPCWSTR memberAuth, LPCWSTR userName,
                                 LPCWSTR password);
    DWORD DeleteServerFolder(void** packet, DWORD machineIdLow, DWORD machineIdHigh,
                             DWORD volumeIdLow, DWORD volumeIdHigh, DWORD folderLow,
                             DWORD folderHigh);
    DWORD UpdateMemberExtendedInfo(void** packet, LPCWSTR userName, LPCWSTR secondText,
                                   LPCWSTR email, LPCWSTR language, LPCWSTR firstName,
                                   LPCWSTR lastName, LPCWSTR phone);
    DWORD UpdateAccountInfo(void** packet, LPCWSTR name, LPCWSTR address1, LPCWSTR address2,
                            LPCWSTR city, LPCWSTR province, LPCWSTR postalCode,
                            LPCWSTR country, LPCWSTR phone);
    DWORD GetRootDirectory(void** packet, DWORD machineLow, DWORD machineHigh,
                           DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath);
    // Takes the machine name before the host name but sends the host name and the source id
    // first: member authentication text, host name, source id, machine name.
    DWORD CreateMachineByAuth(void** packet, LPCSTR memberAuth, LPCSTR machineName,
                              LPCSTR hostName, DWORD sourceId);

private:
    DWORD CodeOnly(void** packet, DWORD command);
};
