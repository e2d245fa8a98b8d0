// The frame of the exported functions: nothing thrown inside an export may reach the host.
#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "api/ExportFrame.h"

TEST(ExportFrame, ExceptionsBecomeTheFailureResult)
{
    int32_t result = ExportFrame::Run(u"Throwing", u"12", -1, [](ExportFrame&) -> int32_t {
        throw std::bad_alloc();
    });
    EXPECT_EQ(result, -1);

    bool reached = false;
    ExportFrame::Run(u"ThrowingVoid", u"13", [&](ExportFrame&) {
        reached = true;
        throw 42;
    });
    EXPECT_TRUE(reached);

    int* nothing = ExportFrame::Run(u"ThrowingPointer", u"14", static_cast<int*>(nullptr),
                                    [](ExportFrame& frame) -> int* {
                                        frame.Error(20, u"about to fail");
                                        throw std::runtime_error("failed");
                                    });
    EXPECT_EQ(nothing, nullptr);
}
