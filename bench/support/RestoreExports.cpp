#include "bench/support/RestoreExports.h"

#include <cstdio>

#include "platform/text.h"
#include "tools/host/HostLibrary.h"

namespace {

int32_t Quiet(uintptr_t, uint32_t, const char16_t*, uint64_t)
{
    return 0;
}

uint32_t Low(uint64_t code)
{
    return static_cast<uint32_t>(code);
}

uint32_t High(uint64_t code)
{
    return static_cast<uint32_t>(code >> 32);
}

}  // namespace

RestoreExports RestoreExports::Linked()
{
    return RestoreExports{&::OpenChannel, &::RestoreFile, &::CloseChannel};
}

bool RestoreExports::Load(const std::string& path, RestoreExports* exports)
{
    // Never unloaded: the program ends with it.
    auto* library = new HostLibrary();
    if (!library->Load(path))
        return false;
    *exports = RestoreExports{library->OpenChannel, library->RestoreFile, library->CloseChannel};
    // The loader hands out the same file as the linked library as that very copy, whatever
    // name it is given: the comparison would measure one build twice.
    if (exports->RestoreFile == &::RestoreFile) {
        std::fprintf(stderr, "%s is the library this program is linked with\n", path.c_str());
        return false;
    }
    return true;
}

Csocketclient* RestoreExports::Open(const std::string& server, const std::string& user) const
{
    uint32_t flags = 0;
    const std::u16string address = Utf8ToUtf16(server);
    const std::u16string name = Utf8ToUtf16(user);
    return OpenChannel(address.c_str(), name.c_str(), name.c_str(), &flags, 0, u"", 0, u"",
                       u"");
}

bool RestoreExports::Restore(Csocketclient* channel, const FrameClient::Codes& codes,
                             const char16_t* path) const
{
    return RestoreFile(channel, Low(codes[0]), High(codes[0]), Low(codes[1]), High(codes[1]),
                       Low(codes[2]), High(codes[2]), Low(codes[3]), High(codes[3]),
                       Low(codes[4]), High(codes[4]), path, 0, 0, u"", Quiet) == 1;
}
