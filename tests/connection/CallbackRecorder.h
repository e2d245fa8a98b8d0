// A host callback for tests: records every event and answers with a chosen value per code.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "connection/Csocketclient.h"
#include "platform/text.h"

class CallbackRecorder {
public:
    struct Event {
        uint32_t code;
        bool hasText;
        std::string text;
        uint64_t value;
    };

    void Install(Csocketclient& channel) { channel.SetCallback(reinterpret_cast<uintptr_t>(this), Callback); }
    void Answer(uint32_t code, int32_t answer) { m_answers[code] = answer; }

    const std::vector<Event>& Events() const { return m_events; }
    size_t Count(uint32_t code) const
    {
        return std::count_if(m_events.begin(), m_events.end(),
                             [&](const Event& event) { return event.code == code; });
    }
    // The texts of the log events (code 1), in order.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> messages;
        for (const Event& event : m_events) {
            if (event.code == 1)
                messages.push_back(event.text);
        }
        return messages;
    }
    bool Logged(const std::string& text) const
    {
        std::vector<std::string> messages = Messages();
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }

private:
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        auto* self = reinterpret_cast<CallbackRecorder*>(context);
        self->m_events.push_back(
            Event{code, text != nullptr, text != nullptr ? Utf16ToUtf8(text) : "", value});
        auto answer = self->m_answers.find(code);
        return answer != self->m_answers.end() ? answer->second : 0;
    }

    std::vector<Event> m_events;
    std::map<uint32_t, int32_t> m_answers;
};
