// A listener on loopback for test peers that serve one client at a time on a thread of their
// own: it accepts a client, hands it to the peer's function, closes it and waits for the next,
// until the listener is destroyed (which also ends a client that is still being served).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/winsock.h"

class OneClientListener {
public:
    using ServeClient = std::function<void(SOCKET client)>;

    explicit OneClientListener(ServeClient serve) : m_serve(std::move(serve)) {}
    ~OneClientListener();
    OneClientListener(const OneClientListener&) = delete;
    OneClientListener& operator=(const OneClientListener&) = delete;

    // Listens on the address, or on a fresh loopback address when it is empty, on a port the
    // system chooses.
    bool Start(const std::string& address);
    const std::string& Address() const { return m_address; }
    DWORD Port() const { return m_port; }

private:
    bool Listen(const std::string& address);
    void Serve();

    ServeClient m_serve;
    std::string m_address;
    DWORD m_port = 0;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
    std::mutex m_mutex;
    SOCKET m_client = INVALID_SOCKET;
    bool m_stopping = false;
};
