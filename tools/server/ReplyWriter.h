// Builds one reply payload field by field (little-endian, no padding), or marks that the
// request gets no reply or ends the connection.
//
// A connection's thread builds one reply after another: each writer takes over the memory its
// thread's last writer left behind, so that a run of large replies (file chunks) reuses warm
// memory instead of faulting in fresh pages for every one.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

class ReplyWriter {
public:
    ReplyWriter();
    ~ReplyWriter();
    ReplyWriter(const ReplyWriter&) = delete;
    ReplyWriter& operator=(const ReplyWriter&) = delete;

    void PutU16(WORD value);
    void PutU32(DWORD value);
    void PutU64(ULONGLONG value);
    void PutBytes(const void* bytes, size_t count);
    // A u32 byte count followed by the bytes.
    void PutCountedBytes(const std::string& bytes);
    // Appends count bytes for the caller to fill and gives where they start.
    BYTE* Extend(size_t count);
    // Makes room for count more bytes at once.
    void Reserve(size_t count);
    // Drops what was written so far.
    void Clear();
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
