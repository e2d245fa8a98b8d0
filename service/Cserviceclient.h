// The client end of the local backup service's named pipe. A service call opens the pipe,
// sends one or two fixed 24-byte commands, reads each reply as one pipe message and closes
// the pipe again; no connection outlives the call that opened it.
#pragma once

#include <cstdint>

#include "platform/types.h"

class Cserviceclient {
public:
    // Command codes of the service.
    static constexpr uint32_t COMMAND_STATUS = 1;
    static constexpr uint32_t COMMAND_REGISTRY_UPDATE = 2;
    static constexpr uint32_t COMMAND_SHUTDOWN = 6;
    static constexpr uint32_t COMMAND_BACKUP_NOW = 7;
    static constexpr uint32_t COMMAND_NEED_USER_CANCEL = 9;
    static constexpr uint32_t COMMAND_CIPHER = 11;
    static constexpr uint32_t COMMAND_STATUS_FIRSTCALL = 12;
    static constexpr uint32_t COMMAND_SCHEDULED_SELECTIONS = 24;

    static constexpr uint32_t kHeaderLength = 24;
    static constexpr int32_t kPipeNameCapacity = 1024;
    // What Transact allocates when the caller gives no buffer, and how much of it a reply
    // may fill.
    static constexpr uint32_t kOwnBufferSize = 0xA00000;
    static constexpr uint32_t kOwnBufferSpace = 0x9FFC00;

    Cserviceclient();
    ~Cserviceclient();
    Cserviceclient(const Cserviceclient&) = delete;
    Cserviceclient& operator=(const Cserviceclient&) = delete;

    // Opens the service's pipe: under the name followed by this process's session id, else
    // under the plain name; 100 ms pass before each of the two opens of a try. 1 when open,
    // 0 when maxTries tries failed (0 or below tries without limit).
    uint32_t Connect(int32_t maxTries);

    // Sends one command and reads its reply into the caller's buffer of bufferSize bytes.
    // 1 when the command was written and a whole reply read; *replyLength is the reply's
    // length (0 after a failure before the read). A null buffer is refused.
    uint32_t SendCommand(uint32_t command, void* replyBuffer, uint32_t* replyLength,
                         uint32_t bufferSize);

    // One write of the request and one message read. When *replyBuffer is null a buffer of
    // kOwnBufferSize bytes is allocated for the reply and stored there; the caller releases
    // it with Cutil::FreePacket. Any failure after the first step closes the pipe. A reply
    // that does not fit the buffer is refused as a failed read: *replyLength is 0 and the
    // bytes it left in the buffer are cleared again.
    uint32_t Transact(const void* request, uint32_t requestLength, void** replyBuffer,
                      uint32_t* replyLength, uint32_t bufferSize);

    // Closes the pipe when open; harmless when closed.
    void Close();

private:
    // Opens one name; true (and connected) when the pipe opened.
    bool Open(const WCHAR* name);
    // Closes the pipe after a failed exchange and prints why.
    void Fail(const char* text);

    HANDLE m_pipe;
    uint32_t m_connected;
    WCHAR m_serverPipeName[kPipeNameCapacity];
};
