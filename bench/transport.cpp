// The channel's framed transfers against plain TCP on loopback, side by side:
//   round trip of a 16-byte payload (SendMsg + ReceiveMsg) against a plain ping-pong of the
//   same frame bytes, and 64 MiB payloads through ReceiveMsg against plain recv of the
//   same bytes. The ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "connection/Csocketclient.h"
#include "platform/winsock.h"

namespace {

constexpr DWORD kSmallPayload = 16;
constexpr DWORD kFrameHeader = 8;
constexpr DWORD kLargePayload = 64u << 20;

bool SendAll(SOCKET socket, const char* bytes, size_t length)
{
    while (length > 0) {
        int sent = send(socket, bytes, static_cast<int>(std::min<size_t>(length, 1u << 30)), 0);
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(SOCKET socket, char* bytes, size_t length)
{
    while (length > 0) {
        int received = recv(socket, bytes, static_cast<int>(std::min<size_t>(length, 1u << 30)), 0);
        if (received <= 0)
            return false;
        bytes += received;
        length -= static_cast<size_t>(received);
    }
    return true;
}

std::vector<char> Frame(DWORD payloadLength)
{
    std::vector<char> frame(kFrameHeader + payloadLength);
    for (DWORD i = 0; i < payloadLength; ++i)
        frame[kFrameHeader + i] = static_cast<char>(i * 7 + (i >> 12));
    DWORD cbData = payloadLength + 4;
    DWORD crc = 0;
    Cutil::Crc32(frame.data() + kFrameHeader, payloadLength, &crc, 1);
    std::memcpy(frame.data(), &cbData, 4);
    std::memcpy(frame.data() + 4, &crc, 4);
    return frame;
}

// A peer on 127.0.0.1 for one client: either echoes blocks of a fixed size, or sends one
// frame over and over until the client goes.
class Peer {
public:
    enum class Mode { Echo, Stream };

    Peer(Mode mode, std::vector<char> bytes) : m_mode(mode), m_bytes(std::move(bytes))
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN address{};
        address.sin_family = AF_INET;
        address.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
        int length = sizeof address;
        bind(m_listener, reinterpret_cast<SOCKADDR*>(&address), sizeof address);
        listen(m_listener, 1);
        getsockname(m_listener, reinterpret_cast<SOCKADDR*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread(&Peer::Serve, this);
    }

    ~Peer()
    {
        m_thread.join();
        closesocket(m_listener);
    }

    DWORD Port() const { return m_port; }

    // A plain client socket connected to the peer.
    SOCKET ConnectPlain() const
    {
        SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(m_port));
        address.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
        connect(client, reinterpret_cast<SOCKADDR*>(&address), sizeof address);
        return client;
    }

private:
    void Serve()
    {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (m_mode == Mode::Echo) {
            std::vector<char> block(m_bytes.size());
            while (ReceiveAll(client, block.data(), block.size()) &&
                   SendAll(client, block.data(), block.size())) {
            }
        } else {
            while (SendAll(client, m_bytes.data(), m_bytes.size())) {
            }
        }
        closesocket(client);
    }

    Mode m_mode;
    std::vector<char> m_bytes;
    SOCKET m_listener;
    DWORD m_port;
    std::thread m_thread;
};

// A channel connected to a peer without the command-index exchange, with the pauses of
// the opening exports (none).
void ConnectChannel(Csocketclient& channel, DWORD port)
{
    channel.SetServer(u"127.0.0.1", port);
    channel.SetSendSleep(0);
    channel.SetRecvSleep(0);
    WCHAR errText[CTransportSocket::kErrorTextCapacity];
    if (!channel.SocketConnect(errText))
        std::fprintf(stderr, "connect failed\n");
}

void CloseAbortively(SOCKET socket)
{
    LINGER linger{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger);
    closesocket(socket);
}

void PlainRoundTrip(benchmark::State& state)
{
    std::vector<char> frame = Frame(kSmallPayload);
    Peer peer(Peer::Mode::Echo, frame);
    SOCKET client = peer.ConnectPlain();
    std::vector<char> reply(frame.size());
    for (auto _ : state) {
        if (!SendAll(client, frame.data(), frame.size()) ||
            !ReceiveAll(client, reply.data(), reply.size()))
            state.SkipWithError("plain exchange failed");
    }
    closesocket(client);
}

void ChannelRoundTrip(benchmark::State& state)
{
    std::vector<char> frame = Frame(kSmallPayload);
    Peer peer(Peer::Mode::Echo, frame);
    Csocketclient channel;
    ConnectChannel(channel, peer.Port());
    for (auto _ : state) {
        void* reply = nullptr;
        if (!channel.SendMsg(frame.data() + kFrameHeader, kSmallPayload, nullptr) ||
            channel.ReceiveMsg(&reply) != kSmallPayload)
            state.SkipWithError("channel exchange failed");
        Cutil::FreePacket(reply);
    }
    channel.CloseSocket(1);
}

void PlainReceive64MiB(benchmark::State& state)
{
    Peer peer(Peer::Mode::Stream, Frame(kLargePayload));
    SOCKET client = peer.ConnectPlain();
    std::vector<char> buffer(kFrameHeader + kLargePayload);
    for (auto _ : state) {
        if (!ReceiveAll(client, buffer.data(), buffer.size()))
            state.SkipWithError("plain receive failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLargePayload);
    CloseAbortively(client);
}

void ChannelReceive64MiB(benchmark::State& state)
{
    Peer peer(Peer::Mode::Stream, Frame(kLargePayload));
    Csocketclient channel;
    ConnectChannel(channel, peer.Port());
    for (auto _ : state) {
        void* payload = nullptr;
        if (channel.ReceiveMsg(&payload) != kLargePayload)
            state.SkipWithError("channel receive failed");
        Cutil::FreePacket(payload);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLargePayload);
    channel.CloseSocket(1);
}

BENCHMARK(PlainRoundTrip)->UseRealTime();
BENCHMARK(ChannelRoundTrip)->UseRealTime();
BENCHMARK(PlainReceive64MiB)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ChannelReceive64MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps the real time per iteration of each benchmark (the median when repeated) for the
// ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median)
                continue;
            m_seconds[run.run_name.function_name] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void PrintRatios() const
    {
        auto time = [this](const char* name) {
            auto found = m_seconds.find(name);
            return found != m_seconds.end() ? found->second : 0.0;
        };
        if (time("ChannelRoundTrip") > 0 && time("PlainRoundTrip") > 0)
            std::printf("\nround trip, channel / plain: %.2fx (target at most 1.5x)\n",
                        time("ChannelRoundTrip") / time("PlainRoundTrip"));
        if (time("PlainReceive64MiB") > 0 && time("ChannelReceive64MiB") > 0)
            std::printf("64 MiB receive throughput, channel / plain: %.2fx (target at least 0.7x)\n",
                        time("PlainReceive64MiB") / time("ChannelReceive64MiB"));
    }

private:
    std::map<std::string, double> m_seconds;
};

}

int main(int argc, char** argv)
{
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
