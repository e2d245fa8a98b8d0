// The parameter exports: the host keeps a set of texts in sealed form (in its own settings,
// for example) and opens them again later. Sealing and opening are the channel's, but need no
// connection, so a channel that is not connected serves as well.
#include "kelvane.h"

#include <algorithm>
#include <string>

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "connection/Csocketclient.h"

namespace {

// Characters of the scratch buffer that every piece is sealed into or opened into.
constexpr size_t kScratchCapacity = 4096;
using Scratch = WCHAR[kScratchCapacity];

constexpr const char16_t* kOutputTooSmall = u"Output buffer too small.";

// Seals text into scratch (zero-filled first); false when it cannot be sealed.
bool Seal(Csocketclient& channel, const WCHAR* text, Scratch& scratch)
{
    std::fill(std::begin(scratch), std::end(scratch), u'\0');
    return text != nullptr && channel.SetParameters(text, scratch) != 0;
}

// Opens a sealed text into scratch (zero-filled first); false when it is refused.
bool Open(Csocketclient& channel, const WCHAR* sealed, Scratch& scratch)
{
    std::fill(std::begin(scratch), std::end(scratch), u'\0');
    return sealed != nullptr && channel.GetParameters(sealed, scratch) != 0;
}

} // namespace

extern "C" {

int32_t SetParameters(Csocketclient* channel, const char16_t* a, const char16_t* b,
                      const char16_t* c, const char16_t* d, char16_t* out, int32_t outCapacity)
{
    return ExportFrame::Run(u"SetParameters", u"1258", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return 0;
        Scratch scratch;
        if (!Seal(*channel, a, scratch)) {
            frame.Error(1301, u"Set Paramters failed. step 1");
            return 0;
        }
        std::u16string result = scratch;
        if (!Seal(*channel, b, scratch)) {
            frame.Error(1296, u"Set Paramters failed. step 2");
            return 0;
        }
        result += u"|";
        result += scratch;
        if (c == nullptr || d == nullptr ||
            !Seal(*channel, (std::u16string(c) + u":" + d).c_str(), scratch)) {
            frame.Error(1291, u"Set Paramters failed. step 3");
            return 0;
        }
        result += u"|";
        result += scratch;
        if (!CopyTextToHost(result, out, outCapacity)) {
            frame.Error(1305, kOutputTooSmall);
            return 0;
        }
        return frame.Return(u"1305", 1);
    });
}

int32_t GetParameters(Csocketclient* channel, const char16_t* sealed1, const char16_t* sealed2,
                      const char16_t* sealed3, char16_t* out1, int32_t out1Capacity,
                      char16_t* out2, int32_t out2Capacity)
{
    return ExportFrame::Run(u"GetParameters", u"1310", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return 0;
        Scratch scratch;
        if (!Open(*channel, sealed1, scratch)) {
            frame.Error(1348, u"Get Paramters failed. step 1");
            return 0;
        }
        std::u16string first = scratch;
        if (!Open(*channel, sealed2, scratch)) {
            frame.Error(1343, u"Get Paramters failed. step 2");
            return 0;
        }
        first += u":";
        first += scratch;
        if (!CopyTextToHost(first, out1, out1Capacity)) {
            frame.Error(1352, kOutputTooSmall);
            return 0;
        }
        if (!Open(*channel, sealed3, scratch)) {
            frame.Error(1338, u"Get Paramters failed. step 3");
            return 0;
        }
        if (!CopyTextToHost(scratch, out2, out2Capacity)) {
            frame.Error(1352, kOutputTooSmall);
            return 0;
        }
        return frame.Return(u"1352", 1);
    });
}

} // extern "C"
