// How the stand-in server answers the hello of a tunnelled connection: chosen bytes in
// chosen segments, each sent after a chosen pause, so that clients can meet an answer of any
// shape. By default one handshake record that ends an SSL 3 greeting, sent at once.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

class HelloAnswer {
public:
    struct Segment {
        // Milliseconds to wait before the segment is sent.
        DWORD pause = 0;
        std::vector<BYTE> bytes;
    };

    HelloAnswer();
    explicit HelloAnswer(std::vector<Segment> segments) : m_segments(std::move(segments)) {}

    // Reads a script of comma-separated items: hexadecimal digits are the bytes of a segment,
    // "+N" a pause of N milliseconds before the next one ("1603,+200,0000040E000000"). An
    // empty script answers nothing. False, with answer untouched, for a malformed script.
    static bool Parse(const std::string& script, HelloAnswer* answer);

    const std::vector<Segment>& Segments() const { return m_segments; }

private:
    std::vector<Segment> m_segments;
};
