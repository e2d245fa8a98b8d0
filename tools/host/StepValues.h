// The values of the steps as the exports take them, and the host's buffers for what the exports
// give back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Units of the out-buffers that the exports fill without being given a capacity.
constexpr size_t kHostTextUnits = 1024;

// A number written in decimal, or in hexadecimal after "0x".
uint64_t ParseNumber(const char* text);
// The words of a 64-bit code as the exports take it.
uint32_t Low(uint64_t code);
uint32_t High(uint64_t code);

// A value of the command line (UTF-8) as the exports' UTF-16 text, and back.
std::u16string Wide(const char* text);
std::string Narrow(const char16_t* text);
