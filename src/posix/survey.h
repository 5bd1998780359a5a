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

// Why a file was not read: the system's error (error), or what it is.
enum FileProblem {
  FILE_READ = 0,
  FILE_SYSTEM_ERROR, // error: the errno of open or read
  FILE_DIRECTORY,
  FILE_FIFO,
  FILE_DEVICE,
  FILE_OTHER_TYPE, // a socket
  FILE_DANGLING,   // a symbolic link to nothing
  FILE_TOO_LARGE,  // over the bound of one file
  FILE_OVER_TOTAL, // the files before it used the bound of them all
};
struct FileStatus {
  FileProblem problem = FILE_READ;
  int error = 0;
  uint64_t bytes = 0; // the size seen (FILE_TOO_LARGE)
};

// At most this much of one file, and of all the configuration files.
constexpr size_t kFileBound = (size_t)64 << 20;
constexpr size_t kConfigTotalBound = (size_t)96 << 20;

// A whole regular file of at most bound bytes, opened under dir (a
// directory's descriptor, or AT_FDCWD) with its symbolic links resolved
// inside dir (as when dir is the root); nothing but a regular file is
// opened for reading. False (and *status why) when it was not read whole.
bool ReadFileUnder(int dir, const std::string &path, size_t bound, std::string *contents,
                   FileStatus *status);
// A whole regular file (at most kFileBound); false when it cannot be read.
bool ReadWholeFile(const std::string &path, std::string *contents, FileStatus *status = nullptr);

// The configuration files that may name a PARTUUID, read under root ("" or
// nullptr: /), /proc/cmdline only without a root; name as shown (with the
// root). Those present but not read are named with why.
struct ConfigFile {
  std::string name;
  std::string contents;
};
struct UnreadFile {
  std::string name;
  FileStatus status;
};
struct ConfigFiles {
  int root_error = 0; // why root could not be opened as a directory
  bool any = false;   // one of the files looked at is there
  std::vector<ConfigFile> read;
  std::vector<UnreadFile> unread;
};
ConfigFiles ReadConfigFiles(const char *root);

// The lines of files that name signature's PARTUUIDs: the first limit of
// them; *more (when given) receives how many others there are.
constexpr size_t kReferenceListBound = 1000;
std::vector<PartuuidReference> FindReferences(const std::vector<ConfigFile> &files,
                                              uint32_t signature,
                                              size_t limit = kReferenceListBound,
                                              size_t *more = nullptr);
