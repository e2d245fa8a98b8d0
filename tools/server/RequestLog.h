// Everything the stand-in server received, in arrival order, so that tests can check the
// bytes a client sent: the hello records of tunnelled connections and every request frame.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/types.h"

struct RecordedRequest {
    size_t connection;
    bool tunnelled;
    // The frame's header words as received.
    DWORD cbData;
    DWORD crcPacket;
    bool crcValid;
    DWORD code;
    std::vector<BYTE> payload;
};

struct RecordedHello {
    size_t connection;
    std::vector<BYTE> bytes;
};

class RequestLog {
public:
    void AddConnection();
    void AddHello(const RecordedHello& hello);
    void AddRequest(const RecordedRequest& request);

    size_t ConnectionCount() const;
    std::vector<RecordedHello> Hellos() const;
    std::vector<RecordedRequest> Requests() const;
    // The requests with this command code.
    std::vector<RecordedRequest> Requests(DWORD code) const;
    // Waits until count requests with this code have arrived; false after the time-out.
    bool WaitForRequests(DWORD code, size_t count, std::chrono::milliseconds timeout) const;

private:
    size_t CountLocked(DWORD code) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    size_t m_connections = 0;
    std::vector<RecordedHello> m_hellos;
    std::vector<RecordedRequest> m_requests;
};
