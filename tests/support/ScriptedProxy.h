// A fake HTTP proxy on 127.0.0.1 for answers a real proxy will not give: it reads each
// client's request up to the blank line, keeps it, sends a fixed answer and waits for the
// client to go. One client at a time.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

class ScriptedProxy {
public:
    explicit ScriptedProxy(std::string answer);
    ~ScriptedProxy();
    ScriptedProxy(const ScriptedProxy&) = delete;
    ScriptedProxy& operator=(const ScriptedProxy&) = delete;

    bool Start();
    DWORD Port() const { return m_port; }
    // The requests received so far, each up to and with its blank line.
    std::vector<std::string> Requests() const;

private:
    void Serve();
    void ServeClient();

    std::string m_answer;
    DWORD m_port = 0;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    SOCKET m_client = INVALID_SOCKET;
    bool m_stopping = false;
    std::vector<std::string> m_requests;
};
