// The cost of one traced call: entry line, two variable lines, a result and the exit line,
// first without a settings file (nothing is written), then traced into a file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "qvlib/CQVLog.h"
#include "qvlib/CQVLogScope.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder as the current directory, with the given settings file (none when empty), and
// the log rebuilt from it.
class LogFolder {
public:
    explicit LogFolder(const std::string& settings)
    {
        std::string pattern = (fs::temp_directory_path() / "kelvane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_folder = pattern;
        m_previous = fs::current_path();
        fs::current_path(m_folder);
        if (!settings.empty())
            std::ofstream(m_folder / "QV_LOG.INI") << settings;
        CQVLog::RebuildInstance();
    }

    ~LogFolder()
    {
        fs::current_path(m_previous);
        CQVLog::RebuildInstance();
        fs::remove_all(m_folder);
    }

private:
    fs::path m_folder;
    fs::path m_previous;
};

void TracedCall(int32_t value)
{
    CQVLogScope scope(u"OpenChannel", u"Kelvane", u"265");
    scope.GetLog().Enter(scope);
    scope.LogVar(u"UserName", u"alice");
    scope.LogVar(u"ProxyPort", value);
    scope.SetExitLine(u"331");
    benchmark::DoNotOptimize(scope.LogResult(value));
}

void TracedCallWithoutSettings(benchmark::State& state)
{
    LogFolder folder("");
    int32_t value = 0;
    for (auto _ : state)
        TracedCall(++value);
}
BENCHMARK(TracedCallWithoutSettings);

void TracedCallIntoFile(benchmark::State& state)
{
    LogFolder folder("[log]\npath=trace\nflush=0\nrotateBySize=1\nMaxFileSize=10\n");
    int32_t value = 0;
    for (auto _ : state)
        TracedCall(++value);
}
BENCHMARK(TracedCallIntoFile);

}  // namespace

BENCHMARK_MAIN();
