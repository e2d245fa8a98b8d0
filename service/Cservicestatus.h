// The state of the local backup service as its status replies describe it: the current step
// and its texts, the progress and file counts of the running backup, whether a backup runs,
// whether the client should animate, and four user status flags. Status calls decode a reply
// into a record of their own; the user status call decodes into the process-wide g_status.
#pragma once

#include <cstdint>

#include "platform/sync.h"
#include "platform/types.h"

class Cservicestatus {
public:
    static constexpr uint32_t kShortText = 1024;
    static constexpr uint32_t kLongText = 2048;
    // Longest text a reply may carry; a longer one is skipped.
    static constexpr uint32_t kMaxTextCount = 1024;
    // The zero-filled buffer that every caller receives the reply into.
    static constexpr uint32_t kReplyBufferSize = 8192;

    Cservicestatus();
    ~Cservicestatus();
    Cservicestatus(const Cservicestatus&) = delete;
    Cservicestatus& operator=(const Cservicestatus&) = delete;

    // The step status code, read inside the record's lock.
    uint32_t GetStepCode();

    // Reads the text item at *position of a reply of receivedLength bytes into a field of
    // width characters (terminator included) and moves *position past it. A text of more
    // than kMaxTextCount characters is skipped and leaves the field as it was. Bytes past
    // receivedLength read as the zeros of the caller's buffer. Gives 0, with nothing changed,
    // when the item would reach past that buffer (kReplyBufferSize, or receivedLength when
    // larger).
    static uint32_t ReadString(const uint8_t* reply, uint32_t receivedLength, uint32_t* position,
                               WCHAR* field, uint32_t width);

    // Fills the record from a status reply of receivedLength bytes. Items after the received
    // bytes read as 0 and as empty texts, as from the caller's zero-filled buffer. Nothing is
    // read past receivedLength: an item that would reach past the caller's buffer stops the
    // decode there, and that item and every later one keep their values. Gives 1 when the
    // decode ran to its end, 0 when it stopped.
    uint32_t Decode(const uint8_t* reply, uint32_t receivedLength);

    uint32_t m_stepStatusCode;
    uint32_t m_blockWord1;
    uint32_t m_progressWord;
    int32_t m_totalProgress;
    uint64_t m_estimatedFileCount;
    uint64_t m_backedUpFileCount;
    uint32_t m_headWord;
    WCHAR m_stepStatusFile[kLongText];
    WCHAR m_text1[kShortText];
    WCHAR m_text9[kShortText];
    WCHAR m_progressStatusFile[kLongText];
    WCHAR m_text5[kShortText];
    WCHAR m_text4[kShortText];
    WCHAR m_text6[kLongText];
    WCHAR m_text7[kLongText];

private:
    CRITICAL_SECTION m_lock;

public:
    uint32_t m_middleWord1;
    uint32_t m_middleWord2;
    WCHAR m_text8[kShortText];
    WCHAR m_text13[kShortText];
    WCHAR m_text12[kShortText];
    WCHAR m_text11[kShortText];
    WCHAR m_text10[kShortText];
    WCHAR m_text14[kShortText];
    uint32_t m_animate;
    uint32_t m_blockWords3To15[13];
    uint32_t m_blockWord16;
    uint32_t m_userStatusFlagA;
    uint32_t m_userStatusFlagB;
    uint32_t m_userStatusFlagC;
    uint32_t m_userStatusFlagD;
    int32_t m_tailWord1;
    uint32_t m_tailWord2;
    uint32_t m_inbackupnow;
    uint32_t m_tailWord4;
};

extern Cservicestatus g_status;
