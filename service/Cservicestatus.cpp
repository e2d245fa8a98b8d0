#include "service/Cservicestatus.h"

#include <algorithm>
#include <type_traits>

#include "platform/text.h"

Cservicestatus g_status;

namespace {

// The head word's place; the items after it follow one another.
constexpr uint32_t kHeadOffset = 4;

// How far a reply's items may reach: the caller's zero-filled buffer, which holds at least
// the received bytes.
uint64_t Extent(uint32_t receivedLength)
{
    return std::max(receivedLength, Cservicestatus::kReplyBufferSize);
}

// A byte of the caller's buffer; past the received bytes it holds zero, so it is not read.
uint8_t ByteAt(const uint8_t* reply, uint32_t receivedLength, uint64_t index)
{
    return index < receivedLength ? reply[index] : 0;
}

uint32_t WordAt(const uint8_t* reply, uint32_t receivedLength, uint64_t index)
{
    uint32_t value = 0;
    for (uint64_t byte = 4; byte-- > 0;)
        value = (value << 8) | ByteAt(reply, receivedLength, index + byte);
    return value;
}

// Reads the word at *position and moves past it; false when it lies past the buffer.
bool ReadWord(const uint8_t* reply, uint32_t receivedLength, uint32_t* position, uint32_t* value)
{
    if (uint64_t{*position} + 4 > Extent(receivedLength))
        return false;
    *value = WordAt(reply, receivedLength, *position);
    *position += 4;
    return true;
}

void SetText(WCHAR* field, uint32_t width, const WCHAR* text)
{
    lstrcpynW(field, text, static_cast<int>(width));
}

}  // namespace

Cservicestatus::Cservicestatus()
    : m_stepStatusCode(0xFFFF),
      m_blockWord1(0),
      m_progressWord(0),
      m_totalProgress(-1),
      m_estimatedFileCount(0),
      m_backedUpFileCount(0),
      m_headWord(1),
      m_middleWord1(1),
      m_middleWord2(0),
      m_animate(1),
      m_blockWords3To15{},
      m_blockWord16(0),
      m_userStatusFlagA(0),
      m_userStatusFlagB(0),
      m_userStatusFlagC(0),
      m_userStatusFlagD(0),
      m_tailWord1(-1),
      m_tailWord2(0),
      m_inbackupnow(0),
      m_tailWord4(0)
{
    SetText(m_stepStatusFile, kLongText, u" ");
    SetText(m_text1, kShortText, u" ");
    SetText(m_text9, kShortText, u"");
    SetText(m_progressStatusFile, kLongText, u" ");
    SetText(m_text5, kShortText, u" ");
    SetText(m_text4, kShortText, u" ");
    SetText(m_text6, kLongText, u" ");
    SetText(m_text7, kLongText, u" ");
    InitializeCriticalSection(&m_lock);
    SetText(m_text8, kShortText, u"backed up 0 files");
    SetText(m_text13, kShortText, u"");
    SetText(m_text12, kShortText, u"");
    SetText(m_text11, kShortText, u"");
    SetText(m_text10, kShortText, u"");
    SetText(m_text14, kShortText, u"");
}

Cservicestatus::~Cservicestatus()
{
    DeleteCriticalSection(&m_lock);
}

uint32_t Cservicestatus::GetStepCode()
{
    EnterCriticalSection(&m_lock);
    uint32_t code = m_stepStatusCode;
    LeaveCriticalSection(&m_lock);
    return code;
}

uint32_t Cservicestatus::ReadString(const uint8_t* reply, uint32_t receivedLength,
                                    uint32_t* position, WCHAR* field, uint32_t width)
{
    const uint64_t start = uint64_t{*position} + 4;
    if (start > Extent(receivedLength))
        return 0;
    const uint32_t count = WordAt(reply, receivedLength, *position);
    const uint64_t end = start + 2 * uint64_t{count};
    if (end > Extent(receivedLength))
        return 0;
    if (count <= kMaxTextCount && width > 0) {
        const uint32_t kept = std::min(count, width - 1);
        for (uint32_t index = 0; index < kept; ++index) {
            const uint64_t at = start + 2 * uint64_t{index};
            field[index] = static_cast<WCHAR>(ByteAt(reply, receivedLength, at) |
                                              ByteAt(reply, receivedLength, at + 1) << 8);
        }
        field[kept] = 0;
    }
    *position = static_cast<uint32_t>(end);
    return 1;
}

uint32_t Cservicestatus::Decode(const uint8_t* reply, uint32_t receivedLength)
{
    uint32_t position = kHeadOffset;
    bool fits = true;
    auto word = [&](auto* field) {
        uint32_t value = 0;
        fits = fits && ReadWord(reply, receivedLength, &position, &value);
        if (fits)
            *field = static_cast<std::remove_pointer_t<decltype(field)>>(value);
    };
    auto text = [&](WCHAR* field, uint32_t width) {
        fits = fits && ReadString(reply, receivedLength, &position, field, width) != 0;
    };

    word(&m_headWord);
    text(m_text1, kShortText);
    text(m_stepStatusFile, kLongText);
    text(m_progressStatusFile, kLongText);
    text(m_text4, kShortText);
    text(m_text5, kShortText);
    text(m_text6, kLongText);
    text(m_text7, kLongText);
    word(&m_totalProgress);
    word(&m_progressWord);
    text(m_text8, kShortText);
    word(&m_middleWord1);
    word(&m_middleWord2);
    text(m_text9, kShortText);
    text(m_text10, kShortText);
    text(m_text11, kShortText);
    word(&m_blockWord1);
    word(&m_animate);
    for (uint32_t& blockWord : m_blockWords3To15)
        word(&blockWord);
    word(&m_blockWord16);
    word(&m_userStatusFlagA);
    word(&m_userStatusFlagB);
    word(&m_userStatusFlagC);
    word(&m_userStatusFlagD);
    text(m_text12, kShortText);
    text(m_text13, kShortText);
    // Text 14 came later to the reply: only a reply that goes on after text 13 carries it.
    if (receivedLength > position)
        text(m_text14, kShortText);
    word(&m_tailWord1);
    word(&m_tailWord2);
    word(&m_inbackupnow);
    word(&m_tailWord4);
    uint32_t stepStatusCode = 0;
    word(&stepStatusCode);
    if (fits) {
        // The step code is the one field that readers on other threads take under the lock.
        EnterCriticalSection(&m_lock);
        m_stepStatusCode = stepStatusCode;
        LeaveCriticalSection(&m_lock);
    }
    word(&m_estimatedFileCount);
    word(&m_backedUpFileCount);
    return fits ? 1 : 0;
}
