// The mappings of this process's address space, as the kernel lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MappedRange {
    uintptr_t begin;
    uintptr_t end;
    bool readable;
    bool writable;
    std::string path;  // the mapped file, empty for anonymous memory
};

// In ascending address order; empty when the list cannot be read.
std::vector<MappedRange> ReadProcessMaps();
