#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LogFixture.h"
#include "platform/error.h"
#include "qvlib/CQVLogScope.h"
#include "support/PendingCancellation.h"

namespace {

namespace fs = std::filesystem;

class TraceLines : public LogFixture {
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        WriteSettings("[log]\npath=trace\nnotimestamp=1\n" + m_extraSettings);
        BuildLog();
    }

    // The lines written after the header, time prefixes kept.
    std::vector<std::string> TraceOnly()
    {
        std::vector<std::string> lines = ReadLogLines(Folder() / "trace.log");
        EXPECT_GE(lines.size(), 11u);
        lines.erase(lines.begin(), lines.begin() + std::min<size_t>(lines.size(), 11));
        return lines;
    }

    std::string m_extraSettings;
};

// A traced call with two variables and a result of 1.
void TracedCall(const char16_t* name = u"OpenChannel")
{
    CQVLogScope scope(name, u"Kelvane", u"265");
    scope.GetLog().Enter(scope);
    scope.LogVar(u"UserName", u"alice");
    scope.LogVar(u"Proxy", static_cast<const char16_t*>(nullptr));
    scope.SetExitLine(u"331");
    scope.LogResult(int32_t{1});
}

TEST_F(TraceLines, WritesEntryVariablesAndExitAtLevel63)
{
    TracedCall();
    EXPECT_EQ(TraceOnly(), (std::vector<std::string>{
                               "[16:12:32] { OpenChannel():265",
                               "[16:12:32]  var: UserName = alice",
                               "[16:12:32]  var: Proxy = nullptr",
                               "[16:12:32] } OpenChannel():331 -> 1",
                               "[16:12:32] ",
                           }));
}

// A host may cancel its thread just as a traced call returns: the scope still writes the
// call's exit line, and the cancellation acts after it, never inside the destructor.
TEST_F(TraceLines, ACancellationPendingAtTheEndOfACallWaitsForItsExitLine)
{
    auto* scope = new CQVLogScope(u"OpenChannel", u"Kelvane", u"265");
    scope->GetLog().Enter(*scope);
    scope->SetExitLine(u"331");
    scope->LogResult(int32_t{1});

    PendingCancellationRun run = RunWithCancellationPending([scope] { delete scope; });

    EXPECT_TRUE(run.returned);
    EXPECT_TRUE(run.cancelled);
    EXPECT_EQ(WithoutPrefix(TraceOnly().at(1)), "} OpenChannel():331 -> 1");
}

TEST_F(TraceLines, LevelsLetThroughOnlyTheirLines)
{
    const auto call = [] {
        CQVLogScope scope(u"Call", u"Kelvane", u"1");
        scope.GetLog().Enter(scope);
        scope.LogVar(u"v", 1);
        scope.LineStream() << u"info";
        scope.LogInfo();
        scope.LineStream() << u"careful";
        scope.LogWarning();
        scope.SetError(nullptr, nullptr, 0, 0);
        scope.LineStream() << u"broken";
        scope.LogError();
        scope.SetExitLine(u"2");
        scope.LogResult(true);
    };
    CQVLog& log = CQVLog::GetInstance();
    for (uint32_t level : {15u, 7u, 1u}) {
        log.SetLevel(level);
        QVWideStream marker;
        marker << u"level " << level;
        log.Log(marker, u"");
        call();
    }
    std::vector<std::string> lines;
    for (const std::string& line : TraceOnly())
        lines.push_back(WithoutPrefix(line));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "level 15",
                         "{ Call():1",
                         " info",
                         " !Warning: careful",
                         "# #Error:   ",
                         "# broken",
                         " Call Stack :",
                         " Kelvane!Call() Line 1",
                         "} Call():2 -> 1",
                         "",
                         "level 7",
                         "info",
                         "!Warning: careful",
                         " #Error:   ",
                         " broken",
                         "level 1",
                         " #Error:   ",
                         " infocarefulbroken",
                     }));
}

TEST_F(TraceLines, ErrorListsTheCallStackOfNestedCalls)
{
    {
        CQVLogScope outer(u"Outer", u"Kelvane", u"10");
        outer.GetLog().Enter(outer);
        {
            CQVLogScope inner(u"Inner", u"Kelvane", u"20");
            inner.GetLog().Enter(inner);
            inner.SetError(u"Kelvane", u"Inner", 78, ERROR_FILE_NOT_FOUND);
            inner.LineStream() << u"Connect has failed.";
            inner.LogError();
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            inner.SetExitLine(u"30");
            inner.LogResult(false);
        }
        outer.SetError(u"Kelvane", u"Outer", 12, ERROR_NOT_FOUND);
        outer.LineStream() << u"Missing.";
        outer.LogError();
    }
    EXPECT_EQ(TraceOnly(),
              (std::vector<std::string>{
                  "[16:12:32] { Outer():10",
                  "[16:12:32]  { Inner():20",
                  "[16:12:32] ## #Error:   in File: Kelvane Function: Inner at line: 78 - "
                  "ErrCode: 0x2 - ErrMsg: The system cannot find the file specified.",
                  "",
                  "[16:12:32] ## Connect has failed.",
                  "[16:12:32]   Call Stack :",
                  "[16:12:32]   Kelvane!Inner() Line 20",
                  "[16:12:32]   Kelvane!Outer() Line 10",
                  "[16:12:32]  } Inner():30 -> 0",
                  "[16:12:32] ",
                  "[16:12:32] # #Error:   in File: Kelvane Function: Outer at line: 12 - "
                  "ErrCode: 0x490 - ErrMsg: Element not found.",
                  "",
                  "[16:12:32] # Missing.",
                  "[16:12:32]  Call Stack :",
                  "[16:12:32]  Kelvane!Outer() Line 10",
                  "[16:12:32] } Outer()",
              }));
}

TEST_F(TraceLines, ErrorWithoutPlaceOrCodeAtDepthZero)
{
    CQVLogScope scope(u"Bare", u"Kelvane", u"1");
    scope.LineStream() << u"plain message";
    scope.LogError();
    std::vector<std::string> lines = TraceOnly();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(WithoutPrefix(lines[0]), " #Error:   ");
    EXPECT_EQ(WithoutPrefix(lines[1]), " plain message");
}

TEST_F(TraceLines, RecordsResultsInTheirOwnForms)
{
    int value = 0;
    {
        CQVLogScope scope(u"Results", u"Kelvane", u"1");
        scope.GetLog().Enter(scope);
        EXPECT_EQ(scope.LogResult(int32_t{-1}), -1);
        EXPECT_EQ(scope.LogResult(uint32_t{0xABCu}), 0xABCu);
        EXPECT_EQ(scope.LogResult(&value), &value);
        EXPECT_TRUE(scope.LogResult(nullptr) == nullptr);
    }
    char pointer[32];
    snprintf(pointer, sizeof pointer, "%016llX",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&value)));
    std::vector<std::string> lines;
    for (const std::string& line : TraceOnly())
        lines.push_back(WithoutPrefix(line));
    EXPECT_EQ(lines, (std::vector<std::string>{"{ Results():1", "} Results() -> ffffffff", "abc",
                                               pointer, "0000000000000000", ""}));
}

TEST_F(TraceLines, WidensEightBitTextsBySignExtension)
{
    EXPECT_EQ(NarrowToWide("A\xE9"), std::u16string(u"A\uFFE9"));
    {
        CQVLogScope scope(u"Narrow", u"Kelvane", u"1");
        scope.LogVar(u"Key", "A\x7F\x80");
        scope.LogVar(u"Null", static_cast<const char*>(nullptr));
    }
    const std::vector<std::string> lines = TraceOnly();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(WithoutPrefix(lines[0]), "var: Key = A\x7F\xEF\xBE\x80");
    EXPECT_EQ(WithoutPrefix(lines[1]), "var: Null = nullptr");
}

TEST_F(TraceLines, WritesTheOtherValueTypesInDecimal)
{
    {
        CQVLogScope scope(u"Values", u"Kelvane", u"1");
        scope.LogVar(uint32_t{443});
        scope.LogVar(uint16_t{257});
        scope.LogVar(true);
        scope.LogVar(u'x');
        scope.LogVar(u"Signed", int32_t{-7});
        scope.LogVar(u"Code", uint64_t{18446744073709551615ull});
        scope.LogVar(u"Offset", int64_t{-9000000000});
    }
    std::vector<std::string> lines;
    for (const std::string& line : TraceOnly())
        lines.push_back(WithoutPrefix(line));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "var: ProxyPort = 443", "var: Data.wVersion = 257",
                         "var: isAuthenticated = 1", "var: (wchar_t)*&reason[0] = x",
                         "var: Signed = -7", "var: Code = 18446744073709551615",
                         "var: Offset = -9000000000", "} Values()"}));
}

TEST_F(TraceLines, WarningRefusedByTheLevelStaysForTheNextLine)
{
    CQVLog::GetInstance().SetLevel(1);
    CQVLogScope scope(u"Quiet", u"Kelvane", u"1");
    scope.LineStream() << u"careful ";
    scope.LogWarning();
    scope.LineStream() << u"failed";
    scope.LogError();
    const std::vector<std::string> lines = TraceOnly();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(WithoutPrefix(lines[1]), " careful failed");
}

class SkippedCalls : public TraceLines {
protected:
    SkippedCalls() { m_extraSettings = "skip=other,OPENchannel, Spaced\n"; }
};

TEST_F(SkippedCalls, SkipNamesInAnyCaseUntilTheResultRestoresTheLevel)
{
    CQVLog& log = CQVLog::GetInstance();
    {
        CQVLogScope scope(u"OpenChannel", u"Kelvane", u"265");
        log.Enter(scope);
        EXPECT_TRUE(scope.IsSkipped());
        EXPECT_EQ(log.GetLevel(), 1u);
        scope.LogVar(u"UserName", u"alice");
        scope.LineStream() << u"hidden";
        scope.LogInfo();
        scope.SetError(u"Kelvane", u"OpenChannel", 70, 0);
        scope.LineStream() << u"shown";
        scope.LogError();
        scope.SetExitLine(u"331");
        EXPECT_EQ(scope.LogResult(int32_t{5}), 5);
        EXPECT_EQ(log.GetLevel(), 63u);
    }
    TracedCall(u"Spaced");
    std::vector<std::string> lines;
    for (const std::string& line : TraceOnly())
        lines.push_back(WithoutPrefix(line));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " #Error:   in File: Kelvane Function: OpenChannel at line: 70",
                         " hiddenshown",
                         "{ Spaced():265",
                         " var: UserName = alice",
                         " var: Proxy = nullptr",
                         "} Spaced():331 -> 1",
                         "",
                     }));
}

TEST_F(SkippedCalls, SkippedCallWithoutResultLeavesOnlyErrors)
{
    {
        CQVLogScope scope(u"other", u"Kelvane", u"1");
        scope.GetLog().Enter(scope);
    }
    TracedCall();
    EXPECT_EQ(CQVLog::GetInstance().GetLevel(), 1u);
    EXPECT_TRUE(TraceOnly().empty());
}

TEST_F(TraceLines, ThreadsTracingAtOnceWriteWholeLinesAtTheirOwnDepth)
{
    constexpr int kThreads = 8;
    constexpr int kCalls = 150;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([] {
            for (int call = 0; call < kCalls; ++call) {
                CQVLogScope outer(u"Outer", u"Kelvane", u"1");
                outer.GetLog().Enter(outer);
                outer.LogVar(u"call", call);
                {
                    CQVLogScope inner(u"Inner", u"Kelvane", u"2");
                    inner.GetLog().Enter(inner);
                    inner.SetError(u"Kelvane", u"Inner", 3, ERROR_ACCESS_DENIED);
                    inner.LineStream() << u"denied";
                    inner.LogError();
                    inner.SetExitLine(u"4");
                    inner.LogResult(false);
                }
                outer.SetExitLine(u"5");
                outer.LogResult(true);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::map<std::string, int> counts;
    for (const std::string& line : TraceOnly())
        ++counts[WithoutPrefix(line)];
    const int total = kThreads * kCalls;
    EXPECT_EQ(counts["{ Outer():1"], total);
    EXPECT_EQ(counts[" { Inner():2"], total);
    EXPECT_EQ(counts[" } Inner():4 -> 0"], total);
    EXPECT_EQ(counts["} Outer():5 -> 1"], total);
    EXPECT_EQ(counts["## #Error:   in File: Kelvane Function: Inner at line: 3 - ErrCode: 0x5 - "
                     "ErrMsg: Access is denied."],
              total);
    EXPECT_EQ(counts["## denied"], total);
    EXPECT_EQ(counts["  Call Stack :"], total);
    EXPECT_EQ(counts["  Kelvane!Inner() Line 2"], total);
    EXPECT_EQ(counts["  Kelvane!Outer() Line 1"], total);
    int variables = 0;
    for (const auto& [line, count] : counts) {
        if (line.rfind(" var: call = ", 0) == 0)
            variables += count;
    }
    EXPECT_EQ(variables, total);
    // Results are followed by a line of just the prefix; errors by the empty line of the text.
    EXPECT_EQ(counts[""], 3 * total);
    EXPECT_EQ(counts.size(), 10u + kCalls);
}

}  // namespace
