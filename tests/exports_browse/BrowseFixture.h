// The exports of channel settings and browsing, called by name from the loaded library, and
// a stand-in server that knows the user and answers from its store, with a channel that the
// user has opened on it.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kelvane.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "tools/server/ReplyWriter.h"
#include "tools/server/ServiceStore.h"

// The exports under test, looked up by name once per process.
struct BrowseExports {
    static const BrowseExports& Get();

    decltype(&::SetCallBack) SetCallBack = EXPORT(SetCallBack);
    decltype(&::ResetCallBack) ResetCallBack = EXPORT(ResetCallBack);
    decltype(&::SetGetPacketSize) SetGetPacketSize = EXPORT(SetGetPacketSize);
    decltype(&::CheckProxySettings) CheckProxySettings = EXPORT(CheckProxySettings);
    decltype(&::loadVersion) loadVersion = EXPORT(loadVersion);
    decltype(&::Search) Search = EXPORT(Search);
    decltype(&::loadMachines) loadMachines = EXPORT(loadMachines);
    decltype(&::loadMachinesEx) loadMachinesEx = EXPORT(loadMachinesEx);
    decltype(&::loadVolumes) loadVolumes = EXPORT(loadVolumes);
    decltype(&::loadFolderByFolderCode) loadFolderByFolderCode = EXPORT(loadFolderByFolderCode);
    decltype(&::loadRootFolder) loadRootFolder = EXPORT(loadRootFolder);
    decltype(&::FreeBuffer) FreeBuffer = EXPORT(FreeBuffer);
    decltype(&::CheckFile) CheckFile = EXPORT(CheckFile);
    decltype(&::LastRestoreInfo) LastRestoreInfo = EXPORT(LastRestoreInfo);
};

// Whether the page that holds the address is mapped in this process.
bool IsMapped(const void* address);
// Writes a mark into the first eight bytes of a handed-over buffer, so that IsReleased can tell
// the buffer from a later mapping that another allocation placed at the same address.
void MarkBuffer(void* buffer);
// Whether a buffer marked by MarkBuffer is gone: its page unmapped, or no longer holding the mark.
bool IsReleased(const void* buffer);

// A list handed over by an export, given back through FreeBuffer when it goes.
class HostBuffer {
public:
    HostBuffer(void* buffer, uint32_t count, uint32_t size);
    ~HostBuffer();
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    void* get() const { return m_buffer; }
    uint32_t count() const { return m_count; }
    uint32_t size() const { return m_size; }
    // The buffer's first size bytes.
    std::vector<BYTE> Bytes() const;

private:
    void* m_buffer;
    uint32_t m_count;
    uint32_t m_size;
};

// One of the six list exports, called with fixed codes.
struct ListCall {
    const char* name;
    // The command it sends.
    DWORD code;
    std::function<HostBuffer()> load;
};

class BrowseFixture : public testing::Test {
protected:
    // One machine with one volume: the root folder holds "docs" and "boot.ini", "docs" holds
    // "report.txt" (three versions) and "notes.md"; "docs\empty" holds nothing.
    static constexpr ULONGLONG kMachine = 0x1200000501ull;
    static constexpr ULONGLONG kVolume = 0x7000000001ull;
    static constexpr ULONGLONG kRoot = 1;
    static constexpr ULONGLONG kDocs = 0x300000002ull;
    static constexpr ULONGLONG kEmpty = 3;
    static constexpr ULONGLONG kReport = 0x4400000021ull;

    void SetUp() override;
    void TearDown() override;

    // Opens a channel for the user; null when that failed.
    Csocketclient* OpenUserChannel();
    void FillOffice();
    void AddMachine(StoredMachine machine);

    template <typename Work>
    auto Store(Work work)
    {
        return server.Server().Model().Service().With(work);
    }
    // The command is answered by exactly these bytes from now on.
    void Answer(DWORD code, const std::vector<BYTE>& bytes);
    // The payloads of the requests with this code that the server received.
    std::vector<std::vector<BYTE>> Sent(DWORD code);

    // The lists as the exports hand them over on the channel; the count and size words start
    // as preset.
    HostBuffer Machines();
    HostBuffer MachinesEx();
    HostBuffer Volumes();
    HostBuffer RootFolder(ULONGLONG machine, ULONGLONG volume);
    HostBuffer Folder(ULONGLONG machine, ULONGLONG volume, ULONGLONG folder);
    HostBuffer Versions(ULONGLONG machine, ULONGLONG volume, ULONGLONG folder, ULONGLONG file);
    HostBuffer SearchFiles(ULONGLONG machine, const char16_t* text);
    // Every list export, the folder and version lists for machine 1, volume 2, folder 3 and
    // file 4.
    std::vector<ListCall> AllLists();

    const BrowseExports& exports = BrowseExports::Get();
    KelvaneLibrary& library = KelvaneLibrary::Get();
    LoginServer server;
    Csocketclient* channel = nullptr;
    uint32_t preset = 0;
};
