// A stand-in server on a loopback address of its own, port 443, that answers logins: it knows
// the user "alice" with password "secret" and the machine key "machine-key", and its settings
// name itself as the data server until a test says otherwise.
#pragma once

#include <memory>
#include <string>

#include "support/LoopbackServer.h"
#include "tools/server/LoginService.h"

class LoginServer {
public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "secret";
    static constexpr const char* kMachineKey = "machine-key";

    LoginServer();
    ~LoginServer();
    LoginServer(const LoginServer&) = delete;
    LoginServer& operator=(const LoginServer&) = delete;

    bool Started() const { return m_server != nullptr; }
    const std::string& Address() const { return m_server->Address(); }
    std::u16string Address16() const;
    StandinServer& Server() { return *m_server; }
    LoginService& Logins() { return m_logins; }

    // The settings reply names this data server, with this maintenance word.
    void NameDataServer(const std::string& dataServer, DWORD maintenance = 0);
    size_t RequestCount(DWORD code) const;
    // Closes the listener and every connection.
    void Stop();

private:
    LoginService m_logins;
    std::unique_ptr<StandinServer> m_server;
};
