// A test with a channel that the member has opened on the stand-in member server.
#pragma once

#include <gtest/gtest.h>

#include "MemberServer.h"

class MemberChannelTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started());
        channel = server.OpenUser();
        ASSERT_NE(channel, nullptr);
    }

    MemberServer server;
    Csocketclient* channel = nullptr;
};
