// A peer that speaks no protocol: on a loopback address of its own it takes one client at a
// time, reads what the client sends first, answers with exactly the bytes the test scripted,
// stops sending and waits for the client to go. So a client meets any byte sequence at all in
// place of a frame, and never waits for bytes that will not come.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

class RawPeer {
public:
    RawPeer() = default;
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // Listens on a fresh loopback address, on a port the system chooses.
    bool Start();
    const std::string& Address() const { return m_address; }
    DWORD Port() const { return m_port; }
    // The bytes that answer every later client.
    void Script(std::vector<BYTE> answer);

private:
    void Serve();
    void ServeClient(SOCKET client);

    std::string m_address;
    DWORD m_port = 0;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<BYTE> m_answer;
    SOCKET m_client = INVALID_SOCKET;
    bool m_stopping = false;
};
