/* Kelvane: the client library of the online backup service. A host loads libkelvane.so and
 * calls these functions by name. Texts are UTF-16 (char16_t) and NUL-terminated unless
 * stated otherwise; a 64-bit code travels as two 32-bit arguments, low word first.
 *
 * Out-buffers without a capacity argument hold 1024 units, the NUL included (bytes for 8-bit
 * texts). A NULL out-pointer receives nothing. */
#ifndef KELVANE_H
#define KELVANE_H

#include <stdbool.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define KELVANE_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
class Csocketclient;
extern "C" {
#else
/* A channel to the server: opened by the OpenChannel family, ended by CloseChannel. */
typedef struct Csocketclient Csocketclient;
#endif

typedef int32_t (*TransportCallback)(uintptr_t context, uint32_t code, const char16_t* text,
                                     uint64_t value);

/* Bits of the flags word that OpenChannel and OpenChannelEx fill after a login. */
#define KELVANE_FLAG_REFUSAL_FLAG 0x4u
#define KELVANE_FLAG_REFUSAL_CODE 0x8u
#define KELVANE_FLAG_AUTHENTICATED 0x20u
#define KELVANE_FLAG_MACHINE_LOGIN_FAILED 0x200u

/* Size of the 8-bit data-server buffer that VerifyServer fills. */
#define KELVANE_DATA_SERVER_SIZE 1024

/* Opening and closing channels. useProxy 1 connects through the HTTP proxy ProxyHost:ProxyPort
 * (with Basic credentials when proxyUser is not empty); any other value connects directly.
 * Each returns the channel, or NULL when it could not be opened (and logged in). */
KELVANE_EXPORT Csocketclient* OpenChannel(const char16_t* ServerURL, const char16_t* UserName,
                                          const char16_t* password, uint32_t* flags,
                                          int32_t useProxy, const char16_t* ProxyHost,
                                          int32_t ProxyPort, const char16_t* proxyUser,
                                          const char16_t* proxyPassword);
/* Logs a machine in with its 8-bit authentication key. */
KELVANE_EXPORT Csocketclient* OpenChannelEx(const char16_t* ServerURL, const char* MachineLicence,
                                            uint32_t* flags, int32_t useProxy,
                                            const char16_t* ProxyHost, int32_t ProxyPort,
                                            const char16_t* proxyUser,
                                            const char16_t* proxyPassword);
/* Connects without logging in. */
KELVANE_EXPORT Csocketclient* OpenChannelNoUser(const char16_t* ServerURL, int32_t useProxy,
                                                const char16_t* ProxyHost, int32_t ProxyPort,
                                                const char16_t* proxyUser,
                                                const char16_t* proxyPassword);
/* Ends a channel; the handle is invalid afterwards. NULL does nothing. */
KELVANE_EXPORT void CloseChannel(Csocketclient* channel);

/* Machine login and server checks. */
KELVANE_EXPORT bool AuthenticateMachine(Csocketclient* channel, uint32_t* maintenance,
                                        uint32_t* lockedout);
/* Fills dataServer (KELVANE_DATA_SERVER_SIZE bytes) with the data server that the server
 * names, and maintenance with its maintenance word. */
KELVANE_EXPORT bool VerifyServer(Csocketclient* channel, char* dataServer, uint32_t* maintenance);
KELVANE_EXPORT int32_t WebPortalIsEnabled(Csocketclient* channel, uint32_t* IsEnabled);
/* Returns the server's answer word unchanged, 0 when the exchange failed or machine is NULL. */
KELVANE_EXPORT int32_t SetActiveMachine(Csocketclient* channel, const char16_t* machine);
/* Writes the 8-bit authentication text of a machine into text (1024 bytes). */
KELVANE_EXPORT int32_t GetMachineInformation(Csocketclient* channel, uint32_t MachineCodeLow,
                                             uint32_t MachineCodeHigh, char* text);

/* Channel settings and proxy check. SetCallBack installs the host's callback on a channel
 * (replacing any earlier one; a NULL function switches it off), ResetCallBack removes it.
 * SetGetPacketSize sets the size of the pieces in which the channel reads from its socket.
 * CheckProxySettings connects a channel of its own through the proxy to RemoteServer:RemotePort
 * and gives it up again; it returns the connect result (0 for failure), and on failure copies
 * the connection's error text into errText, which holds errTextLen units with the NUL (a text
 * that does not fit leaves errText empty). */
KELVANE_EXPORT int32_t SetCallBack(Csocketclient* channel, void* context,
                                   TransportCallback function);
KELVANE_EXPORT int32_t ResetCallBack(Csocketclient* channel);
KELVANE_EXPORT int32_t SetGetPacketSize(Csocketclient* channel, uint32_t packetsize);
KELVANE_EXPORT int32_t CheckProxySettings(const char16_t* ProxyHost, int32_t ProxyPort,
                                          const char16_t* proxyUser,
                                          const char16_t* proxyPassword,
                                          const char16_t* RemoteServer, int32_t RemotePort,
                                          char16_t* errText, int32_t errTextLen);

/* Browsing. Each list export returns the server's reply as a buffer that the host owns until
 * it passes it to FreeBuffer, with its item count in *count and its byte size in *size; NULL
 * when there is nothing to hand over. A buffer starts with its u32 item count (Search: a u32
 * result word, then the count) and holds the records back to back; a text in a record is a
 * u32 byte count and that many bytes. */
KELVANE_EXPORT void* loadVersion(Csocketclient* channel, uint32_t* count, uint32_t* size,
                                 uint32_t machineCodeLow, uint32_t machineCodeHigh,
                                 uint32_t volumeCodeLow, uint32_t volumeCodeHigh,
                                 uint32_t folderCodeLow, uint32_t folderCodeHigh,
                                 uint32_t fileCodeLow, uint32_t fileCodeHigh);
KELVANE_EXPORT void* Search(Csocketclient* channel, uint32_t machineidLow,
                            uint32_t machineidHigh, const char16_t* searchstring,
                            uint32_t* size);
KELVANE_EXPORT void* loadMachines(Csocketclient* channel, uint32_t* count, uint32_t* size);
KELVANE_EXPORT void* loadMachinesEx(Csocketclient* channel, uint32_t* count, uint32_t* size);
KELVANE_EXPORT void* loadVolumes(Csocketclient* channel, uint32_t* count, uint32_t* size);
/* The two folder exports hand over an empty folder too (count 0, size 4). */
KELVANE_EXPORT void* loadFolderByFolderCode(Csocketclient* channel, uint32_t* count,
                                            uint32_t* size, uint32_t machineCodeLow,
                                            uint32_t machineCodeHigh, uint32_t volumeCodeLow,
                                            uint32_t volumeCodeHigh, uint32_t folderCodeLow,
                                            uint32_t folderCodeHigh);
KELVANE_EXPORT void* loadRootFolder(Csocketclient* channel, uint32_t* count, uint32_t* size,
                                    uint32_t machineCodeLow, uint32_t machineCodeHigh,
                                    uint32_t volumeCodeLow, uint32_t volumeCodeHigh);
/* Gives back a buffer of the list exports; anything else (NULL included) is left alone. */
KELVANE_EXPORT void FreeBuffer(void* buffer);
/* Asks the server about its copy of the file at a local path; 1 when the server answered with
 * a result word other than 0. */
KELVANE_EXPORT int32_t CheckFile(Csocketclient* channel, const char16_t* path, uint32_t a,
                                 uint32_t b, uint32_t c, uint32_t d, uint64_t* value1,
                                 uint64_t* value2, uint64_t* value3, uint32_t* result,
                                 uint32_t* status);
/* The values of the last restore; 0 on a channel that is not logged in. */
KELVANE_EXPORT int32_t LastRestoreInfo(Csocketclient* channel, uint64_t* value1,
                                       uint64_t* value2, uint64_t* value3, uint32_t* status);

/* Restore */
/* The five 64-bit codes name a file version on the server; each travels as its low word, then
 * its high word. The host's callback is installed on the channel (with context 0) for the
 * call: it receives the progress and cancels the transfer by answering the cancellation poll
 * with a non-zero value. Both return 1 when the file is in place, 0 otherwise. */
/* Downloads the file to localPath. Writes text followed by localPath (UTF-16LE) to "Log.txt"
 * in the current directory, which is created or emptied. */
KELVANE_EXPORT int32_t RestoreFile(Csocketclient* channel, uint32_t code1Low, uint32_t code1High,
                                   uint32_t code2Low, uint32_t code2High, uint32_t code3Low,
                                   uint32_t code3High, uint32_t code4Low, uint32_t code4High,
                                   uint32_t code5Low, uint32_t code5High,
                                   const char16_t* localPath, uint32_t unused1, uint32_t unused2,
                                   const char16_t* text, TransportCallback callback);
/* Rebuilds a file version: downloads the server's copy to "<code4>_<code5>.tmp" in folder,
 * applies the records of the block file folder/blockFileName onto it and moves it to
 * destination, which must not exist yet. */
KELVANE_EXPORT int32_t RestoreHybridFile(Csocketclient* channel, uint32_t code1Low,
                                         uint32_t code1High, uint32_t code2Low,
                                         uint32_t code2High, uint32_t code3Low,
                                         uint32_t code3High, uint32_t code4Low,
                                         uint32_t code4High, uint32_t code5Low,
                                         uint32_t code5High, const char16_t* folder,
                                         const char16_t* blockFileName,
                                         const char16_t* destination, TransportCallback callback);

/* Parameters */
/* Seals texts into printable tokens and opens them again; no exchange with the server, so a
 * channel that is not connected serves too. Capacities count characters, the NUL included; a
 * result that does not fit is refused (0, with an empty text). */
/* out receives sealed(a) "|" sealed(b) "|" sealed(c ":" d). */
KELVANE_EXPORT int32_t SetParameters(Csocketclient* channel, const char16_t* a, const char16_t* b,
                                     const char16_t* c, const char16_t* d, char16_t* out,
                                     int32_t outCapacity);
/* out1 receives the opened sealed1 ":" the opened sealed2, out2 the opened sealed3. */
KELVANE_EXPORT int32_t GetParameters(Csocketclient* channel, const char16_t* sealed1,
                                     const char16_t* sealed2, const char16_t* sealed3,
                                     char16_t* out1, int32_t out1Capacity, char16_t* out2,
                                     int32_t out2Capacity);

/* Local service */
/* These talk to the backup service on this computer, not to a channel. The control calls
 * return the result word of the service's last reply, 0 when it did not answer; the status
 * calls report nothing when it did not answer. */
typedef int32_t (*ProgressStatusCallback)(int32_t totalProgress, uint32_t estimatedFiles,
                                          uint32_t backedUpFiles, const char16_t* lastStatusFile);
typedef int32_t (*CurrentStepCallback)(const char16_t* lastStatusFile, uint32_t stepStatusCode);
KELVANE_EXPORT uint32_t BackupNow(void);
KELVANE_EXPORT uint32_t CancelBackup(void);
KELVANE_EXPORT uint32_t StopService(void);
KELVANE_EXPORT uint32_t SettingsUpdate(void);
KELVANE_EXPORT uint32_t GenerateCipher(void);
/* Call cb once with the service's progress; the text is valid during the call only. */
KELVANE_EXPORT void GetProgressStatus(ProgressStatusCallback cb);
KELVANE_EXPORT void GetCurrentStep(CurrentStepCallback cb);
KELVANE_EXPORT bool IsBackinUpNow(void);
KELVANE_EXPORT bool IsAnimate(void);
/* statusFlags: 255 without an answer, 1 without user flags, else 2, 4, 8, 16 OR-ed. */
KELVANE_EXPORT int32_t GetUserStatus(uint32_t* statusFlags);

/* Account and member */
/* CheckUsername and DeleteMember return the server's result word unchanged (0 when the
 * exchange failed); the others 1 or 0. */
KELVANE_EXPORT int32_t CheckUsername(Csocketclient* channel, const char16_t* username,
                                     uint32_t* reasoncode);
KELVANE_EXPORT int32_t UpdateUsernamePassword(Csocketclient* channel, const char16_t* memberauth,
                                              const char16_t* username, const char16_t* password,
                                              uint32_t* reasonCode);
KELVANE_EXPORT int32_t GetMemberExtendedInformation(
    Csocketclient* channel, char16_t* text1, char16_t* text2, char16_t* text3, char16_t* text4,
    char16_t* text5, char16_t* text6, uint64_t* value1, uint64_t* value2, uint32_t* Suspended,
    uint32_t* Cancelled, uint32_t* Deleted, uint32_t* Activated, uint32_t* value3);
KELVANE_EXPORT int32_t UpdateMemberExtendedInfo(Csocketclient* channel, const char16_t* username,
                                                const char16_t* password, const char16_t* email,
                                                const char16_t* language,
                                                const char16_t* firstname,
                                                const char16_t* lastname, const char16_t* phone);
KELVANE_EXPORT int32_t GetAccountInformation(Csocketclient* channel, char16_t* name,
                                             char16_t* address1, char16_t* address2,
                                             char16_t* city, char16_t* province, char16_t* postal,
                                             char16_t* country, char16_t* phone);
KELVANE_EXPORT int32_t UpdateAccountInformation(Csocketclient* channel, const char16_t* name,
                                                const char16_t* address1,
                                                const char16_t* address2, const char16_t* city,
                                                const char16_t* province, const char16_t* postal,
                                                const char16_t* country, const char16_t* phone);
KELVANE_EXPORT int32_t UpdateUserInformation(Csocketclient* channel, const char16_t* username,
                                             const char16_t* password,
                                             const char16_t* emailaddress,
                                             const char16_t* language, const char16_t* firstname,
                                             const char16_t* lastname,
                                             const char16_t* phonenumber, uint32_t* reasoncode);
/* The statistics as a reply buffer (release it with FreeBuffer), or NULL. */
KELVANE_EXPORT void* GetMemberStats(Csocketclient* channel, uint32_t* count, uint32_t* size);
KELVANE_EXPORT int32_t DeleteMember(Csocketclient* channel, const char16_t* username);
KELVANE_EXPORT int32_t CancelAccount(Csocketclient* channel, const char16_t* servicetag,
                                     uint32_t reason, uint32_t* confirmcode);
/* The cancellation reasons as a reply buffer (release it with FreeBuffer), or NULL. */
KELVANE_EXPORT void* CancellationReasons(Csocketclient* channel, const char16_t* text,
                                         uint32_t value, uint32_t* count, uint32_t* size,
                                         uint32_t* status);
/* Prints the products on standard output. */
KELVANE_EXPORT int32_t ProductList(Csocketclient* channel, const char16_t* text, uint32_t value,
                                   uint32_t needAuth);
KELVANE_EXPORT bool SetMachinePlanEx(Csocketclient* channel, const char16_t* text1,
                                     const char16_t* text2, const char16_t* text3,
                                     const char16_t* text4, uint32_t value1, uint32_t value2);
/* Obsolete: always 0. UpdateUserInformation changes a member's user data. */
KELVANE_EXPORT int32_t CreateAccount(void);

/* Machine enrolment and server files */
/* The expiry text of GetMachineBucketDetails needs expiryCapacity >= 20; a smaller buffer
 * receives an empty text. */
KELVANE_EXPORT int32_t GetMemberAuth(Csocketclient* channel, char* memberauth);
KELVANE_EXPORT int32_t CreateMachineAuth(Csocketclient* channel, char* memberauth,
                                         const char* machinename, char* machineauth);
KELVANE_EXPORT int32_t CreateMachineAuthEx(Csocketclient* channel, char* memberauth,
                                           const char* machinename, char* machineauth);
KELVANE_EXPORT int32_t GetMachineBucketDetails(
    Csocketclient* channel, const char16_t* machineauth, uint64_t* quota, uint64_t* used,
    uint64_t* expirygmt, uint32_t* value, uint32_t* posapos, uint32_t* suspendbackup,
    uint32_t* suspendmember, uint32_t* suspendaccount, char16_t* expiry, int32_t expiryCapacity,
    char16_t* PucharseId, char16_t* SubcriptionId, uint32_t* isMigrated);
KELVANE_EXPORT int32_t DeleteServerFileEx(Csocketclient* channel, uint32_t machineidLow,
                                          uint32_t machineidHigh, uint32_t volumeidLow,
                                          uint32_t volumeidHigh, uint32_t foldercodeLow,
                                          uint32_t foldercodeHigh, uint32_t filecodeLow,
                                          uint32_t filecodeHigh, uint32_t archivecodeLow,
                                          uint32_t archivecodeHigh, uint32_t* reasoncode);
KELVANE_EXPORT int32_t DeleteServerFolderEx(Csocketclient* channel, uint32_t machineidLow,
                                            uint32_t machineidHigh, uint32_t volumeidLow,
                                            uint32_t volumeidHigh, uint32_t foldercodeLow,
                                            uint32_t foldercodeHigh, uint32_t* reasoncode);

#ifdef __cplusplus
}
#endif

#endif
