// kelvane-host: a host program for libkelvane.so. Like the managed host it stands in for, it
// loads the library at run time and calls its exported functions by name. It runs the steps
// given on its command line in order, on one channel, and prints what each call returned.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/AccountSteps.h"
#include "host/ChannelSteps.h"
#include "host/StepValues.h"

namespace {

constexpr const char* kUsage =
    "usage: kelvane-host [--library PATH] [--proxy HOST PORT [--proxy-user USER PASSWORD]]\n"
    "                    STEP...\n"
    "Runs the steps in order on one channel and prints what each call returned. Numbers are\n"
    "decimal, or hexadecimal after 0x.\n";
// The column at which the usage describes a step.
constexpr int kSummaryColumn = 37;

void PrintStepUsage(const Step& step)
{
    std::string call = std::string("  ") + step.name;
    if (step.values[0] != '\0')
        call += std::string(" ") + step.values;
    if (call.size() + 2 > kSummaryColumn)
        std::fprintf(stderr, "%s\n%*s%s\n", call.c_str(), kSummaryColumn, "", step.summary);
    else
        std::fprintf(stderr, "%-*s%s\n", kSummaryColumn, call.c_str(), step.summary);
}

void PrintUsage()
{
    std::fputs(kUsage, stderr);
    for (std::span<const StepGroup> groups : {ChannelStepGroups(), AccountStepGroups()}) {
        for (const StepGroup& group : groups) {
            std::fprintf(stderr, "%s:\n", group.heading);
            for (const Step& step : group.steps)
                PrintStepUsage(step);
        }
    }
}

const Step* FindStep(const char* name)
{
    for (std::span<const StepGroup> groups : {ChannelStepGroups(), AccountStepGroups()}) {
        for (const StepGroup& group : groups) {
            for (const Step& step : group.steps) {
                if (std::strcmp(step.name, name) == 0)
                    return &step;
            }
        }
    }
    return nullptr;
}

// Reads the options before the steps into the session; gives the index of the first step, or
// 0 when an option is unknown or lacks its values.
int ReadOptions(int argc, char** argv, HostSession& session, std::string& libraryPath)
{
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string option = argv[i];
        if (option == "--library" && i + 1 < argc) {
            libraryPath = argv[++i];
        } else if (option == "--proxy" && i + 2 < argc) {
            session.proxy.use = 1;
            session.proxy.host = Wide(argv[++i]);
            session.proxy.port = static_cast<int32_t>(ParseNumber(argv[++i]));
        } else if (option == "--proxy-user" && i + 2 < argc) {
            session.proxy.user = Wide(argv[++i]);
            session.proxy.password = Wide(argv[++i]);
        } else {
            return 0;
        }
    }
    return i;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    HostSession session;
    std::string libraryPath = HostLibrary::DefaultPath();
    int i = ReadOptions(argc, argv, session, libraryPath);
    if (i == 0 || i == argc) {
        PrintUsage();
        return 2;
    }
    if (!session.exports.Load(libraryPath))
        return 1;
    bool failed = false;
    while (i < argc) {
        const Step* step = FindStep(argv[i]);
        if (step == nullptr || i + 1 + step->ValueCount() > argc) {
            std::fprintf(stderr, "kelvane-host: unknown step or missing values: %s\n", argv[i]);
            PrintUsage();
            session.CloseChannel();
            return 2;
        }
        // A call that fails is reported and does not stop the steps that follow.
        failed = !step->run(session, argv + i + 1) || failed;
        i += 1 + step->ValueCount();
    }
    session.CloseChannel();
    return failed ? 1 : 0;
}
