// The stand-in for the service's server: listens on an IPv4 address and port (443 unless
// told otherwise), serves every connection on a thread of its own, and keeps a record of
// what clients sent. Tests run it inside their process; kelvane-server runs it alone.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"
#include "tools/server/CommandTable.h"
#include "tools/server/RequestLog.h"
#include "tools/server/ServerConnection.h"
#include "tools/server/ServerFaults.h"
#include "tools/server/ServerModel.h"

class StandinServer {
public:
    static constexpr DWORD kDefaultPort = 443;

    StandinServer(std::string address, DWORD port);
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    // Binds and listens before it returns, then accepts on a thread. False when the address
    // cannot be bound (WSAGetLastError tells why).
    bool Start();
    // Closes the listener and every connection and waits for their threads.
    void Stop();
    // Blocks until the server stops.
    void Wait();

    const std::string& Address() const;
    // The port listened on (the one given, or the one the system chose for port 0).
    DWORD Port() const;

    CommandTable& Commands();
    ServerModel& Model();
    const RequestLog& Log() const;
    void SetFault(const ServerFault& fault);
    // How the connections accepted from now on answer the hello of a tunnel.
    void SetHelloAnswer(const HelloAnswer& answer);

private:
    struct Client {
        std::unique_ptr<ServerConnection> connection;
        std::thread thread;
    };

    void AcceptLoop();
    HelloAnswer CurrentHelloAnswer();
    // Joins the threads of connections that have closed; the caller holds m_clientsMutex.
    void ReapClosedClients();

    std::string m_address;
    DWORD m_port;
    SOCKET m_listener;
    std::atomic<bool> m_stopping;
    std::thread m_acceptThread;
    std::mutex m_clientsMutex;
    std::vector<Client> m_clients;
    size_t m_acceptedClients = 0;
    CommandTable m_commands;
    ServerModel m_model;
    RequestLog m_log;
    ServerFaults m_faults;
    std::mutex m_helloMutex;
    HelloAnswer m_helloAnswer;
};
