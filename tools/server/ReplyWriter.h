// Builds one reply payload field by field (little-endian, no padding), or marks that the
// request gets no reply or ends the connection.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

class ReplyWriter {
public:
    ReplyWriter();

    void PutU16(WORD value);
    void PutU32(DWORD value);
    void PutU64(ULONGLONG value);
    void PutBytes(const void* bytes, size_t count);
    // A u32 byte count followed by the bytes.
    void PutCountedBytes(const std::string& bytes);
    // The request is answered by nothing at all.
    void NoReply();
    // The connection ends after this request (and its reply, if any).
    void CloseConnection();

    const std::vector<BYTE>& Payload() const;
    bool HasReply() const;
    bool ClosesConnection() const;

private:
    std::vector<BYTE> m_payload;
    bool m_reply;
    bool m_close;
};
