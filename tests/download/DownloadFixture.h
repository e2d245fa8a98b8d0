// A stand-in server that logs users in and serves files, a channel to it with the settings
// that the restore exports give (128 KiB chunks, automatic session) and a recording host.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "DownloadProbe.h"
#include "platform/text.h"
#include "support/LoopbackChannel.h"
#include "support/Noise.h"
#include "support/TempDir.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/LoginService.h"

class DownloadFixture : public LoopbackChannel {
public:
    static constexpr DWORD kChunk = 0x20000;
    static constexpr DWORD kFileTime = 1300000000;
    static constexpr DownloadHandlers::FileCodes kCodes{7, 0x100000002ull, 3, 0xFFFFFFFFFFFFFFFFull,
                                                        5};

protected:
    void SetUp() override
    {
        LoopbackChannel::SetUp();
        if (HasFatalFailure())
            return;
        logins.Register(server->Commands());
        logins.AddUser("ab", "p");
        LoginReplyFields fields;
        fields.logLevel = 30;
        logins.SetLoginReply(fields);
        files.Register(server->Commands());
        channel.SetUserCredentials(u"ab", u"p");
        channel.SetAutoSession(1);
        channel.SetGetPacketSize(kChunk);
        host.Install(channel);
        target = dir.file("restored.bin");
    }

    void Serve(const std::string& contents, DownloadHandlers::Form form)
    {
        files.AddFile(kCodes, contents, kFileTime);
        DownloadHandlers::Behaviour behaviour;
        behaviour.form = form;
        files.SetBehaviour(behaviour);
    }

    // RequestFile for kCodes into path (final path finalPath, the target by default).
    INT Restore(const std::u16string& path, const std::u16string& finalPath,
                const Csocketclient::Preparation& preparation = {})
    {
        return channel.RequestFile(Low(kCodes[0]), High(kCodes[0]), Low(kCodes[1]), High(kCodes[1]),
                                   Low(kCodes[2]), High(kCodes[2]), Low(kCodes[3]), High(kCodes[3]),
                                   Low(kCodes[4]), High(kCodes[4]), path.c_str(), finalPath.c_str(),
                                   0, &word, &done, &fileTime, preparation);
    }
    INT Restore() { return Restore(target, target); }

    static std::string ReadFile(const std::u16string& path)
    {
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool Exists(const std::u16string& path)
    {
        return std::filesystem::exists(std::filesystem::path(path));
    }
    // The cache file removals that reached the server, in order.
    struct Removal {
        std::string cacheName;
        DWORD reason = 0;
        DWORD flag = 0;
    };
    std::vector<Removal> Removals() const
    {
        std::vector<Removal> removals;
        for (const auto& request : server->Log().Requests(CCreatePacket::kRemoveCacheFile)) {
            RequestReader reader(request.payload);
            Removal removal;
            reader.ReadCountedBytes(&removal.cacheName);
            reader.ReadU32(&removal.reason);
            reader.ReadU32(&removal.flag);
            EXPECT_FALSE(reader.Failed());
            EXPECT_EQ(reader.Remaining(), 0u);
            removals.push_back(removal);
        }
        return removals;
    }
    std::vector<DWORD> RemovalReasons() const
    {
        std::vector<DWORD> reasons;
        for (const Removal& removal : Removals())
            reasons.push_back(removal.reason);
        return reasons;
    }

    static DWORD Low(ULONGLONG value) { return static_cast<DWORD>(value); }
    static DWORD High(ULONGLONG value) { return static_cast<DWORD>(value >> 32); }

    TempDir dir;
    std::u16string target;
    LoginService logins;
    DownloadHandlers files;
    DownloadProbe probe{channel};
    DWORD word = 0xA5A5A5A5;
    DWORD done = 9;
    DWORD fileTime = 9;
};
