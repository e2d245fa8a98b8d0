// Prints the records of a list that a browsing export handed over, one line each, as the
// stand-in server lays them out: machines (name and id), volumes (label and code) and folder
// entries (name, codes, size). Reads only inside the size the export reported and stops at a
// record that runs past it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ListPrinter {

using Print = void (*)(const void* buffer, uint32_t size);

void Machines(const void* buffer, uint32_t size);
void Volumes(const void* buffer, uint32_t size);
void FolderEntries(const void* buffer, uint32_t size);

}  // namespace ListPrinter
