// Prints what the Windows finder sees on an image file, for the shell tests:
//   winscan IMAGE OLD [NEW]
// One line per reference, then one per problem; exit 0, or 1 when refused.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "posix/winrefs.h"

static bool ReadAt(void *context, uint64_t offset, void *buffer, size_t count) {
  return pread(*(int *)context, buffer, count, (off_t)offset) == (ssize_t)count;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: winscan IMAGE OLD [NEW]\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    perror(argv[1]);
    return 2;
  }
  DiskBytes disk;
  disk.context = &fd;
  disk.read = ReadAt;
  disk.size = (uint64_t)st.st_size;
  disk.path = argv[1];
  uint32_t old_signature = (uint32_t)strtoul(argv[2], nullptr, 16);
  bool has_new = argc > 3;
  uint32_t new_signature = has_new ? (uint32_t)strtoul(argv[3], nullptr, 16) : 0;
  WindowsScan scan = ScanWindows(disk, ReadPartitions(disk), old_signature, has_new, new_signature);
  for (const WindowsReference &r : scan.references)
    printf("ref %u %s partition=%u located=%d offset=%" PRIu64 " updatable=%d\n", r.store_partition,
           DescribeReference(r).c_str(), r.partition, r.located ? 1 : 0, r.disk_offset,
           Updatable(r) ? 1 : 0);
  for (const WindowsProblem &p : scan.problems)
    printf("problem %d %u %s\n", (int)p.kind, p.partition, p.detail.c_str());
  printf("stores=%u\n", scan.stores);
  return scan.refused() ? 1 : 0;
}
