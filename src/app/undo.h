// What a write changes besides the signature, kept in the backup file after
// the boot area so that restore undoes it: four-byte patches on the disk
// and the previous versions of rewritten configuration files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/winrefs.h"

struct FileVersion {
  std::string path;
  std::string contents;
};

struct UndoRecords {
  std::vector<BytePatch> patches; // in the order they are written
  std::vector<FileVersion> files; // as they were before the write
  bool empty() const { return patches.empty() && files.empty(); }
};

// Text lines, then each file's bytes; ends with "end\n" so that a cut file
// is told apart.
std::string FormatUndoRecords(const UndoRecords &records);
// False when data is not whole records (nothing at all is an empty set).
bool ParseUndoRecords(const uint8_t *data, size_t size, UndoRecords *records);
// The patches that undo records' patches: last first, old and new swapped.
std::vector<BytePatch> ReversePatches(const std::vector<BytePatch> &patches);
