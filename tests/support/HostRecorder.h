// The host's side of a channel in tests: records every callback event and answers it as the
// test chose (a deciding function, a queue of answers to cancellation polls, or a fixed
// answer per code; 0 otherwise).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "connection/Csocketclient.h"

class HostRecorder {
public:
    struct Event {
        uint32_t code;
        std::string text;
        uint64_t value;
    };

    // Decides the answer to an event; the events before it are in Events().
    std::function<int32_t(const Event&)> decide;

    void Install(Csocketclient& channel);
    void Answer(uint32_t code, int32_t answer) { m_answers[code] = answer; }
    // Answers the next cancellation polls (code 4) in this order.
    void AnswerPolls(std::deque<int32_t> answers) { m_pollAnswers = std::move(answers); }
    void Clear() { m_events.clear(); }

    const std::vector<Event>& Events() const { return m_events; }
    std::vector<Event> Events(uint32_t code) const;
    size_t Count(uint32_t code) const { return Events(code).size(); }
    // The values of the events with this code, in order.
    std::vector<uint64_t> Values(uint32_t code) const;
    // The texts of the log events (code 1), in order.
    std::vector<std::string> Messages() const;
    bool Logged(const std::string& text) const;
    // Whether a log line starts with this text.
    bool LoggedStart(const std::string& start) const;
    // A download's events in order from its first state event: no log lines (1), no sent
    // messages (10), and each run of cancellation polls (4) as one.
    std::vector<uint32_t> DownloadCodes() const;

private:
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value);
    int32_t AnswerTo(const Event& event);

    std::vector<Event> m_events;
    std::map<uint32_t, int32_t> m_answers;
    std::deque<int32_t> m_pollAnswers;
};
