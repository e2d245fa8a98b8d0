// The Blowfish block cipher (64-bit blocks, 16 rounds) in electronic-codebook mode. A block
// of 8 bytes is read as two little-endian 32-bit halves, bytes 0-3 the left one.
#pragma once

#include <cstdint>
#include <memory>

class CBlowfish {
public:
    CBlowfish();
    ~CBlowfish();
    CBlowfish(const CBlowfish&) = delete;
    CBlowfish& operator=(const CBlowfish&) = delete;

    // Builds the key schedule; may be called again to re-key. A key of no bytes is refused
    // and leaves the schedule as it was.
    void SetKey(const uint8_t* key, uint32_t length);
    void EncryptBlock(uint32_t& left, uint32_t& right) const;
    void DecryptBlock(uint32_t& left, uint32_t& right) const;
    // Enciphers length bytes, the last block completed with zero bytes; gives the length
    // raised to a multiple of 8. out may be in; out (and in, when they are the same) must
    // hold the raised length.
    uint32_t EncryptBuffer(const uint8_t* in, uint8_t* out, uint32_t length) const;
    // Deciphers ceil(length / 8) whole blocks; out may be in.
    void DecryptBuffer(const uint8_t* in, uint8_t* out, uint32_t length) const;

private:
    uint32_t Round(uint32_t x) const;
    using BlockTransform = void (CBlowfish::*)(uint32_t&, uint32_t&) const;
    // Applies EncryptBlock or DecryptBlock to 8 bytes in place.
    void TransformBytes(uint8_t* block, BlockTransform transform) const;

    std::unique_ptr<uint32_t[]> m_subkeys;
    std::unique_ptr<uint32_t[]> m_sboxes;
};
