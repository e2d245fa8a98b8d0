#include "support/LoopbackServer.h"

#include <atomic>
#include <unistd.h>

std::string NextLoopbackAddress()
{
    static std::atomic<unsigned> counter{0};
    // 127.0.0.0/16 is left to fixed addresses; the rest is spread over pid and counter.
    unsigned value = static_cast<unsigned>(getpid()) * 64 + counter++ % 64;
    unsigned last = 1 + value % 254;
    value /= 254;
    unsigned third = value % 256;
    value /= 256;
    unsigned second = 1 + value % 254;
    return "127." + std::to_string(second) + "." + std::to_string(third) + "." +
           std::to_string(last);
}

std::unique_ptr<StandinServer> StartLoopbackServer(DWORD port)
{
    for (int attempt = 0; attempt < 32; ++attempt) {
        auto server = std::make_unique<StandinServer>(NextLoopbackAddress(), port);
        if (server->Start())
            return server;
        if (WSAGetLastError() != WSAEADDRINUSE)
            return nullptr;
    }
    return nullptr;
}

void AnswerWithBytes(StandinServer& server, DWORD code, const std::vector<BYTE>& bytes)
{
    server.Commands().Set(code, [bytes](RequestReader&, ReplyWriter& reply, ServerModel&) {
        reply.PutBytes(bytes.data(), bytes.size());
    });
}
