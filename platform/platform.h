// The platform layer: the only code that touches the operating system. Everything above it
// is written against these Win32-shaped calls.
#pragma once

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/placement.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/types.h"
