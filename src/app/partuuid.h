// On Linux an AT-compatible disk's NT signature is its PTUUID, and each
// partition's PARTUUID is SSSSSSSS-NN (signature, partition number, both in
// lower-case hexadecimal). What names them: the partition numbers the
// kernel gives, and the lines of configuration files that refer to them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// "56fc78de-05".
std::string Partuuid(uint32_t signature, unsigned partition);

// A partition as the kernel numbers it: its byte offset and length, its
// type byte; containers only in the MBR's slots.
struct DiskPartition {
  unsigned number;
  uint64_t start;
  uint64_t bytes;
  uint8_t type;
  bool container;
  uint32_t entry; // its entry in the drive-layout reply
};

// The partitions of an AT disk, from a drive-layout reply (four entries per
// table, MBR first, empty entries included): MBR slot N is partition N when
// its length is not zero, containers included; each EBR's non-empty data
// entries are 5, 6, ... in order.
std::vector<DiskPartition> PartitionsOfLayout(const uint8_t *reply, uint32_t bytes);
// Their numbers.
std::vector<unsigned> LinuxPartitionNumbers(const uint8_t *reply, uint32_t bytes);

// One line that names PARTUUID=<signature>-NN.
struct PartuuidReference {
  std::string file;
  unsigned line;      // 1-based
  unsigned partition; // NN
};

// A PARTUUID named in a text: the offset of its eight digits, its line
// (1-based), the signature and the partition number.
struct PartuuidToken {
  size_t at;
  unsigned line;
  uint32_t signature;
  unsigned partition;
};

// Calls each for every PARTUUID text names, in order, in time linear in its
// size; *steps (when given) grows by the bytes looked at. The forms:
// PARTUUID=X (the name in any case, not part of a longer name, the value
// bare or in double or single quotes: fstab, crypttab, root= on a kernel
// command line), /dev/disk/by-partuuid/X, and GRUB's search --part-uuid X
// and search.part_uuid X (--fs-uuid names a file system, not a partition).
// X is exactly eight and two hexadecimal digits in any case, not followed
// by another letter or digit. Lines whose first non-blank character is '#'
// are comments and name nothing.
void ScanPartuuids(std::string_view text, const std::function<void(const PartuuidToken &)> &each,
                   uint64_t *steps = nullptr);

// Adds to found each line of contents (the text of file) that names
// PARTUUID <signature>-NN.
void FindPartuuidReferences(const std::string &file, std::string_view contents, uint32_t signature,
                            std::vector<PartuuidReference> *found);

// contents with every PARTUUID <old_signature>-NN that ScanPartuuids
// finds naming new_signature instead (same case); nothing else changes.
// *count receives how many were changed.
std::string ReplacePartuuids(const std::string &contents, uint32_t old_signature,
                             uint32_t new_signature, unsigned *count);
