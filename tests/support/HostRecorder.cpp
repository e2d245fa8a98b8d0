#include "support/HostRecorder.h"

#include <algorithm>

#include "platform/text.h"

void HostRecorder::Install(Csocketclient& channel)
{
    channel.SetCallback(reinterpret_cast<uintptr_t>(this), Callback);
}

std::vector<HostRecorder::Event> HostRecorder::Events(uint32_t code) const
{
    std::vector<Event> found;
    std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(found),
                 [code](const Event& event) { return event.code == code; });
    return found;
}

std::vector<uint64_t> HostRecorder::Values(uint32_t code) const
{
    std::vector<uint64_t> values;
    for (const Event& event : Events(code))
        values.push_back(event.value);
    return values;
}

std::vector<std::string> HostRecorder::Messages() const
{
    std::vector<std::string> messages;
    for (const Event& event : Events(1))
        messages.push_back(event.text);
    return messages;
}

bool HostRecorder::Logged(const std::string& text) const
{
    std::vector<std::string> messages = Messages();
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

bool HostRecorder::LoggedStart(const std::string& start) const
{
    std::vector<std::string> messages = Messages();
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& text) { return text.rfind(start, 0) == 0; });
}

std::vector<uint32_t> HostRecorder::DownloadCodes() const
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

int32_t HostRecorder::Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
{
    auto* self = reinterpret_cast<HostRecorder*>(context);
    Event event{code, text != nullptr ? Utf16ToUtf8(text) : "", value};
    int32_t answer = self->AnswerTo(event);
    self->m_events.push_back(event);
    return answer;
}

int32_t HostRecorder::AnswerTo(const Event& event)
{
    if (decide)
        return decide(event);
    if (event.code == 4 && !m_pollAnswers.empty()) {
        int32_t answer = m_pollAnswers.front();
        m_pollAnswers.pop_front();
        return answer;
    }
    auto answer = m_answers.find(event.code);
    return answer != m_answers.end() ? answer->second : 0;
}
