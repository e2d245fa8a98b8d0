// The host's side of a download in tests: records every callback event and answers each
// with what the test decides (0 unless told otherwise).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "connection/Csocketclient.h"
#include "platform/text.h"

class HostRecorder {
public:
    struct Event {
        uint32_t code;
        bool hasText;
        std::string text;
        uint64_t value;
    };

    // Decides the answer to an event; the events before it are in Events().
    std::function<int32_t(const Event&)> decide;

    void Install(Csocketclient& channel)
    {
        channel.SetCallback(reinterpret_cast<uintptr_t>(this), Callback);
    }

    const std::vector<Event>& Events() const { return m_events; }
    std::vector<Event> Events(uint32_t code) const
    {
        std::vector<Event> found;
        for (const Event& event : m_events) {
            if (event.code == code)
                found.push_back(event);
        }
        return found;
    }
    // The values of the events with this code, in order.
    std::vector<uint64_t> Values(uint32_t code) const
    {
        std::vector<uint64_t> values;
        for (const Event& event : Events(code))
            values.push_back(event.value);
        return values;
    }
    // The download's events in order from its first state event: no log lines (1), no sent
    // messages (10), and each run of cancellation polls (4) as one.
    std::vector<uint32_t> DownloadCodes() const
    {
        std::vector<uint32_t> codes;
        for (const Event& event : m_events) {
            if (codes.empty() && event.code != 7)
                continue;
            if (event.code == 1 || event.code == 10 || (event.code == 4 && codes.back() == 4))
                continue;
            codes.push_back(event.code);
        }
        return codes;
    }
    bool Logged(const std::string& text) const
    {
        for (const Event& event : Events(1)) {
            if (event.text == text)
                return true;
        }
        return false;
    }
    // Whether a log line starts with this text.
    bool LoggedStart(const std::string& start) const
    {
        for (const Event& event : Events(1)) {
            if (event.text.rfind(start, 0) == 0)
                return true;
        }
        return false;
    }
    size_t Seen(uint32_t code) const { return Events(code).size(); }

private:
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        auto* self = reinterpret_cast<HostRecorder*>(context);
        Event event{code, text != nullptr, text != nullptr ? Utf16ToUtf8(text) : "", value};
        int32_t answer = self->decide ? self->decide(event) : 0;
        self->m_events.push_back(event);
        return answer;
    }

    std::vector<Event> m_events;
};
