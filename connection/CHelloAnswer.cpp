#include "connection/CHelloAnswer.h"

#include <algorithm>
#include <cstring>

namespace {

// Record types from ChangeCipherSpec to application data.
constexpr BYTE kFirstRecordType = 0x14;
constexpr BYTE kLastRecordType = 0x17;
constexpr BYTE kHandshakeRecord = 0x16;
// SSL 3.0 up to TLS 1.2 all write major version 3.
constexpr BYTE kMajorVersion = 3;
constexpr BYTE kLatestMinorVersion = 3;
// The longest record a peer may send: 2^14 bytes and what compression may add.
constexpr DWORD kLongestRecord = 18432;
// The handshake message that ends the server's part of the greeting, with no body.
const BYTE kServerHelloDone[4] = {0x0E, 0x00, 0x00, 0x00};

}  // namespace

DWORD CHelloAnswer::Take(const BYTE* bytes, DWORD count)
{
    DWORD taken = 0;
    while (taken < count && m_state == State::Unfinished) {
        if (m_headerFill < kHeaderLength)
            TakeHeaderByte(bytes[taken++]);
        else
            taken += TakeBody(bytes + taken, count - taken);
    }
    // No greeting: the whole answer is only to be discarded.
    if (m_state == State::NotGreeting)
        taken = count;
    m_length += taken;
    return taken;
}

DWORD CHelloAnswer::Missing() const
{
    return m_headerFill < kHeaderLength ? kHeaderLength - m_headerFill : m_bodyLeft;
}

// Each header byte is judged as it comes, so that an answer cut inside a header is known to
// be no greeting as soon as one of its bytes says so.
void CHelloAnswer::TakeHeaderByte(BYTE byte)
{
    m_header[m_headerFill++] = byte;
    bool plausible = true;
    switch (m_headerFill) {
    case 1:
        plausible = byte >= kFirstRecordType && byte <= kLastRecordType;
        break;
    case 2:
        plausible = byte == kMajorVersion;
        break;
    case 3:
        plausible = byte <= kLatestMinorVersion;
        break;
    case kHeaderLength:
        m_bodyLength = DWORD{m_header[3]} << 8 | m_header[4];
        m_bodyLeft = m_bodyLength;
        plausible = m_bodyLength >= 1 && m_bodyLength <= kLongestRecord;
        break;
    default:
        break;
    }
    if (!plausible)
        m_state = State::NotGreeting;
}

DWORD CHelloAnswer::TakeBody(const BYTE* bytes, DWORD count)
{
    const DWORD piece = std::min(count, m_bodyLeft);
    for (DWORD i = piece > sizeof m_bodyEnd ? piece - sizeof m_bodyEnd : 0; i < piece; ++i) {
        std::memmove(m_bodyEnd, m_bodyEnd + 1, sizeof m_bodyEnd - 1);
        m_bodyEnd[sizeof m_bodyEnd - 1] = bytes[i];
    }
    m_bodyLeft -= piece;
    if (m_bodyLeft == 0)
        EndRecord();
    return piece;
}

// A record of another type than handshake (an alert, say) ends the greeting as well.
void CHelloAnswer::EndRecord()
{
    m_helloDone = m_header[0] == kHandshakeRecord && m_bodyLength >= sizeof kServerHelloDone &&
                  std::memcmp(m_bodyEnd, kServerHelloDone, sizeof kServerHelloDone) == 0;
    if (m_header[0] != kHandshakeRecord || m_helloDone)
        m_state = State::Complete;
    m_headerFill = 0;
    std::memset(m_bodyEnd, 0, sizeof m_bodyEnd);
}
