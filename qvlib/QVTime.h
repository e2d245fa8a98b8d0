// The support library's clock: seconds since 1970-01-01 UTC and their local-time texts.
#pragma once

#include <cstdint>

#include "qvlib/CQVString.h"

int64_t QVGetCurrentTime();

// The time as local time in a strftime format (at most 4095 characters); empty for a
// negative time.
CQVString QVFormatTime(const char16_t* format, int64_t time);
