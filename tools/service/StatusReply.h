// The stand-in service's status reply: the values it reports, in the order they travel, and
// their encoding (u32 little-endian words; a text is a u32 character count followed by that
// many UTF-16LE code units, no terminator).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class StatusReply {
public:
    // Length of a reply whose texts are all empty, and of one that ends after text 13.
    static constexpr uint32_t kEmptyLength = 188;
    static constexpr uint32_t kEmptyLengthWithoutText14 = 156;

    std::vector<uint8_t> Encode() const;

    uint32_t result = 1;
    uint32_t headWord = 1;
    std::u16string text1;
    std::u16string stepStatusFile;
    std::u16string progressStatusFile;
    std::u16string text4;
    std::u16string text5;
    std::u16string text6;
    std::u16string text7;
    int32_t totalProgress = 0;
    uint32_t progressWord = 0;
    std::u16string text8;
    uint32_t middleWord1 = 0;
    uint32_t middleWord2 = 0;
    std::u16string text9;
    std::u16string text10;
    std::u16string text11;
    uint32_t blockWord1 = 0;
    uint32_t animate = 0;
    std::array<uint32_t, 13> blockWords3To15{};
    uint32_t blockWord16 = 0;
    // User status flags A, B, C and D.
    std::array<uint32_t, 4> userStatusFlags{};
    std::u16string text12;
    std::u16string text13;
    // Without text 14 the reply ends after text 13, as an older service sends it.
    std::optional<std::u16string> text14 = std::u16string();
    int32_t tailWord1 = 0;
    uint32_t tailWord2 = 0;
    uint32_t inBackupNow = 0;
    uint32_t tailWord4 = 0;
    uint32_t stepStatusCode = 0;
    uint32_t estimatedFiles = 0;
    uint32_t backedUpFiles = 0;
};
