// A fake HTTP proxy on 127.0.0.1 for answers a real proxy will not give: it reads each
// client's request up to the blank line, keeps it and sends a fixed answer, piece by piece
// with a pause between the pieces (20 ms unless told) so that they reach the client as
// separate segments.
// Then it tunnels to a server when told to, or else ends its sending side (so that an answer
// without a blank line ends there), unless told to hold the connection open, and waits for
// the client to go. One client at a time.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "support/OneClientListener.h"

class ScriptedProxy {
public:
    explicit ScriptedProxy(std::string answer);
    explicit ScriptedProxy(std::vector<std::string> answerPieces);

    // After the answer, passes bytes both ways between the client and address:port. Call it
    // before Start.
    void TunnelTo(const std::string& address, DWORD port);
    // After the answer, neither tunnels nor ends its sending side. Call it before Start.
    void HoldOpen() { m_holdOpen = true; }
    // The pause before each piece of the answer after the first. Call it before Start.
    void PauseBetweenPieces(DWORD milliseconds) { m_pauseMs = milliseconds; }
    bool Start() { return m_listener.Start("127.0.0.1"); }
    DWORD Port() const { return m_listener.Port(); }
    // The requests received so far, each up to and with its blank line.
    std::vector<std::string> Requests() const;

private:
    void ServeClient(SOCKET client);
    bool ReceiveRequest(SOCKET client);
    bool SendAnswer(SOCKET client) const;
    void Tunnel(SOCKET client) const;

    std::vector<std::string> m_answerPieces;
    std::string m_tunnelAddress;
    DWORD m_tunnelPort = 0;
    bool m_holdOpen = false;
    // Long enough for each piece to leave as a segment of its own and be received on its own.
    DWORD m_pauseMs = 20;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    // Last, so that its thread stops before the requests go.
    OneClientListener m_listener;
};
