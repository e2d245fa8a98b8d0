// A user's channel, opened through the library's exports, to a stand-in server that logs the
// user in and serves files by their five codes; the restore exports looked up by name; a
// recording host callback; and a folder of the test's own that is also the current directory
// (where RestoreFile writes "Log.txt") until the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "HostCallback.h"
#include "connection/CCreatePacket.h"
#include "connection/ChannelProbe.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/Noise.h"
#include "support/TempDir.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/RequestReader.h"

class RestoreFixture : public testing::Test {
public:
    using Codes = DownloadHandlers::FileCodes;
    // The fourth and fifth codes name the temporary file of a hybrid restore.
    static constexpr Codes kCodes{0x0000000100000002ull, 3, 0x123456789ull,
                                  0xFFFFFFFFFFFFFFFFull, 7};
    static constexpr const char* kTemporaryName = "18446744073709551615_7.tmp";
    static constexpr uint32_t kChunk = 0x20000;
    // Host callback events.
    static constexpr uint32_t kMessage = 1;
    static constexpr uint32_t kCancelPoll = 4;
    static constexpr uint32_t kState = 7;
    static constexpr uint32_t kDataSize = 24;
    static constexpr uint32_t kDataDone = 25;

protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        files.Register(server.Server().Commands());
        channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0,
                                      u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
        std::filesystem::create_directory(cwd);
        previousDirectory = std::filesystem::current_path();
        std::filesystem::current_path(cwd);
    }

    void TearDown() override
    {
        if (!previousDirectory.empty())
            std::filesystem::current_path(previousDirectory);
        if (channel != nullptr)
            library.CloseChannel(channel);
    }

    void Serve(const std::string& contents,
               DownloadHandlers::Form form = DownloadHandlers::Form::BySize)
    {
        files.AddFile(kCodes, contents, 0);
        DownloadHandlers::Behaviour behaviour;
        behaviour.form = form;
        files.SetBehaviour(behaviour);
    }

    int32_t RestoreFile(const std::u16string& localPath, const char16_t* text = u"",
                        TransportCallback callback = HostCallback::Function())
    {
        static auto function = EXPORT(RestoreFile);
        return function(channel, Low(0), High(0), Low(1), High(1), Low(2), High(2), Low(3),
                        High(3), Low(4), High(4), localPath.c_str(), 0x11111111, 0x22222222,
                        text, callback);
    }

    int32_t RestoreHybridFile(const std::u16string& folder, const std::u16string& blockFile,
                              const std::u16string& destination,
                              TransportCallback callback = HostCallback::Function())
    {
        static auto function = EXPORT(RestoreHybridFile);
        return function(channel, Low(0), High(0), Low(1), High(1), Low(2), High(2), Low(3),
                        High(3), Low(4), High(4), folder.c_str(), blockFile.c_str(),
                        destination.c_str(), callback);
    }

    // Opens the channel anew with the channel log level that the server's login reply gives,
    // so that the channel's messages reach the host's callback.
    void ReopenChannelWithLogLevel(DWORD level)
    {
        LoginReplyFields fields;
        fields.logLevel = level;
        server.Logins().SetLoginReply(fields);
        library.CloseChannel(channel);
        channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0,
                                      u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
    }
    // Whether a message of the channel that reached the host holds text.
    bool Logged(const std::string& text) const
    {
        for (const HostCallback::Event& event : host.Events()) {
            if (event.code == kMessage && event.text.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    size_t FileRequests() const { return server.RequestCount(CCreatePacket::kGetFile); }
    // Every request that channels sent on the connection they were opened on, once open (an
    // opening ends with the settings request), but their farewells: what restores sent, the
    // echo that tests the connection included. Whatever a restore does starts there.
    size_t RestoreRequests()
    {
        const std::vector<RecordedRequest> requests = server.Server().Log().Requests();
        std::map<size_t, size_t> opened;
        for (size_t i = 0; i < requests.size(); ++i) {
            if (requests[i].code == CCreatePacket::kGetSettings)
                opened.emplace(requests[i].connection, i);
        }
        size_t count = 0;
        for (size_t i = 0; i < requests.size(); ++i) {
            const auto opening = opened.find(requests[i].connection);
            count += opening != opened.end() && i > opening->second &&
                     requests[i].code != CCreatePacket::kDisconnect;
        }
        return count;
    }
    // A channel whose waits end after timeout: the channel is made to connect anew (the
    // server drops the connection at an echo), so that its socket's own limits come from
    // timeout too.
    void ShortenWaits(ULONGLONG timeout)
    {
        ChannelProbe(*channel).SetWaitTimeout(timeout);
        server.Server().SetFault(ServerFault{FaultKind::CloseMidMessage, CCreatePacket::kEchoTest});
        char dataServer[KELVANE_DATA_SERVER_SIZE] = {};
        uint32_t maintenance = 0;
        ASSERT_TRUE(library.VerifyServer(channel, dataServer, &maintenance));
        server.Server().SetFault(ServerFault{});
    }
    // A server that has stopped answering the echo that tests the connection, and a channel
    // whose waits end after timeout.
    void StopAnsweringEchoes(ULONGLONG timeout)
    {
        ShortenWaits(timeout);
        server.Server().SetFault(ServerFault{FaultKind::NoAnswer, CCreatePacket::kEchoTest});
    }
    std::vector<DWORD> RemovalReasons()
    {
        std::vector<DWORD> reasons;
        for (const auto& request :
             server.Server().Log().Requests(CCreatePacket::kRemoveCacheFile)) {
            RequestReader reader(request.payload);
            std::string name;
            DWORD reason = 0;
            reader.ReadCountedBytes(&name);
            reader.ReadU32(&reason);
            reasons.push_back(reason);
        }
        return reasons;
    }

    static std::string Read(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool Exists(const std::filesystem::path& path) { return std::filesystem::exists(path); }

    static DWORD Low(size_t index) { return static_cast<DWORD>(kCodes[index]); }
    static DWORD High(size_t index) { return static_cast<DWORD>(kCodes[index] >> 32); }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    TempDir dir;
    std::filesystem::path cwd = dir.path() / "cwd";
    std::filesystem::path previousDirectory;
    HostCallback host;
    // Outlives the server's connections.
    DownloadHandlers files;
    LoginServer server;
    Csocketclient* channel = nullptr;
    uint32_t flags = 0;
};
