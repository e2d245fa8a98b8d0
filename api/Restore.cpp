// The restore exports: a file from the server straight to its local path, or a file version
// rebuilt by applying the records of a local block file onto the server's copy of the file.
// Both run the download with the host's callback installed on the channel, so that the host
// sees the progress and can cancel, and take the callback off again on every way out.
#include "kelvane.h"

#include <array>
#include <memory>
#include <string>

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "connection/Csocketclient.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/path.h"
#include "platform/placement.h"
#include "restore/CBlocks.h"
#include "util/Cutil.h"

namespace {

// Chunk size of a cached download, in bytes.
constexpr DWORD kRestorePacketSize = 0x20000;
// Characters of a composed path, the terminator included.
constexpr size_t kPathCapacity = 1024;
// Written anew in the current directory by every RestoreFile; nothing reads it back.
constexpr const WCHAR* kRestoreNoteName = u"Log.txt";
// Arguments of the version build of a hybrid restore: with progress, against no known CRC,
// so a CRC difference is accepted.
constexpr int32_t kBuildWithProgress = 1;
constexpr uint32_t kNoExpectedCrc = 0;
constexpr uint32_t kAcceptMismatch = 1;

// The five 64-bit codes that name a file version on the server, as their ten 32-bit words,
// each code's low word first.
using FileCodes = std::array<DWORD, 10>;

// The code at index (0 to 4).
ULONGLONG FileCode(const FileCodes& codes, size_t index)
{
    return JoinCode(codes[2 * index], codes[2 * index + 1]);
}

struct CallbackRemoval {
    void operator()(Csocketclient* channel) const { channel->SetCallback(0, nullptr); }
};
// The host's callback, installed on the channel until this is released.
using InstalledCallback = std::unique_ptr<Csocketclient, CallbackRemoval>;

InstalledCallback InstallHostCallback(Csocketclient& channel, TransportCallback callback)
{
    channel.SetCallback(0, callback);
    channel.SetGetPacketSize(kRestorePacketSize);
    return InstalledCallback(&channel);
}

// Downloads the file version: a cached transfer ends at path, a single reply at finalPath.
// The download writes a file of its own beside path and replaces the destination only with
// the complete file, so a download that fails leaves the destination as it was. The
// preparation runs once in the download, while the echo that tests the connection travels.
// 1 when the file is there.
INT Download(Csocketclient& channel, const FileCodes& codes, const WCHAR* path,
             const WCHAR* finalPath, const Csocketclient::Preparation& preparation = {})
{
    DWORD word = 0;
    DWORD done = 0;
    DWORD fileTime = 0;
    return channel.RequestFile(codes[0], codes[1], codes[2], codes[3], codes[4], codes[5],
                               codes[6], codes[7], codes[8], codes[9], path, finalPath, 0, &word,
                               &done, &fileTime, preparation);
}

// Whether both paths name one file, however each is spelt. Two paths that name existing files
// name one when the files are one (through links, or as two names of one file); an existing
// file and a missing one never do; paths that name nothing yet (or what cannot be examined) do
// when they come to the same path once folders and links are resolved. Nothing is opened: a
// name may be a pipe, whose open would wait.
bool NameOneFile(const WCHAR* first, const WCHAR* second)
{
    const WCHAR* paths[2] = {first, second};
    BY_HANDLE_FILE_INFORMATION identities[2] = {};
    bool found[2];
    bool missing[2];
    for (size_t i = 0; i < 2; ++i) {
        found[i] = CheckFileAccessW(paths[i], 0, &identities[i]) != FALSE;
        missing[i] = !found[i] && (GetLastError() == ERROR_FILE_NOT_FOUND ||
                                   GetLastError() == ERROR_PATH_NOT_FOUND);
    }
    if (found[0] && found[1])
        return IsSameFile(identities[0], identities[1]);
    if ((found[0] && missing[1]) || (missing[0] && found[1]))
        return false;
    std::u16string resolved[2];
    for (size_t i = 0; i < 2; ++i) {
        if (!ResolveLinksW(paths[i], &resolved[i]))
            return false;
    }
    return resolved[0] == resolved[1];
}

// Writes text followed by localPath, as UTF-16LE without a byte-order mark or terminator, to
// "Log.txt" in the current directory, which is created or emptied. The file stays open until
// the handle is released; when it cannot be opened nothing is written. Only a regular file
// gets the note: the open never waits for a pipe's reader, and emptying, which the open does,
// fails on anything else. A local file that is "Log.txt" itself, there yet or not, gets no
// note: emptying it would lose the user's file should the restore fail, and a note written
// there would be what the restore leaves.
OwnedHandle WriteRestoreNote(const WCHAR* text, const WCHAR* localPath)
{
    if (NameOneFile(kRestoreNoteName, localPath))
        return OwnedHandle();
    OwnedHandle file(CreateFileW(kRestoreNoteName, GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return OwnedHandle();
    const std::u16string note = std::u16string(text) + localPath;
    std::string bytes;
    bytes.reserve(2 * note.size());
    for (char16_t unit : note) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    DWORD written = 0;
    if (bytes.size() <= 0xFFFFFFFFu)
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return file;
}

// Formats a path into out; false, with the thread's last error set to the system's code for
// an over-long name, when it would not fit.
template <typename... Args>
bool ComposePath(WCHAR (&out)[kPathCapacity], const WCHAR* format, const Args&... args)
{
    if (FormatW(out, kPathCapacity, format, args...) >= 0)
        return true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

// Whether the temporary path already names the block file or the destination, which the
// download would replace; the thread's last error then says that the file exists.
bool TakenByHostFile(const WCHAR* temporaryPath, const WCHAR* blockPath,
                     const WCHAR* destination)
{
    if (GetFileAttributesW(temporaryPath) == INVALID_FILE_ATTRIBUTES ||
        (!NameOneFile(temporaryPath, blockPath) && !NameOneFile(temporaryPath, destination)))
        return false;
    SetLastError(ERROR_FILE_EXISTS);
    return true;
}

// Writes the file's data through to the disk. False, with the last error, when the file
// cannot be opened or flushed.
bool FlushToDisk(const WCHAR* path)
{
    const OwnedHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return false;
    // Closing a handle leaves the thread's last error alone.
    return FlushFileBuffers(file.get()) != FALSE;
}

// Moves the rebuilt file to its destination, which it never replaces, once its data is on
// the disk (so the destination never names a file that a power loss could leave short);
// false when it did not get there (the file then keeps its temporary name). A destination
// that is the temporary path itself already holds the rebuilt file.
bool MoveIntoPlace(ExportFrame& frame, const WCHAR* temporaryPath, const WCHAR* destination)
{
    frame.Info(FormatString(u"Move File %s to %s", temporaryPath, destination).c_str());
    if (FlushToDisk(temporaryPath) &&
        (NameOneFile(temporaryPath, destination) || MoveFileW(temporaryPath, destination)))
        return true;
    frame.Error(707, u"Move file Has failed.");
    return false;
}

} // namespace

extern "C" {

int32_t RestoreFile(Csocketclient* channel, uint32_t code1Low, uint32_t code1High,
                    uint32_t code2Low, uint32_t code2High, uint32_t code3Low, uint32_t code3High,
                    uint32_t code4Low, uint32_t code4High, uint32_t code5Low, uint32_t code5High,
                    const char16_t* localPath, uint32_t unused1, uint32_t unused2,
                    const char16_t* text, TransportCallback callback)
{
    return ExportFrame::Run(u"RestoreFile", u"637", 0, [&](ExportFrame& frame) {
        if (channel == nullptr || localPath == nullptr || text == nullptr)
            return 0;
        const FileCodes codes{code1Low, code1High, code2Low, code2High, code3Low,
                              code3High, code4Low, code4High, code5Low, code5High};
        InstalledCallback installed = InstallHostCallback(*channel, callback);
        // The note is written once the download has checked the local path, while the echo
        // that tests the connection travels (its log lines reach the host's callback, as
        // those of the download do); a path the download refuses still gets it.
        OwnedHandle note;
        const INT result = Download(*channel, codes, localPath, localPath,
                                    [&] { note = WriteRestoreNote(text, localPath); });
        installed.reset();
        return frame.Return(u"655", result);
    });
}

int32_t RestoreHybridFile(Csocketclient* channel, uint32_t code1Low, uint32_t code1High,
                          uint32_t code2Low, uint32_t code2High, uint32_t code3Low,
                          uint32_t code3High, uint32_t code4Low, uint32_t code4High,
                          uint32_t code5Low, uint32_t code5High, const char16_t* folder,
                          const char16_t* blockFileName, const char16_t* destination,
                          TransportCallback callback)
{
    return ExportFrame::Run(u"RestoreHybridFile", u"661", 0, [&](ExportFrame& frame) {
        if (channel == nullptr || folder == nullptr || blockFileName == nullptr ||
            destination == nullptr)
            return 0;
        const FileCodes codes{code1Low, code1High, code2Low, code2High, code3Low,
                              code3High, code4Low, code4High, code5Low, code5High};
        CBlocks blocks;
        InstalledCallback installed = InstallHostCallback(*channel, callback);
        WCHAR blockPath[kPathCapacity];
        CBlocks::Header header{};
        if (!ComposePath(blockPath, u"%s\\%s", folder, blockFileName) ||
            !blocks.ReadHeader(blockPath, &header)) {
            frame.Error(678, u"ReadHeader has failed.");
            return frame.Return(u"679", 0);
        }
        WCHAR temporaryPath[kPathCapacity];
        if (!ComposePath(temporaryPath, u"%s\\%I64u_%I64u.tmp", folder, FileCode(codes, 3),
                         FileCode(codes, 4)) ||
            TakenByHostFile(temporaryPath, blockPath, destination) ||
            !Download(*channel, codes, temporaryPath, temporaryPath)) {
            frame.Error(691, u"GetFile has failed.");
            return frame.Return(u"692", 0);
        }
        WCHAR reason[CBlocks::kMessageCapacity] = {};
        int32_t result = blocks.CreateVersionOnDisk(kBuildWithProgress, temporaryPath, blockPath,
                                                    header.versionSize, kNoExpectedCrc,
                                                    kAcceptMismatch, FileCode(codes, 3), reason)
                             ? 1
                             : 0;
        if (result == 0) {
            frame.Error(698, u"Create Version On Disk failed.");
            frame.Var(u"reason", static_cast<const char16_t*>(reason));
            // A partly rebuilt file is not the version: it never takes the destination's place.
            DeleteFileW(temporaryPath);
        } else if (!MoveIntoPlace(frame, temporaryPath, destination)) {
            result = 0;
        }
        return frame.Return(u"712", result);
    });
}

} // extern "C"
