// One client connection of the stand-in server: tells a tunnelled connection (which starts
// with the 79-byte hello record) from a direct one (which starts with a frame), answers the
// hello, then reads request frames, records them, dispatches them and writes the replies,
// applying the server's fault when one is set.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/winsock.h"
#include "tools/server/CommandTable.h"
#include "tools/server/HelloAnswer.h"
#include "tools/server/ConnectionState.h"
#include "tools/server/RequestLog.h"
#include "tools/server/ServerFaults.h"
#include "tools/server/ServerModel.h"

class ServerConnection {
public:
    // The largest request payload the server takes.
    static constexpr DWORD kMaximumPayload = 256u << 20;

    ServerConnection(SOCKET socket, size_t id, const CommandTable& commands, ServerModel& model,
                     RequestLog& log, const ServerFaults& faults, HelloAnswer helloAnswer);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Serves the connection until the client leaves, a request ends it or Stop is called.
    void Run();
    // Wakes a running Run and makes it end; safe from another thread.
    void Stop();
    // The connection is closed: Run is returning, and its thread can be joined at once.
    bool Closed();

private:
    bool ReadExact(void* buffer, size_t length);
    // One little-endian frame word.
    bool ReadWord(DWORD* word);
    // Sends the bytes, then those of body, with no copy of them into one frame.
    bool SendAll(const void* buffer, size_t length, const void* body = nullptr,
                 size_t bodyLength = 0);
    bool AnswerHello(const BYTE* firstBytes);
    // Waits, unless Stop is called first; false when it was.
    bool Pause(DWORD milliseconds);
    // Reads the rest of a frame whose first word is cbData; false ends the connection.
    bool ServeFrame(DWORD cbData);
    bool SendReply(DWORD code, const std::vector<BYTE>& payload);
    void Close();

    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    SOCKET m_socket;
    size_t m_id;
    bool m_tunnelled;
    const CommandTable& m_commands;
    ServerModel& m_model;
    RequestLog& m_log;
    const ServerFaults& m_faults;
    const HelloAnswer m_helloAnswer;
    ConnectionState m_state;
};
