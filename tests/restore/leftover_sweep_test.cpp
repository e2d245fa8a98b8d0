// The sweep of transfer files that ended processes left: it removes the user's own abandoned
// files and never reaches anything else, whatever the folder's other writers planted there.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "restore/LeftoverSweep.h"
#include "support/FileText.h"
#include "support/LockHolder.h"
#include "support/OtherUser.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

void GiveToOtherUser(const fs::path& path)
{
    ASSERT_EQ(lchown(path.c_str(), kOtherUser, kOtherUser), 0) << path;
}

// The id of a process that has ended, as a writer's of another PID namespace or machine looks
// from here.
std::string EndedProcessId()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return std::to_string(child);
}

class LeftoverSweepTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(folder); }

    // A transfer file's name for stem, of a process that has ended.
    std::string Name(const std::string& stem) const
    {
        return stem + ".kelvane-" + ended + "-" + std::to_string(++count) + ".tmp";
    }

    // Sweeps the folder in a child process, so that every sweep is a first one; false when it
    // did not end within ten seconds (it is ended then).
    bool Sweep() const
    {
        const pid_t child = fork();
        if (child == 0) {
            RemoveLeftovers(folder.u16string() + u"/", u"");
            _exit(0);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return false;
    }

    TempDir dir;
    fs::path folder = dir.path() / "restores";
    std::string ended = EndedProcessId();
    mutable int count = 0;
};

// A name holding backslashes is one entry of the folder, not a path: the file that it would
// name once read as a path, in a folder beside it (as root, a folder of another user that
// only he may enter), stays.
TEST_F(LeftoverSweepTest, TheSweepRemovesTheListedEntryAndNothingItsNameLeadsTo)
{
    const fs::path victimFolder = dir.path() / "victim";
    fs::create_directory(victimFolder);
    const std::string name = Name("x");
    const fs::path victim = victimFolder / name;
    const fs::path planted = folder / ("..\\victim\\" + name);
    WriteText(victim, "the victim's file");
    WriteText(planted, "planted");
    if (CanRunAsOtherUser()) {
        GiveToOtherUser(victim);
        GiveToOtherUser(victimFolder);
        fs::permissions(victimFolder, fs::perms::owner_all);
        GiveToOtherUser(planted);
    }
    ASSERT_TRUE(Sweep());
    EXPECT_EQ(ReadText(victim), "the victim's file");
    // The planted entry itself goes only when it is this user's own abandoned file.
    EXPECT_EQ(fs::exists(planted), CanRunAsOtherUser());
}

// A link, a pipe (which the sweep must not wait on) and a file with a second name are not
// what a writer of transfer files leaves: they stay, and so does what the link points to. A
// file that its owner may only read (given a read-only file's mode before its rename) goes.
TEST_F(LeftoverSweepTest, OnlyRegularFilesOfThisUserWithOneNameGo)
{
    const fs::path abandoned = folder / Name("report.doc");
    const fs::path readOnly = folder / Name("read-only.doc");
    const fs::path link = folder / Name("link");
    const fs::path pipe = folder / Name("pipe");
    const fs::path linked = folder / Name("linked");
    const fs::path target = dir.path() / "target.txt";
    WriteText(abandoned, "left by a crash");
    WriteText(readOnly, "left by a crash");
    fs::permissions(readOnly, fs::perms::owner_read);
    WriteText(target, "the link's target");
    WriteText(linked, "a file of two names");
    fs::create_symlink(target, link);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    fs::create_hard_link(linked, dir.path() / "second name");
    ASSERT_TRUE(Sweep());
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_FALSE(fs::exists(readOnly));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadText(target), "the link's target");
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(ReadText(linked), "a file of two names");
}

// A host running as root sweeps folders that other users write, the temporary folder among
// them: their files of the same pattern are theirs.
TEST_F(LeftoverSweepTest, AnotherUsersFileOfThePatternStays)
{
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "needs root to give a file to another user";
    const fs::path theirs = folder / Name("theirs");
    const fs::path ours = folder / Name("ours");
    WriteText(theirs, "another user's file");
    WriteText(ours, "left by a crash");
    GiveToOtherUser(theirs);
    ASSERT_TRUE(Sweep());
    EXPECT_EQ(ReadText(theirs), "another user's file");
    EXPECT_FALSE(fs::exists(ours));
}

// A transfer file whose process does not run here (another PID namespace, another machine on
// the same shared folder) is still written while its writer holds its lock; it goes only once
// the writer has ended. So is a file that another program holds locked in any of the system's
// ways, shared or exclusive.
TEST_F(LeftoverSweepTest, AFileLockedByALiveWriterStaysUntilTheWriterEnds)
{
    using Kind = LockHolder::Kind;
    const struct {
        Kind kind;
        const char* name;
    } holders[] = {{Kind::Writer, "writer"},
                   {Kind::FlockShared, "flock shared"},
                   {Kind::FlockExclusive, "flock exclusive"},
                   {Kind::ProcessRead, "fcntl read lock"},
                   {Kind::ProcessWrite, "fcntl write lock"},
                   {Kind::OpenRead, "open file description read lock"}};
    for (const auto& holder : holders) {
        const fs::path written = folder / Name("report.doc");
        WriteText(written, "still being written");
        LockHolder writer(written, holder.kind);
        ASSERT_TRUE(writer.Holds()) << holder.name;
        ASSERT_TRUE(Sweep());
        EXPECT_EQ(ReadText(written), "still being written") << holder.name;
        writer.LetGo();
        ASSERT_TRUE(Sweep());
        EXPECT_FALSE(fs::exists(written)) << holder.name;
    }
}

}  // namespace
