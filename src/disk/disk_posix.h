// Linux side of the disk operations: the disk table, disks named by path,
// image containers, and why an open failed. Used by the Linux program only.
#pragma once

#include <cstddef>
#include <cstdint>

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
enum PosixError {
  POSIX_OK = 0,
  POSIX_NO_SUCH_DISK,      // no disk with that number, path missing
  POSIX_NO_PERMISSION,     // EACCES/EPERM: run as root
  POSIX_LOCKED,            // another writer holds the disk's lock
  POSIX_NOT_A_DISK,        // directory, or not a block device / regular file
  POSIX_TOO_SHORT,         // smaller than the 32-sector boot area
  POSIX_BAD_CONTAINER,     // an image header or footer that lies
  POSIX_BACKUP_FAILED,     // the backup file could not be written (exists, ...)
  POSIX_IO_ERROR,          // any other failure
  POSIX_UNSUPPORTED_IMAGE, // qcow2, VMDK, VDI, VHDX, dynamic VHD: attach with qemu-nbd
  POSIX_READ_ONLY,         // EROFS: a read-only device or file system
  POSIX_DISK_CHANGED,      // the boot area changed between the check and the write
};
PosixError PosixLastError();
// One-line description of an error, in the program's language (UTF-8).
const char *PosixErrorText(PosixError error);

// Before the first write to a disk, save the 32 sectors from sector 0 that
// were last read from it to path (created exclusively, synced). If that
// fails the write fails and nothing is written. nullptr turns it off.
void PosixSetBackupFile(const char *path);
