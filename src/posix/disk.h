// Linux side of the disk operations: the disk table, disks named by path,
// image containers, and why an open failed. Used by the Linux program only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/disk.h"

enum { POSIX_PATH_SIZE = 512, POSIX_MODEL_SIZE = 128 };

struct PosixDiskEntry {
  char path[POSIX_PATH_SIZE];   // /dev/sda, /dev/loop0, or an image file
  uint64_t bytes;               // size of the disk (image: without header/footer)
  char model[POSIX_MODEL_SIZE]; // sysfs model/vendor, loop backing file, or image container
};

// The disk table: whole disks in (major, minor) order, virtual, hidden and
// empty devices skipped, loop devices with a backing file kept. Fills at
// most max entries; returns how many disks there are.
int PosixListDisks(PosixDiskEntry *entries, int max);

// The disk number that stands for path from now on: its index in the table
// when path is a listed disk, otherwise a number after the table (at most
// MAX_DISK_NUMBER). -1 when no number is left. Does not open the disk.
int PosixBindPath(const char *path);
// Path a disk number stands for (table or bound), or nullptr.
const char *PosixDiskPath(int number);

// What path names, without opening it for I/O.
enum PosixPathKind {
  POSIX_PATH_MISSING = 0,
  POSIX_PATH_WHOLE_DISK = 1, // block device of a whole disk
  POSIX_PATH_IMAGE = 2,      // regular file
  POSIX_PATH_PARTITION = 3,  // partition device, or a directory on a mounted file system
  POSIX_PATH_OTHER = 4,      // directory not on a disk, character device, ...
};
// For POSIX_PATH_PARTITION, disk_path receives the whole disk that holds it.
PosixPathKind PosixClassifyPath(const char *path, char *disk_path, size_t size);

// Why the last failed OpenPhysicalDisk (or a failed write) failed.
DiskError PosixLastError();

// Before the first write to a disk, save the 32 sectors from sector 0 that
// were last read from it to path (created exclusively, synced). If that
// fails the write fails and nothing is written. nullptr turns it off.
void PosixSetBackupFile(const char *path);
