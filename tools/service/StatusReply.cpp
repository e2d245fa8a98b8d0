#include "service/StatusReply.h"

namespace {

void PutWord(std::vector<uint8_t>* out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<uint8_t>(value >> shift));
}

void PutText(std::vector<uint8_t>* out, const std::u16string& text)
{
    PutWord(out, static_cast<uint32_t>(text.size()));
    for (char16_t unit : text) {
        out->push_back(static_cast<uint8_t>(unit));
        out->push_back(static_cast<uint8_t>(unit >> 8));
    }
}

}  // namespace

std::vector<uint8_t> StatusReply::Encode() const
{
    std::vector<uint8_t> out;
    PutWord(&out, result);
    PutWord(&out, headWord);
    for (const std::u16string* text : {&text1, &stepStatusFile, &progressStatusFile, &text4, &text5,
                                       &text6, &text7})
        PutText(&out, *text);
    PutWord(&out, static_cast<uint32_t>(totalProgress));
    PutWord(&out, progressWord);
    PutText(&out, text8);
    PutWord(&out, middleWord1);
    PutWord(&out, middleWord2);
    for (const std::u16string* text : {&text9, &text10, &text11})
        PutText(&out, *text);
    PutWord(&out, blockWord1);
    PutWord(&out, animate);
    for (uint32_t word : blockWords3To15)
        PutWord(&out, word);
    PutWord(&out, blockWord16);
    for (uint32_t flag : userStatusFlags)
        PutWord(&out, flag);
    PutText(&out, text12);
    PutText(&out, text13);
    if (!text14.has_value())
        return out;
    PutText(&out, *text14);
    for (uint32_t word : {static_cast<uint32_t>(tailWord1), tailWord2, inBackupNow, tailWord4,
                          stepStatusCode, estimatedFiles, backedUpFiles})
        PutWord(&out, word);
    return out;
}
