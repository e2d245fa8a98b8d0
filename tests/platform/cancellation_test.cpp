// Closing runs in destructors, where the unwind of a thread's cancellation cannot pass: a
// close with a cancellation pending must close and leave the cancellation to the thread's
// next cancellation point, not end the process.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/winsock.h"
#include "support/PendingCancellation.h"
#include "support/TempDir.h"

TEST(Cancellation, ClosingAFileOrASocketIsNoCancellationPoint)
{
    TempDir folder;
    HANDLE file = CreateFileW(folder.file("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(socket, INVALID_SOCKET);
    BOOL fileClosed = FALSE;
    int socketClosed = SOCKET_ERROR;

    PendingCancellationRun run = RunWithCancellationPending([&] {
        fileClosed = CloseHandle(file);
        socketClosed = closesocket(socket);
    });

    EXPECT_TRUE(run.returned);
    EXPECT_TRUE(run.cancelled);
    EXPECT_EQ(fileClosed, TRUE);
    EXPECT_EQ(socketClosed, 0);
}
