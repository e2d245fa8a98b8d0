/* Kelvane: the client library of the online backup service. A host loads libkelvane.so and
 * calls these functions by name. Texts are UTF-16 (char16_t) unless stated otherwise. */
#ifndef KELVANE_H
#define KELVANE_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
class Csocketclient;
#else
typedef struct Csocketclient Csocketclient;
#endif

typedef int32_t (*TransportCallback)(uintptr_t context, uint32_t code, const char16_t* text,
                                     uint64_t value);

#ifdef __cplusplus
}
#endif

#endif
