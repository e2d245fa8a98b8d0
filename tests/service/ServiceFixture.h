// Shared pieces of the service tests: a pipe folder of the test's own (KELVANE_PIPE_DIR)
// and a command header built independently of the library, with zlib's CRC-32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

class ServiceTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv pipeFolder{"KELVANE_PIPE_DIR", dir.path().string()};
};

std::vector<uint8_t> CommandHeader(uint32_t command);
std::vector<uint8_t> Word(uint32_t value);
uint32_t WordAt(const uint8_t* bytes);
// Bytes 0, 1, 2, ... (mod 251), so that a misplaced part shows.
std::vector<uint8_t> Pattern(size_t length);
