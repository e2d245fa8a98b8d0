// A peer that speaks no protocol: on a loopback address of its own it takes one client at a
// time, reads what the client sends first, answers with exactly the bytes the test scripted,
// stops sending and waits for the client to go. So a client meets any byte sequence at all in
// place of a frame, and never waits for bytes that will not come.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "support/OneClientListener.h"

class RawPeer {
public:
    RawPeer() : m_listener([this](SOCKET client) { ServeClient(client); }) {}

    // Listens on a fresh loopback address, on a port the system chooses.
    bool Start() { return m_listener.Start(""); }
    const std::string& Address() const { return m_listener.Address(); }
    DWORD Port() const { return m_listener.Port(); }
    // The bytes that answer every later client.
    void Script(std::vector<BYTE> answer);

private:
    void ServeClient(SOCKET client);

    std::mutex m_mutex;
    std::vector<BYTE> m_answer;
    // Last, so that its thread stops before the answer goes.
    OneClientListener m_listener;
};
