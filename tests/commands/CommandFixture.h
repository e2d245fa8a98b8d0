// A stand-in server on a loopback address of its own, with the login service and one known
// user, and a channel pointed at it; with helpers to fill the server's store, to replace a
// command's answer by chosen bytes, and to catch the channel's log lines and cancel polls.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/CommandProbe.h"
#include "platform/text.h"
#include "support/LoopbackChannel.h"
#include "support/WireBytes.h"
#include "tools/server/CommandHandlers.h"
#include "tools/server/LoginService.h"

class CommandFixture : public LoopbackChannel {
protected:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "secret";

    void SetUp() override
    {
        LoopbackChannel::SetUp();
        if (HasFatalFailure())
            return;
        logins.AddUser(kUser, kPassword);
        logins.Register(server->Commands());
    }

    // Logs the user in (connecting first when needed) with the session kept up
    // automatically.
    void LogIn(const char* password = kPassword)
    {
        if (!channel.IsConnected())
            Connect();
        channel.SetUserCredentials(Utf8ToUtf16(kUser).c_str(), Utf8ToUtf16(password).c_str());
        DWORD maintenance = 0;
        DWORD lockedOut = 0;
        ASSERT_EQ(channel.LoginUser(&maintenance, &lockedOut), 1);
        channel.SetAutoSession(1);
    }

    template <typename Work>
    auto Store(Work work)
    {
        return server->Model().Service().With(work);
    }

    // One machine with one volume: a root folder holding "docs" and "boot.ini", and "docs"
    // holding "report.txt" (two versions) and "notes.md".
    static constexpr ULONGLONG kMachine = 501;
    static constexpr ULONGLONG kVolume = 0x7000000001ull;
    static constexpr ULONGLONG kRoot = 1;
    static constexpr ULONGLONG kDocs = 2;
    static constexpr ULONGLONG kReport = 21;

    void FillOffice()
    {
        Store([](ServiceState& state) {
            StoredVolume volume;
            volume.code = kVolume;
            volume.label = u"C:";
            volume.used = 4096;
            StoredEntry docs{.name = u"docs", .isFolder = true, .folderCode = kDocs};
            StoredEntry boot{u"boot.ini", false, kRoot, 11, 70, 1500000000, 0x20,
                             {{8001, 70, 1500000000}}};
            volume.folders[kRoot] = StoredFolder{u"\\", {docs, boot}};
            StoredEntry report{u"report.txt", false, kDocs, kReport, 1300, 1600003600, 0x20,
                               {{9001, 1200, 1600000000}, {9002, 1300, 1600003600}}};
            StoredEntry notes{u"notes.md", false, kDocs, 22, 5, 1600000000, 0x20,
                              {{9101, 5, 1600000000}}};
            volume.folders[kDocs] = StoredFolder{u"\\docs\\", {report, notes}};
            StoredMachine machine;
            machine.id = kMachine;
            machine.name = u"Office PC";
            machine.active = 1;
            machine.system = u"Windows";
            machine.hostName = u"office";
            machine.key = "office-key";
            machine.volumes.push_back(volume);
            state.machines.push_back(machine);
            state.activeMachine = kMachine;
        });
    }

    // The command is answered by exactly these bytes from now on.
    void Answer(DWORD code, const std::vector<BYTE>& bytes)
    {
        AnswerWithBytes(*server, code, bytes);
    }

    // The payloads of the requests with this code that the server received.
    std::vector<std::vector<BYTE>> Sent(DWORD code) const
    {
        std::vector<std::vector<BYTE>> payloads;
        for (const RecordedRequest& request : server->Log().Requests(code))
            payloads.push_back(request.payload);
        return payloads;
    }

    LoginService logins;
    CommandProbe probe{channel};
};

// Walks a reply buffer that a command handed over; every read is checked against its length.
class Walker {
public:
    Walker(const void* data, DWORD length, DWORD offset = 0)
        : m_data(static_cast<const BYTE*>(data)), m_length(length), m_offset(offset)
    {
    }
    DWORD U32()
    {
        DWORD value = 0;
        Take(&value, sizeof value);
        return value;
    }
    ULONGLONG U64()
    {
        ULONGLONG value = 0;
        Take(&value, sizeof value);
        return value;
    }
    std::u16string Text16()
    {
        DWORD count = U32();
        std::u16string text(count / 2, u'\0');
        Take(text.data(), count);
        return text;
    }
    std::string Text8()
    {
        DWORD count = U32();
        std::string text(count, '\0');
        Take(text.data(), count);
        return text;
    }
    void Skip(DWORD count) { m_offset += count; }
    DWORD Offset() const { return m_offset; }
    bool Overran() const { return m_overran; }

private:
    void Take(void* out, DWORD count)
    {
        if (static_cast<ULONGLONG>(m_offset) + count > m_length) {
            m_overran = true;
            return;
        }
        std::memcpy(out, m_data + m_offset, count);
        m_offset += count;
    }

    const BYTE* m_data;
    DWORD m_length;
    DWORD m_offset;
    bool m_overran = false;
};
