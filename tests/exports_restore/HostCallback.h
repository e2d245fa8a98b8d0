// The host's callback in the restore tests. The restore exports install the callback with
// context 0, so the events go to the one recorder that is listening, on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelvane.h"
#include "platform/text.h"

class HostCallback {
public:
    struct Event {
        uint64_t context;
        uint32_t code;
        std::string text;
        uint64_t value;
    };

    // Decides the answer to an event (0 unless told otherwise).
    std::function<int32_t(const Event&)> decide;

    HostCallback() { s_listening = this; }
    ~HostCallback() { s_listening = nullptr; }
    HostCallback(const HostCallback&) = delete;
    HostCallback& operator=(const HostCallback&) = delete;

    static TransportCallback Function() { return &Callback; }

    const std::vector<Event>& Events() const { return m_events; }
    std::vector<uint64_t> Values(uint32_t code) const
    {
        std::vector<uint64_t> values;
        for (const Event& event : m_events) {
            if (event.code == code)
                values.push_back(event.value);
        }
        return values;
    }
    size_t Seen(uint32_t code) const { return Values(code).size(); }
    void Clear() { m_events.clear(); }

private:
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        HostCallback* self = s_listening;
        if (self == nullptr)
            return 0;
        Event event{context, code, text != nullptr ? Utf16ToUtf8(text) : "", value};
        self->m_events.push_back(event);
        return self->decide ? self->decide(event) : 0;
    }

    static inline HostCallback* s_listening = nullptr;
    std::vector<Event> m_events;
};
