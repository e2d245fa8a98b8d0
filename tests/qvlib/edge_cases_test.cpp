// Skip lists with empty names, and the errors of a skipped call made inside traced ones.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogFixture.h"
#include "platform/error.h"
#include "qvlib/CQVLogScope.h"

namespace {

class SkipEdges : public LogFixture {
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        WriteSettings("[log]\npath=trace\nnotimestamp=1\nskip=a,,b\n");
        BuildLog();
    }

    // The lines written after the header, without their time prefix.
    std::vector<std::string> TraceOnly()
    {
        std::vector<std::string> lines = ReadLogLines(Folder() / "trace.log");
        EXPECT_GE(lines.size(), 11u);
        std::vector<std::string> trace;
        for (size_t index = 11; index < lines.size(); ++index)
            trace.push_back(WithoutPrefix(lines[index]));
        return trace;
    }
};

void TracedCall(const char16_t* name)
{
    CQVLogScope scope(name, u"Kelvane", u"1");
    scope.GetLog().Enter(scope);
    scope.SetExitLine(u"2");
    scope.LogResult(int32_t{1});
}

} // namespace

TEST_F(SkipEdges, AnEmptyNameInTheListKeepsTheNamesAfterIt)
{
    TracedCall(u"a");
    TracedCall(u"B");
    TracedCall(u"c");
    EXPECT_EQ(TraceOnly(), (std::vector<std::string>{"{ c():1", "} c():2 -> 1", ""}));
}

TEST_F(SkipEdges, ASkippedCallReportsItsErrorWithTheStackOfItsCallers)
{
    {
        CQVLogScope outer(u"Outer", u"Kelvane", u"10");
        outer.GetLog().Enter(outer);
        {
            CQVLogScope inner(u"b", u"Kelvane", u"20");
            inner.GetLog().Enter(inner);
            inner.LogVar(u"hidden", 1);
            inner.SetError(u"Kelvane", u"b", 25, 0);
            inner.LineStream() << u"Broken.";
            inner.LogError();
            inner.SetExitLine(u"30");
            inner.LogResult(int32_t{0});
        }
        outer.SetExitLine(u"40");
        outer.LogResult(int32_t{1});
    }
    EXPECT_EQ(TraceOnly(), (std::vector<std::string>{
                               "{ Outer():10",
                               "# #Error:   in File: Kelvane Function: b at line: 25",
                               "# Broken.",
                               " Call Stack :",
                               " Kelvane!Outer() Line 10",
                               "} Outer():40 -> 1",
                               "",
                           }));
}
