#include "BrowseFixture.h"

#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "connection/CCreatePacket.h"
#include "platform/text.h"

const BrowseExports& BrowseExports::Get()
{
    static const BrowseExports exports;
    return exports;
}

bool IsMapped(const void* address)
{
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~(page - 1));
    return msync(start, page, MS_ASYNC) == 0 || errno != ENOMEM;
}

namespace {

constexpr uint64_t kBufferMark = 0x6b656c76616e654dull;

} // namespace

void MarkBuffer(void* buffer)
{
    std::memcpy(buffer, &kBufferMark, sizeof kBufferMark);
}

bool IsReleased(const void* buffer)
{
    // Read through the kernel: an unmapped page fails the read instead of faulting.
    uint64_t held = 0;
    iovec local{&held, sizeof held};
    iovec remote{const_cast<void*>(buffer), sizeof held};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != sizeof held ||
           held != kBufferMark;
}

HostBuffer::HostBuffer(void* buffer, uint32_t count, uint32_t size)
    : m_buffer(buffer), m_count(count), m_size(size)
{
}

HostBuffer::~HostBuffer()
{
    BrowseExports::Get().FreeBuffer(m_buffer);
}

std::vector<BYTE> HostBuffer::Bytes() const
{
    if (m_buffer == nullptr)
        return {};
    const BYTE* bytes = static_cast<const BYTE*>(m_buffer);
    return std::vector<BYTE>(bytes, bytes + m_size);
}

void BrowseFixture::SetUp()
{
    ASSERT_TRUE(server.Started()) << "port 443 of a loopback address could not be bound";
    channel = OpenUserChannel();
    ASSERT_NE(channel, nullptr);
}

void BrowseFixture::TearDown()
{
    library.CloseChannel(channel);
}

Csocketclient* BrowseFixture::OpenUserChannel()
{
    uint32_t flags = 0;
    return library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0, u"",
                               0, u"", u"");
}

void BrowseFixture::FillOffice()
{
    StoredVolume volume;
    volume.code = kVolume;
    volume.label = u"C:";
    volume.used = 4096;
    StoredEntry docs{.name = u"docs", .isFolder = true, .folderCode = kDocs};
    StoredEntry boot{u"boot.ini", false, kRoot, 11, 70, 1500000000, 0x20,
                     {{8001, 70, 1500000000}}};
    volume.folders[kRoot] = StoredFolder{u"\\", {docs, boot}};
    StoredEntry report{u"report.txt", false, kDocs, kReport, 1300, 1600003600, 0x20,
                       {{9001, 1200, 1600000000}, {9002, 1250, 1600001800},
                        {9003, 1300, 1600003600}}};
    StoredEntry notes{u"notes.md", false, kDocs, 22, 5, 1600000000, 0x20,
                      {{9101, 5, 1600000000}}};
    StoredEntry empty{.name = u"empty", .isFolder = true, .folderCode = kEmpty};
    volume.folders[kDocs] = StoredFolder{u"\\docs\\", {report, notes, empty}};
    volume.folders[kEmpty] = StoredFolder{u"\\docs\\empty\\", {}};
    StoredMachine machine;
    machine.id = kMachine;
    machine.name = u"Office PC";
    machine.active = 1;
    machine.system = u"Windows 10";
    machine.used = 123456789;
    machine.lastBackup = 1600003600;
    machine.hostName = u"office";
    machine.plan = 3;
    machine.location = u"Zürich";
    machine.quota = 1ull << 40;
    machine.created = 1500000000;
    machine.volumes.push_back(volume);
    AddMachine(machine);
    Store([](ServiceState& state) { state.activeMachine = kMachine; });
}

void BrowseFixture::AddMachine(StoredMachine machine)
{
    Store([&](ServiceState& state) { state.machines.push_back(machine); });
}

void BrowseFixture::Answer(DWORD code, const std::vector<BYTE>& bytes)
{
    AnswerWithBytes(server.Server(), code, bytes);
}

std::vector<std::vector<BYTE>> BrowseFixture::Sent(DWORD code)
{
    std::vector<std::vector<BYTE>> payloads;
    for (const RecordedRequest& request : server.Server().Log().Requests(code))
        payloads.push_back(request.payload);
    return payloads;
}

HostBuffer BrowseFixture::Machines()
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadMachines(channel, &count, &size);
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::MachinesEx()
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadMachinesEx(channel, &count, &size);
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::Volumes()
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadVolumes(channel, &count, &size);
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::RootFolder(ULONGLONG machine, ULONGLONG volume)
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadRootFolder(channel, &count, &size, Low(machine), High(machine),
                                          Low(volume), High(volume));
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::Folder(ULONGLONG machine, ULONGLONG volume, ULONGLONG folder)
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadFolderByFolderCode(channel, &count, &size, Low(machine),
                                                  High(machine), Low(volume), High(volume),
                                                  Low(folder), High(folder));
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::Versions(ULONGLONG machine, ULONGLONG volume, ULONGLONG folder,
                                   ULONGLONG file)
{
    uint32_t count = preset;
    uint32_t size = preset;
    void* buffer = exports.loadVersion(channel, &count, &size, Low(machine), High(machine),
                                       Low(volume), High(volume), Low(folder), High(folder),
                                       Low(file), High(file));
    return HostBuffer(buffer, count, size);
}

HostBuffer BrowseFixture::SearchFiles(ULONGLONG machine, const char16_t* text)
{
    uint32_t size = preset;
    void* buffer = exports.Search(channel, Low(machine), High(machine), text, &size);
    uint32_t count = preset;
    if (buffer != nullptr)
        std::memcpy(&count, static_cast<const BYTE*>(buffer) + 4, sizeof count);
    return HostBuffer(buffer, count, size);
}

std::vector<ListCall> BrowseFixture::AllLists()
{
    return {
        {"loadMachines", CCreatePacket::kMachineList, [this] { return Machines(); }},
        {"loadMachinesEx", CCreatePacket::kMachineListEx, [this] { return MachinesEx(); }},
        {"loadVolumes", CCreatePacket::kGetVolumeList, [this] { return Volumes(); }},
        {"loadFolderByFolderCode", CCreatePacket::kGetDirectory,
         [this] { return Folder(1, 2, 3); }},
        {"loadRootFolder", CCreatePacket::kGetRootDirectory,
         [this] { return RootFolder(1, 2); }},
        {"loadVersion", CCreatePacket::kGetVersions, [this] { return Versions(1, 2, 3, 4); }},
    };
}
