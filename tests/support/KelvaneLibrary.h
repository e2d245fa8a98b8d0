// libkelvane.so of the build under test, loaded once per process with dlopen and called by
// name, as a host calls it.
#pragma once

#include <string>

#include "kelvane.h"

class KelvaneLibrary {
public:
    // The loaded library; throws when it cannot be loaded or lacks a function.
    static KelvaneLibrary& Get();
    // Path of the library in the build folder that the test environment names.
    static std::string Path();

    void* Symbol(const char* name) const;

    decltype(&::OpenChannel) OpenChannel;
    decltype(&::OpenChannelEx) OpenChannelEx;
    decltype(&::OpenChannelNoUser) OpenChannelNoUser;
    decltype(&::CloseChannel) CloseChannel;
    decltype(&::AuthenticateMachine) AuthenticateMachine;
    decltype(&::VerifyServer) VerifyServer;
    decltype(&::WebPortalIsEnabled) WebPortalIsEnabled;
    decltype(&::SetActiveMachine) SetActiveMachine;
    decltype(&::GetMachineInformation) GetMachineInformation;

private:
    KelvaneLibrary();

    template <typename Function>
    void Bind(const char* name, Function& function) const;

    void* m_handle;
};

// Any export of the loaded library, looked up by name as a host looks it up:
//     EXPORT(CheckUsername)(channel, u"carol", &reason)
#define EXPORT(name) reinterpret_cast<decltype(&::name)>(KelvaneLibrary::Get().Symbol(#name))

// The words of a 64-bit code as the exports take it.
inline uint32_t Low(uint64_t code)
{
    return static_cast<uint32_t>(code);
}
inline uint32_t High(uint64_t code)
{
    return static_cast<uint32_t>(code >> 32);
}
