// A channel opened through libkelvane.so, as a host opens one, for the user of a stand-in
// server of its own, whose answer to any command a test can replace by exactly the bytes it
// chooses.
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "kelvane.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

class LibraryChannel : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The command is answered by exactly these bytes from now on.
    void Answer(DWORD code, const std::vector<BYTE>& bytes);

    TempDir folder;
    ScopedEnv registry{"KELVANE_REGISTRY", (folder.path() / "registry.ini").string()};
    KelvaneLibrary& library = KelvaneLibrary::Get();
    LoginServer server;
    Csocketclient* channel = nullptr;
};
