// A single compressed reply at the largest size that the inflate buffer takes.
#include <string>

#include "DownloadFixture.h"
#include "restore/Cunzip.h"

TEST_F(DownloadFixture, ASingleReplyOfOneByteBelowTheInflateBufferIsWrittenWhole)
{
    const std::string largest(Cunzip::kOutputSize - 1, 'z');
    Serve(largest, DownloadHandlers::Form::Single);
    ASSERT_EQ(Restore(), 1);
    EXPECT_TRUE(ReadFile(target) == largest);
    EXPECT_EQ(done, 1u);
}
