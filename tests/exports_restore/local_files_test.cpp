// What RestoreFile does to the files a user already has: a restore either puts the complete
// version in place of the local file, or fails and leaves every file as it was, whatever
// breaks on the way (a write that fails, a host that dies). Some restores run in the host
// program, a process of its own that the test can limit or kill.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "RestoreFixture.h"
#include "platform/text.h"

namespace {

using Form = DownloadHandlers::Form;
using PacketAction = DownloadHandlers::PacketAction;

// kelvane-host restoring the fixture's file version to a path, as a child process whose
// standard output the test reads line by line.
class HostRestore {
public:
    // Starts the host in folder; a non-zero fileSizeLimit caps the size of every file it
    // writes (a write past it fails instead of raising SIGXFSZ).
    HostRestore(const std::string& server, const std::filesystem::path& path,
                const std::filesystem::path& folder, rlim_t fileSizeLimit = 0)
    {
        const char* binaries = std::getenv("KELVANE_TEST_BINARY_DIR");
        const std::string program =
            std::string(binaries != nullptr ? binaries : ".") + "/tools/kelvane-host";
        std::vector<std::string> words{program, "--library", KelvaneLibrary::Path(), "open-user",
                                       server, "alice", "secret", "restore-file"};
        for (ULONGLONG code : RestoreFixture::kCodes)
            words.push_back(std::to_string(code));
        words.push_back(path.string());
        words.push_back("");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string directory = folder.string();

        int output[2];
        if (pipe(output) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // Only calls that are safe between fork and exec.
            dup2(output[1], STDOUT_FILENO);
            close(output[0]);
            close(output[1]);
            if (fileSizeLimit != 0) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (chdir(directory.c_str()) == 0)
                execv(argv[0], argv.data());
            _exit(127);
        }
        close(output[1]);
        m_output = output[0];
    }

    ~HostRestore()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_output >= 0)
            close(m_output);
    }

    bool Started() const { return m_pid > 0 && m_output >= 0; }

    // Reads the output until a line holds text; false when the output ends first.
    bool WaitForLine(const std::string& text)
    {
        do {
            for (size_t end = m_pending.find('\n'); end != std::string::npos;
                 end = m_pending.find('\n')) {
                const std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                m_lines += line + "\n";
                if (line.find(text) != std::string::npos)
                    return true;
            }
        } while (ReadMore());
        return false;
    }

    void Kill()
    {
        kill(m_pid, SIGKILL);
        Wait();
    }

    // Everything the host printed, once it has ended.
    std::string Finish()
    {
        while (ReadMore()) {
        }
        Wait();
        return m_lines + m_pending;
    }

private:
    bool ReadMore()
    {
        char buffer[4096];
        const ssize_t count = read(m_output, buffer, sizeof buffer);
        if (count <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(count));
        return true;
    }

    void Wait()
    {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_pending;
    std::string m_lines;
};

class LocalFilesTest : public RestoreFixture {
protected:
    void SetUp() override
    {
        RestoreFixture::SetUp();
        std::filesystem::create_directory(folder);
        Write(target, old);
    }

    static void Write(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    // Every file of the folder, named with the size and a hash of its bytes.
    std::map<std::string, std::string> Folder() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files[entry.path().filename().string()] = Fingerprint(Read(entry.path()));
        return files;
    }
    static std::string Fingerprint(const std::string& bytes)
    {
        return std::to_string(bytes.size()) + " bytes #" +
               std::to_string(std::hash<std::string>()(bytes));
    }

    void ServeIn(Form form, const std::string& contents = Noise(900 * 1024, 5))
    {
        Serve(contents, form);
    }

    std::filesystem::path folder = dir.path() / "files";
    std::filesystem::path target = folder / "report.doc";
    const std::string old = Noise(38 * 1024, 3);
};

} // namespace

TEST_F(LocalFilesTest, AWriteThatFailsPartWayLeavesTheOldFileInEitherForm)
{
    for (Form form : {Form::Single, Form::Cached}) {
        ServeIn(form);
        HostRestore restore(server.Address(), target, cwd, 600 * 1024);
        ASSERT_TRUE(restore.Started());
        const std::string output = restore.Finish();
        EXPECT_NE(output.find("RestoreFile -> 0"), std::string::npos) << output;
        EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}}));
    }
}

TEST_F(LocalFilesTest, SiblingsAreUntouchedBySuccessAndFailureInEitherForm)
{
    const std::map<std::string, std::string> siblings{{"report.doc.part", "the user's own"},
                                                      {"report.doc.tmp", "another"}};
    auto expected = std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}};
    for (const auto& [name, bytes] : siblings) {
        Write(folder / name, bytes);
        expected[name] = Fingerprint(bytes);
    }
    const std::string contents = Noise(3 * kChunk + 5, 8);
    for (Form form : {Form::Single, Form::Cached}) {
        ServeIn(form, contents);
        DownloadHandlers::Behaviour failing;
        failing.form = form;
        failing.singleFault = DownloadHandlers::SingleReplyFault::CorruptStream;
        files.SetBehaviour(failing);
        if (form == Form::Cached)
            files.QueuePacketActions({PacketAction::Data, PacketAction::Stop});
        EXPECT_EQ(RestoreFile(target.u16string()), 0);
        expected["report.doc"] = Fingerprint(old);
        EXPECT_EQ(Folder(), expected);

        ServeIn(form, contents);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        expected["report.doc"] = Fingerprint(contents);
        EXPECT_EQ(Folder(), expected);
        Write(target, old);
    }
}

// Watched by the file system: the local file's name is never free, not even for a moment,
// and the old file is never written into; the new file arrives by one rename.
TEST_F(LocalFilesTest, TheOldFileIsReplacedInOneStepInEitherForm)
{
    for (Form form : {Form::Single, Form::Cached}) {
        Write(target, old);
        ServeIn(form);
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, folder.c_str(),
                                    IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_CREATE | IN_CLOSE_WRITE),
                  0);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        std::vector<uint32_t> onTarget;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t length; (length = read(watch, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::string(event->name) == "report.doc")
                    onTarget.push_back(event->mask);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        close(watch);
        EXPECT_EQ(onTarget, std::vector<uint32_t>{IN_MOVED_TO});
        EXPECT_EQ(Folder().size(), 1u);
    }
}

TEST_F(LocalFilesTest, AHostKilledInTheMiddleOfACachedTransferLeavesTheOldFile)
{
    ServeIn(Form::Cached);
    // One chunk, then a server that keeps preparing: the transfer cannot end before the kill.
    std::vector<PacketAction> actions{PacketAction::Data};
    actions.resize(10000, PacketAction::Preparing);
    files.QueuePacketActions(actions);
    HostRestore restore(server.Address(), target, cwd);
    ASSERT_TRUE(restore.Started());
    // The host's first progress line: a chunk is in the transfer file.
    ASSERT_TRUE(restore.WaitForLine(" MiB/s "));
    restore.Kill();
    EXPECT_TRUE(Read(target) == old);
}

TEST_F(LocalFilesTest, ANameAtTheFileSystemsLimitIsRestoredInEitherForm)
{
    const std::string name(255, 'n');
    for (Form form : {Form::Single, Form::Cached}) {
        ServeIn(form);
        Write(folder / name, old);
        EXPECT_EQ(RestoreFile(Utf8ToUtf16((folder / name).string())), 1);
        EXPECT_TRUE(Read(folder / name) == Noise(900 * 1024, 5));
        std::filesystem::remove(folder / name);
    }
    EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}}));
}

TEST_F(LocalFilesTest, ASingleReplyToAShortRelativePathIsRestored)
{
    ServeIn(Form::Single, "short");
    EXPECT_EQ(RestoreFile(u"abc"), 1);
    EXPECT_EQ(Read(cwd / "abc"), "short");
}
