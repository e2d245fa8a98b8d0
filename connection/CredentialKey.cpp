#include "connection/CredentialKey.h"

#include <cstring>

#include "platform/format.h"

static_assert(sizeof(KELVANE_CREDENTIAL_TEMPLATE) == kCredentialKeyLength + 1,
              "the credential key template must hold 56 characters");

void BuildCredentialKey(ULONGLONG commandIndex, char key[kCredentialKeyLength + 1])
{
    std::memcpy(key, KELVANE_CREDENTIAL_TEMPLATE, kCredentialKeyLength + 1);
    char digits[24];
    FormatA(digits, sizeof digits, "%I64u", commandIndex);
    const size_t count = std::strlen(digits);
    // Digit i names a key position (0-9) and puts there the digit at the mirrored place;
    // a later digit naming the same position wins.
    for (size_t i = 0; i < count; ++i)
        key[digits[i] - '0'] = digits[count - 1 - i];
}
