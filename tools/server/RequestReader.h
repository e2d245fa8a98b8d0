// Reads the fields of one request payload in order. Every read is checked against the
// payload's length: a read past the end fails and leaves the reader failed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/types.h"
#include "tools/server/ConnectionState.h"

class RequestReader {
public:
    // A request that arrived on a connection: handlers keep in the connection's state what
    // its later requests need.
    RequestReader(const std::vector<BYTE>& payload, ConnectionState& connection);
    // A recorded payload read again, outside its connection.
    explicit RequestReader(const std::vector<BYTE>& payload);

    // The command code, or kNoCode when the payload is shorter than a code.
    static constexpr DWORD kNoCode = 0xFFFFFFFF;
    DWORD Code() const;

    bool ReadU32(DWORD* value);
    bool ReadU64(ULONGLONG* value);
    // A u32 byte count followed by that many bytes.
    bool ReadCountedBytes(std::string* bytes);
    bool ReadBytes(size_t count, std::string* bytes);
    size_t Remaining() const;
    bool Failed() const;
    // The state of the connection the request arrived on; only for a reader made with one.
    ConnectionState& Connection() const;

private:
    const std::vector<BYTE>& m_payload;
    ConnectionState* m_connection;
    size_t m_offset;
    bool m_failed;
};
