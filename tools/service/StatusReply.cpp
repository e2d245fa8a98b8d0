#include "service/StatusReply.h"

#include "util/LittleEndian.h"

namespace {

void PutText(std::vector<uint8_t>* out, const std::u16string& text)
{
    AppendLittleEndian32(out, static_cast<uint32_t>(text.size()));
    for (char16_t unit : text)
        AppendLittleEndian16(out, unit);
}

}  // namespace

std::vector<uint8_t> StatusReply::Encode() const
{
    std::vector<uint8_t> out;
    AppendLittleEndian32(&out, result);
    AppendLittleEndian32(&out, headWord);
    for (const std::u16string* text : {&text1, &stepStatusFile, &progressStatusFile, &text4, &text5,
                                       &text6, &text7})
        PutText(&out, *text);
    AppendLittleEndian32(&out, static_cast<uint32_t>(totalProgress));
    AppendLittleEndian32(&out, progressWord);
    PutText(&out, text8);
    AppendLittleEndian32(&out, middleWord1);
    AppendLittleEndian32(&out, middleWord2);
    for (const std::u16string* text : {&text9, &text10, &text11})
        PutText(&out, *text);
    AppendLittleEndian32(&out, blockWord1);
    AppendLittleEndian32(&out, animate);
    for (uint32_t word : blockWords3To15)
        AppendLittleEndian32(&out, word);
    AppendLittleEndian32(&out, blockWord16);
    for (uint32_t flag : userStatusFlags)
        AppendLittleEndian32(&out, flag);
    PutText(&out, text12);
    PutText(&out, text13);
    if (!text14.has_value())
        return out;
    PutText(&out, *text14);
    for (uint32_t word : {static_cast<uint32_t>(tailWord1), tailWord2, inBackupNow, tailWord4,
                          stepStatusCode, estimatedFiles, backedUpFiles})
        AppendLittleEndian32(&out, word);
    return out;
}
