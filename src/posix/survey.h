// What the run learns by reading its disks: each disk's format, signature
// and partitions, the disks whose signatures collide, and the lines of the
// system's configuration that name a signature's PARTUUIDs. For list,
// --json, and the checks before write and restore.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/partuuid.h"
#include "disk/bootrecord.h"
#include "disk/layout.h"
#include "posix/disk.h"

// A disk's boot-record format as list and --json name it.
enum SurveyFormat {
  FORMAT_UNREAD = 0,
  FORMAT_AT,
  FORMAT_PC98,
  FORMAT_GPT,
  FORMAT_NONE,
  FORMAT_UNKNOWN
};

struct SurveyedDisk {
  int id = -1;     // the disk's id in the run's DiskSet
  int number = -1; // its number in the run's list
  std::string path, model, serial;
  bool image = false;
  uint64_t bytes = 0;
  DiskError error = DISK_OK; // why it could not be read (FORMAT_UNREAD)
  SurveyFormat format = FORMAT_UNREAD;
  bool has_layout = false;
  DiskLayoutInfo layout = {};
  bool has_signature = false; // AT-compatible and PC-9821 disks
  uint32_t signature = 0;
  std::vector<unsigned> linux_partitions; // the kernel's partition numbers (AT)
  std::vector<DiskPartition> partitions;  // the same partitions, where they lie
  std::vector<uint64_t> entry_starts;     // each layout entry's byte offset
  uint32_t sector_bytes = 0;              // the logical sector the tables count
  std::vector<int> collides_with;         // numbers of disks with the same signature
};

// Reads the pinned disk id: layout, boot area (kept as the disk's last
// read), format, and with partitions the kernel's partition numbers (the
// EBRs read a second time). SurveyOpen reads through a read handle the
// caller holds, reusing what it has read already.
SurveyedDisk SurveyDisk(DiskSet *disks, int id, bool partitions);
SurveyedDisk SurveyOpen(DiskSet *disks, int id, DiskHandle handle, bool partitions);

// Every disk of the table, then the disks named (ids, images), each once,
// in number order, with collisions marked. A signature of 0 (none given
// yet) collides with nothing; nor does a loop device with its own backing
// file. full: the disk read in full, with its partition numbers (-1:
// none); light: every other disk read only as far as its signature (sector
// 0, and sector 16 of a PC-9821 disk), else in full.
std::vector<SurveyedDisk> SurveyAll(DiskSet *disks, const std::vector<int> &named, int full,
                                    bool light);

// The disks other than target's that carry signature (never 0), a loop
// device and its own backing file being one disk.
std::vector<const SurveyedDisk *> SurveyHolders(const DiskSet *disks,
                                                const std::vector<SurveyedDisk> &found, int target,
                                                uint32_t signature);

// "at", "pc98", "gpt", "none", "unknown", or nullptr for a disk not read.
const char *SurveyFormatKey(SurveyFormat format);
// A DiskError as --json names it, the same in every language.
const char *DiskErrorKey(DiskError error);

// The configuration files that may name a PARTUUID, read under root ("" or
// nullptr: /), /proc/cmdline only without a root. Name as shown (the path
// under root) and contents; files that cannot be read are left out.
struct ConfigFile {
  std::string name;
  std::string contents;
};
std::vector<ConfigFile> ReadConfigFiles(const char *root);
// A whole file (at most 64 MiB are read); false when it cannot be read.
bool ReadWholeFile(const std::string &path, std::string *contents);

// The lines of files that name signature's PARTUUIDs.
std::vector<PartuuidReference> FindReferences(const std::vector<ConfigFile> &files,
                                              uint32_t signature);
