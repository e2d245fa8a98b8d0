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
