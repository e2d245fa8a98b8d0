// A stand-in for the local backup service, for tests and for trying hosts by hand. It
// listens on the service's pipe sockets, answers each 24-byte command with a reply a test
// sets, records every request, and can misbehave on purpose. It runs on a thread of its own.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/StatusReply.h"

class StandinService {
public:
    // The pipe names it listens on: the base name followed by the session id (the user id
    // here), the plain base name, or both.
    enum class Names { SessionAndPlain, SessionOnly, PlainOnly };
    // How it takes clients: serve them; leave the socket there with nobody listening; or
    // listen with a queue of one that is never taken from, so that the pipe is busy.
    enum class Listening { Serve, BoundOnly, Stalled };
    enum class Misbehaviour {
        None,
        CloseWithoutAnswer,  // read the command, then hang up
        Truncate,            // send only the first `size` bytes of the reply
        Oversize,            // pad the reply to `size` bytes with 0xEE
    };

    struct Request {
        std::vector<uint8_t> bytes;
        // The code at offset 20, and whether the header was sound: 24 bytes, version word 1,
        // length word 24, and a CRC-32 that matches the code.
        uint32_t command = 0;
        bool wellFormed = false;
    };

    static constexpr const char* kBaseName = "RidOVOdozer";

    StandinService(std::string folder, Names names = Names::SessionAndPlain,
                   Listening listening = Listening::Serve);
    ~StandinService();
    StandinService(const StandinService&) = delete;
    StandinService& operator=(const StandinService&) = delete;

    // Creates the sockets and starts the thread; false (with errno) when a socket could not
    // be made.
    bool Start();
    // Stops the thread, hangs up on every client and removes the sockets.
    void Stop();

    // The session pipe name of this process: the base name followed by the user id.
    static std::string SessionName();

    // The reply to the two status commands (1 and 12).
    void SetStatus(const StatusReply& status);
    // The exact bytes that answer one command code.
    void SetReply(uint32_t command, std::vector<uint8_t> reply);
    void Misbehave(uint32_t command, Misbehaviour misbehaviour, uint32_t size = 0);

    std::vector<Request> Requests() const;
    // Number of client connections taken so far.
    uint32_t Connections() const;

private:
    struct Fault {
        Misbehaviour kind = Misbehaviour::None;
        uint32_t size = 0;
    };

    bool Listen(const std::string& name);
    void Run();
    // Reads one command of a client and answers it; false when the client is to be dropped.
    bool Serve(int client);
    std::vector<uint8_t> ReplyTo(const Request& request, Fault* fault);

    const std::string m_folder;
    const Names m_names;
    const Listening m_listening;
    std::vector<int> m_listeners;
    std::vector<std::string> m_paths;
    int m_wake = -1;
    std::thread m_thread;

    mutable std::mutex m_lock;
    std::map<uint32_t, std::vector<uint8_t>> m_replies;
    std::map<uint32_t, Fault> m_faults;
    std::vector<Request> m_requests;
    uint32_t m_connections = 0;
};
