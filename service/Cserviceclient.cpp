#include "service/Cserviceclient.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/module.h"
#include "platform/pipe.h"
#include "platform/text.h"
#include "util/Cutil.h"
#include "util/LittleEndian.h"

namespace {

constexpr DWORD kOpenPause = 100;
constexpr DWORD kReplyPause = 1;
// Room for the base name and a session id in decimal.
constexpr int32_t kFullNameCapacity = Cserviceclient::kPipeNameCapacity + 16;

}  // namespace

Cserviceclient::Cserviceclient() : m_pipe(INVALID_HANDLE_VALUE), m_connected(0)
{
    lstrcpynW(m_serverPipeName, u"\\\\.\\Pipe\\RidOVOdozer", kPipeNameCapacity);
}

Cserviceclient::~Cserviceclient()
{
    Close();
}

uint32_t Cserviceclient::Connect(int32_t maxTries)
{
    if (m_connected != 0)
        return 1;
    int32_t tries = 0;
    for (;;) {
        if (maxTries > 0 && ++tries > maxTries)
            return 0;
        Sleep(kOpenPause);
        uint32_t session = 0;
        if (!Cutil::GetProcessSessionId(GetCurrentProcessId(), &session))
            session = 0;
        WCHAR name[kFullNameCapacity];
        FormatW(name, kFullNameCapacity, u"%s%d", m_serverPipeName, session);
        if (Open(name))
            return 1;
        Sleep(kOpenPause);
        if (Open(m_serverPipeName))
            return 1;
    }
}

bool Cserviceclient::Open(const WCHAR* name)
{
    m_pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    if (m_pipe == INVALID_HANDLE_VALUE)
        return false;
    m_connected = 1;
    return true;
}

uint32_t Cserviceclient::SendCommand(uint32_t command, void* replyBuffer, uint32_t* replyLength,
                                     uint32_t bufferSize)
{
    *replyLength = 0;
    // Transact would allocate a buffer for a null pointer into this frame's copy of it, where
    // nobody could release it.
    if (replyBuffer == nullptr)
        return 0;
    uint8_t header[kHeaderLength] = {};
    StoreLittleEndian32(header, 1);
    StoreLittleEndian32(header + 12, kHeaderLength);
    StoreLittleEndian32(header + 20, command);
    uint32_t crc = 0;
    Cutil::Crc32(header + 20, 4, &crc, 1);
    StoreLittleEndian32(header + 16, crc);
    return Transact(header, kHeaderLength, &replyBuffer, replyLength, bufferSize);
}

uint32_t Cserviceclient::Transact(const void* request, uint32_t requestLength, void** replyBuffer,
                                  uint32_t* replyLength, uint32_t bufferSize)
{
    if (m_connected == 0)
        return 0;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(m_pipe, &mode, nullptr, nullptr)) {
        Fail("SetNamedPipeHandleState failed");
        return 0;
    }
    *replyLength = 0;
    DWORD written = 0;
    if (!WriteFile(m_pipe, request, requestLength, &written, nullptr)) {
        Fail("WriteFile failed");
        return 0;
    }
    uint32_t spaceLeft = bufferSize;
    for (;;) {
        if (*replyLength == 0 && *replyBuffer == nullptr) {
            *replyBuffer = g_util.AllocateMemory(kOwnBufferSize);
            spaceLeft = kOwnBufferSpace;
            if (*replyBuffer == nullptr)
                break;
        }
        DWORD read = 0;
        BOOL ok = ReadFile(m_pipe, static_cast<uint8_t*>(*replyBuffer) + *replyLength, spaceLeft,
                           &read, nullptr);
        *replyLength += read;
        spaceLeft -= read;
        if (ok) {
            Sleep(kReplyPause);
            return 1;
        }
        if (GetLastError() != ERROR_MORE_DATA)
            break;
        if (spaceLeft == 0) {
            // The message goes on past the buffer: refuse it whole rather than keep a part
            // that a caller could take for the service's answer.
            std::memset(*replyBuffer, 0, *replyLength);
            *replyLength = 0;
            break;
        }
    }
    Fail("ReadFile failed");
    return 0;
}

void Cserviceclient::Fail(const char* text)
{
    Close();
    std::fputs(text, stdout);
}

void Cserviceclient::Close()
{
    if (m_pipe != INVALID_HANDLE_VALUE)
        CloseHandle(m_pipe);
    m_connected = 0;
    m_pipe = INVALID_HANDLE_VALUE;
}
