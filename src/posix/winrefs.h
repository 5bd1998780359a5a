// The Windows stores on a disk that name a signature: each NTFS partition
// opened read-only through libntfs-3g, its boot store (\Boot\BCD) and its
// SYSTEM hive read through libhivex, an EFI system partition through mtools;
// every reference located on the disk, and what stands against changing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/winrefs.h"

// The bytes of one disk, however the caller holds it open.
struct DiskBytes {
  void *context = nullptr;
  // True when all count bytes at offset were read.
  bool (*read)(void *context, uint64_t offset, void *buffer, size_t count) = nullptr;
  uint64_t size = 0;
  // Bytes about to be read: their read may start now (nullptr: none).
  void (*will_read)(void *context, uint64_t offset, size_t count) = nullptr;
  // A name external readers (mtools) can open; "" when there is none.
  std::string path;
};

enum WindowsProblemKind {
  // Refusals: the references cannot be changed safely.
  WINDOWS_HIVE_DIRTY = 0, // sequence numbers differ: changes still in its logs
  WINDOWS_HIVE_CHECKSUM,  // base block checksum wrong
  WINDOWS_HIBERNATED,     // hiberfil.sys holds a hibernated or Fast-Startup system
  WINDOWS_UNCLEAN,        // $LogFile or the volume's dirty flag: not shut down cleanly
  WINDOWS_NOT_PLAIN,      // the store's data is resident, compressed, sparse or encrypted
  WINDOWS_NEW_NAMED,      // a store already names the new signature
  // Warnings.
  WINDOWS_BITLOCKER,      // -FVE-FS-: nothing inside can be read
  WINDOWS_DYNAMIC,        // a partition of type 0x42: a dynamic disk
  WINDOWS_SIGNATURE_ZERO, // the new signature is 0 while references exist
  // Notes: places not searched.
  WINDOWS_NOT_SEARCHED, // detail says why
};

struct WindowsProblem {
  WindowsProblemKind kind;
  unsigned partition; // 0: the disk as a whole
  std::string detail; // the store's path, or why it was not searched
};

// Refusals come first in the kind order.
inline bool IsRefusal(WindowsProblemKind kind) {
  return kind <= WINDOWS_NEW_NAMED;
}

struct WindowsScan {
  std::vector<WindowsReference> references; // naming old_signature
  std::vector<WindowsProblem> problems;
  unsigned stores = 0; // stores read
  bool refused() const;
};

// The partitions of an AT-compatible disk, from its own tables (the MBR
// and the EBR chain) in sectors of sector_size bytes; none for other
// formats.
std::vector<DiskPartition> ReadPartitions(const DiskBytes &disk, uint32_t sector_size = 512);

// Searches every partition of the disk for stores naming old_signature.
// new_signature (when has_new) must not be named by any store already.
WindowsScan ScanWindows(const DiskBytes &disk, const std::vector<DiskPartition> &partitions,
                        uint32_t old_signature, bool has_new, uint32_t new_signature);
