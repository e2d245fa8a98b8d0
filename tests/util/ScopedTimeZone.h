// Runs part of a test in another time zone and puts the process's zone back afterwards.
#pragma once

#include <ctime>
#include <optional>

#include "support/ScopedEnv.h"

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        m_variable.emplace("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        m_variable.reset();
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<ScopedEnv> m_variable;
};
