// The server's answer to the hello of a proxy tunnel, followed as its bytes arrive. Nothing
// is known of that answer for certain: a server that speaks SSL 3 answers with records (a
// type, a version, a 16-bit length, then the body) up to a handshake record that ends in
// ServerHelloDone, but any other answer must be taken too. So the bytes so far are either the
// start of such a greeting, still unfinished, a complete greeting, or no greeting at all.
#pragma once

#include "platform/types.h"

class CHelloAnswer {
public:
    enum class State { Unfinished, Complete, NotGreeting };

    // Follows bytes of the answer: all of them, unless a greeting completes before their end;
    // the bytes after it are left to the caller. Gives how many it took.
    DWORD Take(const BYTE* bytes, DWORD count);

    State GetState() const { return m_state; }
    // Bytes taken so far.
    DWORD Length() const { return m_length; }
    // Whether more of the peer's answer may follow what was taken: it is no greeting, or it
    // ended on another record than the one with ServerHelloDone.
    bool MayGoOn() const
    {
        return m_state == State::NotGreeting || (m_state == State::Complete && !m_helloDone);
    }
    // How many bytes the record (or record header) being read still lacks, so that a reader
    // asks for no byte past the greeting.
    DWORD Missing() const;

private:
    static constexpr DWORD kHeaderLength = 5;

    void TakeHeaderByte(BYTE byte);
    DWORD TakeBody(const BYTE* bytes, DWORD count);
    void EndRecord();

    State m_state = State::Unfinished;
    DWORD m_length = 0;
    BYTE m_header[kHeaderLength] = {};
    DWORD m_headerFill = 0;
    DWORD m_bodyLength = 0;
    DWORD m_bodyLeft = 0;
    bool m_helloDone = false;
    // The last four body bytes of the record being read.
    BYTE m_bodyEnd[4] = {};
};
