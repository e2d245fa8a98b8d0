// Sets an environment variable for the life of one test and restores it afterwards.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        setenv(name, value.c_str(), 1);
        tzset();
    }
    ~EnvironmentVariable()
    {
        if (m_previous)
            setenv(m_name.c_str(), m_previous->c_str(), 1);
        else
            unsetenv(m_name.c_str());
        tzset();
    }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};
