#include "tools/server/HelloAnswer.h"

#include <cctype>
#include <cstdlib>

namespace {

// A handshake record of SSL 3.0 holding ServerHelloDone alone.
const std::vector<BYTE> kGreetingEnd = {0x16, 0x03, 0x00, 0x00, 0x04, 0x0E, 0x00, 0x00, 0x00};

bool ParseHexBytes(const std::string& digits, std::vector<BYTE>* bytes)
{
    if (digits.empty() || digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[i + 1])))
            return false;
        bytes->push_back(static_cast<BYTE>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    }
    return true;
}

bool ParsePause(const std::string& item, DWORD* pause)
{
    if (item.size() < 2 || item.size() > 7 ||
        item.find_first_not_of("0123456789", 1) != std::string::npos)
        return false;
    *pause += static_cast<DWORD>(std::strtoul(item.c_str() + 1, nullptr, 10));
    return true;
}

}  // namespace

HelloAnswer::HelloAnswer() : m_segments{{0, kGreetingEnd}} {}

bool HelloAnswer::Parse(const std::string& script, HelloAnswer* answer)
{
    std::vector<Segment> segments;
    DWORD pause = 0;
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find(',', start);
        if (end == std::string::npos)
            end = script.size();
        const std::string item = script.substr(start, end - start);
        if (item[0] == '+') {
            if (!ParsePause(item, &pause))
                return false;
        } else {
            Segment segment{pause, {}};
            if (!ParseHexBytes(item, &segment.bytes))
                return false;
            segments.push_back(std::move(segment));
            pause = 0;
        }
        start = end + 1;
    }
    *answer = HelloAnswer(std::move(segments));
    return true;
}
