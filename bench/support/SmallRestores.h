// Many small restores on one channel, each file coming as one compressed reply: RestoreFile of
// the library linked in (and of another build of it, when one is given) against the floor of
// the same work. The floor is a frame client that sends, for each file, the very requests that
// the library sent for one restore, then inflates the reply, writes it to a file of its own
// beside the target, sets its time, flushes it to its disk and renames it over the target,
// with plain calls. Each side restores into a folder of its own, over files that exist or to
// fresh names, and the sides take turns at going first, round by round.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/support/FrameClient.h"
#include "bench/support/RestoreExports.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/StandinServer.h"

class SmallRestores {
public:
    enum class Target { OverExisting, FreshNames };

    SmallRestores(StandinServer& server, DownloadHandlers& files, int rounds, int filesPerRun);
    ~SmallRestores();
    SmallRestores(const SmallRestores&) = delete;
    SmallRestores& operator=(const SmallRestores&) = delete;

    // Opens a channel with the linked library and, when other is given, one with that build
    // (named otherName in the table), and connects the floor's client; false when one fails.
    bool Start(const std::string& user, const RestoreExports* other,
               const std::string& otherName);
    // Serves a file of each size and records the requests of one restore of it by the library
    // (to a scratch file in folder); false when such a restore fails.
    bool ServeFiles(const std::vector<size_t>& sizes, const std::filesystem::path& folder);
    void PrintHeader() const;
    // Restores filesPerRun files of a served size into folder, per side and round; prints the
    // medians and their ratios on one line. False when a restore fails.
    bool Compare(size_t size, const std::filesystem::path& folder, const char* where,
                 Target target);
    void Close();

private:
    struct Side {
        std::string name;
        // The library's exports, or none for the floor.
        RestoreExports exports;
        Csocketclient* channel = nullptr;
        std::vector<double> filesPerSecond;
        std::vector<double> cpuPerThousand;
    };
    // The files of one side in one comparison.
    struct Batch {
        FrameClient::Codes codes;
        std::vector<std::filesystem::path> paths;
        std::vector<std::u16string> widePaths;
        const std::vector<std::vector<uint8_t>>* requests = nullptr;
    };

    bool RecordRequests(const FrameClient::Codes& codes, const std::filesystem::path& folder,
                        std::vector<std::vector<uint8_t>>* requests, std::string* sent);
    static Batch MakeBatch(const FrameClient::Codes& codes, const std::filesystem::path& folder,
                           int files);
    // Restores the batch's files by one side; false when a restore fails.
    bool Restore(const Side& side, const Batch& batch);
    bool RunSide(Side& side, const Batch& batch, size_t size, Target target);
    bool RestoreByLibrary(const Side& side, const Batch& batch) const;
    bool RestoreByFloor(const Batch& batch);
    void PrintLine(const std::string& what, size_t size) const;

    StandinServer& m_server;
    DownloadHandlers& m_files;
    int m_rounds;
    int m_filesPerRun;
    // Kelvane, the floor, then the other build when there is one.
    std::vector<Side> m_sides;
    FrameClient m_floor;
    std::vector<uint8_t> m_inflated;
    // By file size: the served file's codes and the requests of one restore by the library.
    std::map<size_t, FrameClient::Codes> m_codes;
    std::map<size_t, std::vector<std::vector<uint8_t>>> m_requests;
    // The requests of one restore, as the header shows them.
    std::string m_sent;
};
