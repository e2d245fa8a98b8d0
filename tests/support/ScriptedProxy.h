// A fake HTTP proxy on 127.0.0.1 for answers a real proxy will not give: it reads each
// client's request up to the blank line, keeps it, sends a fixed answer and waits for the
// client to go. One client at a time.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "support/OneClientListener.h"

class ScriptedProxy {
public:
    explicit ScriptedProxy(std::string answer);

    bool Start() { return m_listener.Start("127.0.0.1"); }
    DWORD Port() const { return m_listener.Port(); }
    // The requests received so far, each up to and with its blank line.
    std::vector<std::string> Requests() const;

private:
    void ServeClient(SOCKET client);

    std::string m_answer;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    // Last, so that its thread stops before the requests go.
    OneClientListener m_listener;
};
