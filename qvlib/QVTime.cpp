#include "qvlib/QVTime.h"

#include <ctime>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {
constexpr size_t kFormatCapacity = 4096;
}

int64_t QVGetCurrentTime()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME fileTime{};
    SystemTimeToFileTime(&now, &fileTime);
    return FileTimeToUnixTime(fileTime);
}

CQVString QVFormatTime(const char16_t* format, int64_t time)
{
    CQVString result;
    if (time < 0 || format == nullptr)
        return result;
    const time_t seconds = static_cast<time_t>(time);
    struct tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return result;
    // There is no strftime for UTF-16 text: format the UTF-8 form and convert back.
    const std::string narrowFormat = Utf16ToUtf8(format);
    char buffer[kFormatCapacity] = {};
    const size_t length = strftime(buffer, sizeof buffer, narrowFormat.c_str(), &local);
    result.assign(Utf8ToUtf16(std::string(buffer, length)));
    return result;
}
