// Drives the Linux disk backend on one path, for the shell tests:
//   disktool PATH get                  geometry, layout, boot format
//   disktool PATH rewrite OLD NEW [BACKUP]
//   disktool PATH access               one TestAccess sweep
//   disktool PATH open r|w             open and close, report the error
//   disktool PATH classify             what the path names, and its disk
//   disktool - heads N QCOW2...        qcow2 images opened through qemu-nbd N at a
//                                      time, each one's boot area read
// Prints key=value lines; exit 0 when the operation succeeded, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "posix/disk.h"
#include "posix/nbd.h"

static const char *ErrorName(DiskError e) {
  static const char *const names[] = {"OK",
                                      "NO_SUCH_DISK",
                                      "NO_PERMISSION",
                                      "LOCKED",
                                      "NOT_A_DISK",
                                      "TOO_SHORT",
                                      "BAD_CONTAINER",
                                      "BACKUP_FAILED",
                                      "IO_ERROR",
                                      "UNSUPPORTED_IMAGE",
                                      "READ_ONLY",
                                      "CHANGED",
                                      "ROOT_REFUSED",
                                      "OTHER_DISK",
                                      "NO_NUMBER_LEFT",
                                      "SECTOR_SIZE",
                                      "NO_LAYOUT",
                                      "NOT_EXPECTED",
                                      "NO_BOOT_MARK",
                                      "FORMAT_UNKNOWN",
                                      "SECTOR_UNSUPPORTED",
                                      "WRITE_UNDONE",
                                      "WRITE_LEFT_NEW",
                                      "WRITE_TORN",
                                      "WRITE_UNVERIFIED",
                                      "UNKNOWN",
                                      "IMAGE_IN_USE",
                                      "IMAGE_REFUSED",
                                      "IMAGE_ENCRYPTED",
                                      "IMAGE_READ_ONLY",
                                      "IMAGE_CHECK_FAILED",
                                      "NO_QEMU"};
  return (unsigned)e < sizeof names / sizeof *names ? names[e] : "?";
}

static int Report(int ok, DiskError error) {
  printf("result=%d\nerror=%s\n", ok, ErrorName(error));
  return ok ? 0 : 1;
}

static int Get(DiskSet *disks, int disk) {
  DiskError error = DISK_OK;
  DiskHandle h = OpenPhysicalDisk(disks, disk, 'r', &error);
  if (h == INVALID_DISK_HANDLE) return Report(0, error);
  DiskGeometry g;
  DiskLayoutInfo layout;
  int ok = GetDiskGeometry(h, &g);
  if (ok)
    printf("geometry=%lld/%u/%u/%u\n", (long long)g.Cylinders, g.TracksPerCylinder,
           g.SectorsPerTrack, g.BytesPerSector);
  int have_layout = GetDiskLayout(h, &layout);
  if (have_layout) {
    printf("signature=%08X\ncount=%d\n", layout.signature, layout.partition_count);
    for (int i = 0; i < layout.partition_count; i++)
      printf("length%d=%.0f\n", i, layout.partition_length[i]);
  }
  printf("format=%d\n", (int)DetectBootFormat(h));
  error = DiskHandleError(h);
  CloseDisk(h);
  return Report(ok && have_layout, error);
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: disktool PATH get|rewrite OLD NEW [BACKUP]|access|open r|w\n");
    return 2;
  }
  if (strcmp(argv[2], "classify") == 0) {
    static const char *const kinds[] = {"missing", "whole-disk", "image", "partition", "other"};
    char whole[POSIX_PATH_SIZE];
    printf("kind=%s\ndisk=%s\n", kinds[PosixClassifyPath(argv[1], whole, sizeof whole)], whole);
    return 0;
  }
  if (strcmp(argv[2], "heads") == 0 && argc >= 4) {
    std::vector<NbdHead> heads;
    for (int i = 4; i < argc; i++) {
      heads.emplace_back();
      heads.back().path = argv[i];
      heads.back().format = IMAGE_QCOW2;
    }
    NbdReadHeads(&heads, IPL_AREA_BYTES, atoi(argv[3]));
    int failed = 0;
    for (const NbdHead &h : heads)
      failed += h.error != DISK_OK || h.head.size() < SECTOR_SIZE;
    printf("opened=%zu\nfailed=%d\n", heads.size(), failed);
    return failed ? 1 : 0;
  }
  RunOptions options;
  DiskSet disks(&options);
  DiskError error = DISK_OK;
  int disk = PosixRegister(&disks, argv[1], &error);
  if (disk < 0) return Report(0, error);
  const char *op = argv[2];
  if (strcmp(op, "get") == 0) return Get(&disks, disk);
  if (strcmp(op, "rewrite") == 0 && argc >= 5) {
    if (argc >= 6) options.backup = argv[5];
    uint32_t old_sig = (uint32_t)strtoul(argv[3], nullptr, 16);
    uint32_t new_sig = (uint32_t)strtoul(argv[4], nullptr, 16);
    error = RewriteNtSignature(&disks, disk, old_sig, new_sig);
    return Report(error == DISK_OK, error);
  }
  if (strcmp(op, "access") == 0) {
    DiskHandle h = OpenPhysicalDisk(&disks, disk, 'r', &error);
    if (h == INVALID_DISK_HANDLE) return Report(0, error);
    TestAccess(h);
    CloseDisk(h);
    return Report(1, DISK_OK);
  }
  if (strcmp(op, "open") == 0 && argc >= 4) {
    DiskHandle h = OpenPhysicalDisk(&disks, disk, argv[3][0], &error);
    CloseDisk(h);
    return Report(h != INVALID_DISK_HANDLE, error);
  }
  fprintf(stderr, "disktool: bad arguments\n");
  return 2;
}
