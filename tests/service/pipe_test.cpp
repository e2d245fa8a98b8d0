#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/pipe.h"
#include "service/StandinService.h"

namespace {

const char16_t kPlainPipe[] = u"\\\\.\\Pipe\\RidOVOdozer";

HANDLE OpenPipe(const std::u16string& name, DWORD access = GENERIC_READ | GENERIC_WRITE)
{
    return CreateFileW(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void SetMessageMode(HANDLE pipe)
{
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
}

void Send(HANDLE pipe, uint32_t command)
{
    std::vector<uint8_t> header = CommandHeader(command);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe, header.data(), 24, &written, nullptr));
    EXPECT_EQ(written, 24u);
}

class NamedPipes : public ServiceTest {
protected:
    StandinService service{dir.path().string(), StandinService::Names::PlainOnly};
};

TEST_F(NamedPipes, MessageModeHandsOutALongMessageInPartsWithMoreData)
{
    service.SetReply(7, Pattern(100000));
    service.SetReply(9, Word(42));
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(kPlainPipe);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    Send(pipe, 7);

    std::vector<uint8_t> joined;
    uint8_t part[4096];
    DWORD read = 0;
    while (!ReadFile(pipe, part, sizeof(part), &read, nullptr)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        ASSERT_EQ(read, sizeof(part));
        joined.insert(joined.end(), part, part + read);
    }
    EXPECT_EQ(read, 100000u % sizeof(part));
    joined.insert(joined.end(), part, part + read);
    EXPECT_EQ(joined, Pattern(100000));

    // The next message starts afresh: nothing of the long one is left over.
    Send(pipe, 9);
    ASSERT_TRUE(ReadFile(pipe, part, sizeof(part), &read, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(part, part + read), Word(42));
    EXPECT_TRUE(CloseHandle(pipe));
}

TEST_F(NamedPipes, AReadNeverRunsOnIntoTheNextMessage)
{
    service.SetReply(2, Word(2));
    service.SetReply(6, Word(6));
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(kPlainPipe);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    Send(pipe, 2);
    Send(pipe, 6);
    // Byte read mode (the default): a short read succeeds without ERROR_MORE_DATA.
    uint8_t buffer[64];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(pipe, buffer, 3, &read, nullptr));
    EXPECT_EQ(read, 3u);
    ASSERT_TRUE(ReadFile(pipe, buffer + 3, sizeof(buffer) - 3, &read, nullptr));
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(WordAt(buffer), 2u);
    SetMessageMode(pipe);
    ASSERT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(WordAt(buffer), 6u);
    CloseHandle(pipe);
}

TEST_F(NamedPipes, AnEmptyMessageIsReadAsZeroBytes)
{
    service.SetReply(11, {});
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(kPlainPipe);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    Send(pipe, 11);
    uint8_t buffer[8];
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(pipe);
}

TEST_F(NamedPipes, APeerThatHangsUpBreaksThePipe)
{
    service.Misbehave(9, StandinService::Misbehaviour::CloseWithoutAnswer);
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(kPlainPipe);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    Send(pipe, 9);
    uint8_t buffer[8];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    std::vector<uint8_t> header = CommandHeader(1);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(pipe, header.data(), 24, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    CloseHandle(pipe);
}

TEST_F(NamedPipes, NoServerMeansFileNotFound)
{
    EXPECT_EQ(OpenPipe(kPlainPipe), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    StandinService deaf(dir.path().string(), StandinService::Names::PlainOnly,
                        StandinService::Listening::BoundOnly);
    ASSERT_TRUE(deaf.Start());
    EXPECT_EQ(OpenPipe(kPlainPipe), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(NamedPipes, AServerWithAFullQueueIsBusy)
{
    StandinService stalled(dir.path().string(), StandinService::Names::PlainOnly,
                           StandinService::Listening::Stalled);
    ASSERT_TRUE(stalled.Start());
    HANDLE first = OpenPipe(kPlainPipe);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPipe(kPlainPipe), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    CloseHandle(first);
}

TEST_F(NamedPipes, NamesThatCannotBeASocketOfTheFolderAreRefused)
{
    EXPECT_EQ(OpenPipe(u"\\\\.\\pipe\\..\\RidOVOdozer"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(OpenPipe(u"//./PIPE/sub/name"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(OpenPipe(u"\\\\.\\pipe\\" + std::u16string(200, u'n')), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(NamedPipes, HandleStateTakesOnlyPipesAndTheLocalArguments)
{
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(kPlainPipe);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    DWORD mode = PIPE_READMODE_MESSAGE;
    DWORD count = 1;
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &mode, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD noWait = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &noWait, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetNamedPipeHandleState(pipe, nullptr, nullptr, nullptr));
    EXPECT_TRUE(CloseHandle(pipe));
    EXPECT_FALSE(CloseHandle(pipe));
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE file = CreateFileW(dir.file("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetNamedPipeHandleState(file, &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(file);
}

TEST(PipeFolder, FallsBackFromThePipeFolderToTheRuntimeFolderToTmp)
{
    ScopedEnv pipes("KELVANE_PIPE_DIR", "");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1234");
    EXPECT_EQ(PipeFolder(), "/run/user/1234");
    EXPECT_EQ(PipeSocketPath(u"RidOVOdozer7"), "/run/user/1234/RidOVOdozer7");
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(PipeFolder(), "/tmp");
    ScopedEnv own("KELVANE_PIPE_DIR", "/srv/pipes/");
    EXPECT_EQ(PipeSocketPath(u"RidOVOdozer"), "/srv/pipes/RidOVOdozer");
}

}  // namespace
