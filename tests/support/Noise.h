// Deterministic bytes that do not compress, for files that must travel as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::string Noise(size_t size, uint32_t seed = 1);
std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed = 1);
