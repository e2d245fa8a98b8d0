#include "tools/server/RequestLog.h"

void RequestLog::AddConnection()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_connections;
    m_changed.notify_all();
}

void RequestLog::AddHello(const RecordedHello& hello)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hellos.push_back(hello);
    m_changed.notify_all();
}

void RequestLog::AddRequest(const RecordedRequest& request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    m_changed.notify_all();
}

size_t RequestLog::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

std::vector<RecordedHello> RequestLog::Hellos() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hellos;
}

std::vector<RecordedRequest> RequestLog::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<RecordedRequest> RequestLog::Requests(DWORD code) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : m_requests) {
        if (request.code == code)
            matching.push_back(request);
    }
    return matching;
}

bool RequestLog::WaitForRequests(DWORD code, size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return CountLocked(code) >= count; });
}

size_t RequestLog::CountLocked(DWORD code) const
{
    size_t count = 0;
    for (const RecordedRequest& request : m_requests)
        count += request.code == code;
    return count;
}
