// kelvane-service: the stand-in local backup service as a program. It listens on the
// service's pipe sockets in the pipe folder, answers every command, prints each request, and
// runs until interrupted.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/pipe.h"
#include "platform/text.h"
#include "service/StandinService.h"
#include "util/LittleEndian.h"

namespace {

const char kUsage[] =
    "usage: kelvane-service [options]\n"
    "  --folder DIR           socket folder (default: $KELVANE_PIPE_DIR, $XDG_RUNTIME_DIR, /tmp)\n"
    "  --names both|session|plain   pipe names to listen on (default: both)\n"
    "  --result CODE=WORD     result word of the reply to a control command\n"
    "  --step CODE            step status code of the status reply\n"
    "  --progress N           total progress\n"
    "  --files ESTIMATED,DONE estimated and backed-up file counts\n"
    "  --status-file TEXT     step and progress status file text\n"
    "  --animate N            animate word\n"
    "  --backing-up N         backup-running word\n"
    "  --user-flags A,B,C,D   user status flags\n";

uint32_t Number(const char* text)
{
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
}

bool Fail(const char* what)
{
    std::fprintf(stderr, "kelvane-service: %s\n%s", what, kUsage);
    return false;
}

struct Settings {
    std::string folder = PipeFolder();
    StandinService::Names names = StandinService::Names::SessionAndPlain;
    std::vector<std::pair<uint32_t, uint32_t>> results;
    StatusReply status;
};

// Applies one option that takes a value; false for an unknown option or a bad value.
bool Apply(Settings* settings, const std::string& option, const char* value)
{
    StatusReply& status = settings->status;
    if (option == "--folder") {
        settings->folder = value;
    } else if (option == "--names") {
        std::string names = value;
        if (names == "session")
            settings->names = StandinService::Names::SessionOnly;
        else if (names == "plain")
            settings->names = StandinService::Names::PlainOnly;
        else if (names != "both")
            return false;
    } else if (option == "--result") {
        const char* equals = std::strchr(value, '=');
        if (equals == nullptr)
            return false;
        settings->results.emplace_back(Number(value), Number(equals + 1));
    } else if (option == "--step") {
        status.stepStatusCode = Number(value);
    } else if (option == "--progress") {
        status.totalProgress = static_cast<int32_t>(Number(value));
    } else if (option == "--files") {
        const char* comma = std::strchr(value, ',');
        if (comma == nullptr)
            return false;
        status.estimatedFiles = Number(value);
        status.backedUpFiles = Number(comma + 1);
    } else if (option == "--status-file") {
        status.stepStatusFile = status.progressStatusFile = Utf8ToUtf16(value);
    } else if (option == "--animate") {
        status.animate = Number(value);
    } else if (option == "--backing-up") {
        status.inBackupNow = Number(value);
    } else if (option == "--user-flags") {
        const char* next = value;
        for (uint32_t& flag : status.userStatusFlags) {
            flag = Number(next);
            next = std::strchr(next, ',');
            if (next == nullptr)
                break;
            ++next;
        }
    } else {
        return false;
    }
    return true;
}

bool ParseArguments(int argc, char** argv, Settings* settings)
{
    for (int index = 1; index < argc; index += 2) {
        std::string option = argv[index];
        if (index + 1 >= argc)
            return Fail(("missing value for " + option).c_str());
        if (!Apply(settings, option, argv[index + 1]))
            return Fail(("bad option " + option).c_str());
    }
    return true;
}

void PrintRequests(const StandinService& service, size_t* printed)
{
    std::vector<StandinService::Request> requests = service.Requests();
    for (; *printed < requests.size(); ++*printed) {
        const StandinService::Request& request = requests[*printed];
        std::printf("request: %zu bytes, command %u%s\n", request.bytes.size(), request.command,
                    request.wellFormed ? "" : " (malformed)");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (!ParseArguments(argc, argv, &settings))
        return 2;

    // The signals are taken by sigtimedwait below, never by a handler, so the service's
    // thread must not receive them either.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    StandinService service(settings.folder, settings.names);
    service.SetStatus(settings.status);
    for (const auto& [command, word] : settings.results) {
        std::vector<uint8_t> reply;
        AppendLittleEndian32(&reply, word);
        service.SetReply(command, std::move(reply));
    }
    if (!service.Start()) {
        std::perror("kelvane-service: cannot listen");
        return 1;
    }
    std::printf("listening in %s as %s\n", settings.folder.c_str(),
                settings.names == StandinService::Names::PlainOnly
                    ? StandinService::kBaseName
                    : StandinService::SessionName().c_str());
    std::fflush(stdout);

    size_t printed = 0;
    const timespec pause{0, 200 * 1000 * 1000};
    while (sigtimedwait(&stopSignals, nullptr, &pause) < 0)
        PrintRequests(service, &printed);
    PrintRequests(service, &printed);
    return 0;
}
