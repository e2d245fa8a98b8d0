// A real tinyproxy (/usr/bin/tinyproxy) on 127.0.0.1 and a free port, run in the foreground
// with its own configuration in a temporary folder: CONNECT allowed to one port (443 unless
// told otherwise) only, and Basic authentication when a user is given. Killed when the object
// goes.
#pragma once

#include <string>
#include <sys/types.h>

#include "support/TempDir.h"

class Tinyproxy {
public:
    Tinyproxy() = default;
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    // Starts it and waits until it accepts connections; with a user, only clients that
    // authenticate as user with password get through.
    bool Start(const std::string& user = "", const std::string& password = "",
               unsigned connectPort = 443);
    unsigned Port() const { return m_port; }
    // What tinyproxy logged, for failure messages.
    std::string Log() const;

private:
    bool Launch(const std::string& user, const std::string& password, unsigned connectPort);
    void Kill();

    TempDir m_dir;
    pid_t m_pid = -1;
    unsigned m_port = 0;
};
