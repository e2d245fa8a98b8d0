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
/* Returns the server's answer word unchanged, 0 when the exchange failed. */
KELVANE_EXPORT int32_t SetActiveMachine(Csocketclient* channel, const char16_t* machine);
/* Writes the 8-bit authentication text of a machine into text (1024 bytes). */
KELVANE_EXPORT int32_t GetMachineInformation(Csocketclient* channel, uint32_t MachineCodeLow,
                                             uint32_t MachineCodeHigh, char* text);

#ifdef __cplusplus
}
#endif

#endif
