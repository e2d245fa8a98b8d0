// The reference side of the download benchmark: a plain client of the server's framed protocol
// written straight on POSIX sockets, with nothing of the library but its CRC-32 (the fastest
// one at hand, so that checking frames never limits what is measured). A frame is a u32
// cbData (payload length + 4), the u32 CRC-32 of the payload, then the payload; all integers
// are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class FrameClient {
public:
    using Codes = std::array<uint64_t, 5>;
    static constexpr uint32_t kChunk = 0x20000;

    // How a receive waits for data that has not come yet.
    enum class Waiting {
        // Asleep in the kernel, like the library.
        Sleep,
        // Trying again without sleeping for a while first: a reader that only checks frames
        // and should not add the wake-up of a sleeping thread to every exchange.
        Spin,
    };

    explicit FrameClient(Waiting waiting = Waiting::Sleep) : m_waiting(waiting) {}
    ~FrameClient();
    FrameClient(const FrameClient&) = delete;
    FrameClient& operator=(const FrameClient&) = delete;

    bool Connect(const std::string& address, uint16_t port);

    // Fetches a file that the server offers as a cached transfer, 128 KiB per request, checking
    // every frame, appends each chunk to the file at path and flushes the file to its disk at
    // the end (no path: the chunks are only checked). Gives the bytes received, or -1 on any
    // failure.
    int64_t FetchCached(const Codes& codes, const char* path);
    // Asks for a file that the server answers with one compressed reply and gives its zlib
    // stream; empty on failure.
    std::string FetchCompressed(const Codes& codes);

    // Sends one request payload as it stands and receives the reply, whose payload *reply
    // shows until the next exchange; false when either fails or the reply's CRC is wrong.
    bool Ask(const std::vector<uint8_t>& request, std::span<const uint8_t>* reply);

private:
    bool SendFrame(const std::vector<uint8_t>& payload);
    // Makes m_payload the payload of the next frame; false when the frame is broken.
    bool ReceiveFrame();
    // Receives until the inbox holds at least length bytes, taking whatever more has come.
    bool Fill(size_t length);
    bool SendAll(const void* bytes, size_t length);
    // Sends a request and waits for its reply; gives the reply's first word, or 0 on failure.
    uint32_t Exchange(const std::vector<uint8_t>& request);
    bool AnnounceFile(const Codes& codes);

    Waiting m_waiting;
    int m_socket = -1;
    // Received bytes: the current frame (m_frameLength bytes), then what followed it.
    std::vector<uint8_t> m_inbox;
    size_t m_filled = 0;
    size_t m_frameLength = 0;
    const uint8_t* m_payload = nullptr;
    size_t m_payloadLength = 0;
};
