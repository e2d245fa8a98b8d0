#include "support/KelvaneLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

KelvaneLibrary& KelvaneLibrary::Get()
{
    static KelvaneLibrary library;
    return library;
}

std::string KelvaneLibrary::Path()
{
    const char* folder = std::getenv("KELVANE_TEST_BINARY_DIR");
    if (folder == nullptr)
        throw std::runtime_error("KELVANE_TEST_BINARY_DIR is not set");
    return std::string(folder) + "/libkelvane.so";
}

KelvaneLibrary::KelvaneLibrary() : m_handle(dlopen(Path().c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (m_handle == nullptr)
        throw std::runtime_error(std::string("cannot load the library: ") + dlerror());
    Bind("OpenChannel", OpenChannel);
    Bind("OpenChannelEx", OpenChannelEx);
    Bind("OpenChannelNoUser", OpenChannelNoUser);
    Bind("CloseChannel", CloseChannel);
    Bind("AuthenticateMachine", AuthenticateMachine);
    Bind("VerifyServer", VerifyServer);
    Bind("WebPortalIsEnabled", WebPortalIsEnabled);
    Bind("SetActiveMachine", SetActiveMachine);
    Bind("GetMachineInformation", GetMachineInformation);
}

void* KelvaneLibrary::Symbol(const char* name) const
{
    void* symbol = dlsym(m_handle, name);
    if (symbol == nullptr)
        throw std::runtime_error(std::string(name) + " is not exported");
    return symbol;
}

template <typename Function>
void KelvaneLibrary::Bind(const char* name, Function& function) const
{
    function = reinterpret_cast<Function>(Symbol(name));
}
