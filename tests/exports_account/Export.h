// An export of the library under test, looked up by name as a host looks it up:
//     EXPORT(CheckUsername)(channel, u"carol", &reason)
#pragma once

#include "kelvane.h"
#include "support/KelvaneLibrary.h"

#define EXPORT(name) reinterpret_cast<decltype(&::name)>(KelvaneLibrary::Get().Symbol(#name))
