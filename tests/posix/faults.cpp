// Linked into kormelde_faults, the Linux program with a hook on the disk
// backend's system call table:
//   KORMELDE_FAULT=CALL:N     the Nth call of CALL (open, pread, pwrite,
//                             fsync, flock, ioctl) fails with EIO
//   KORMELDE_FAULT=CALL:N+    every call of CALL from the Nth on fails
//   KORMELDE_FAULT=pwrite:N/2 the Nth pwrite moves half its bytes, the
//                             next one fails (pwrite:N/2+: every later one)
//   KORMELDE_FAULT_COUNT=FILE at exit, "CALL COUNT" lines for every call
#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "posix/disk.h"

namespace {

enum Call { OPEN, PREAD, PWRITE, FSYNC, FLOCK, IOCTL, CALLS };
const char *const kNames[CALLS] = {"open", "pread", "pwrite", "fsync", "flock", "ioctl"};
int g_counts[CALLS];
int g_fail_call = -1, g_fail_at = 0;
bool g_fail_after = false; // every call from g_fail_at on
bool g_half = false;       // the g_fail_at call moves half, the next fails

// Counts the call; true when this one is to fail.
bool Fails(Call call) {
  int n = ++g_counts[call];
  if (call != g_fail_call) return false;
  int first = g_fail_at + (g_half ? 1 : 0);
  if (n != first && !(g_fail_after && n > first)) return false;
  errno = EIO;
  return true;
}

int Open(const char *path, int flags, mode_t mode) {
  return Fails(OPEN) ? -1 : kPosixSystemCalls.open(path, flags, mode);
}
ssize_t Pread(int fd, void *buffer, size_t bytes, off_t offset) {
  return Fails(PREAD) ? -1 : kPosixSystemCalls.pread(fd, buffer, bytes, offset);
}
ssize_t Pwrite(int fd, const void *buffer, size_t bytes, off_t offset) {
  if (Fails(PWRITE)) return -1;
  if (g_half && g_fail_call == PWRITE && g_counts[PWRITE] == g_fail_at && bytes > 1) bytes /= 2;
  return kPosixSystemCalls.pwrite(fd, buffer, bytes, offset);
}
int Fsync(int fd) {
  return Fails(FSYNC) ? -1 : kPosixSystemCalls.fsync(fd);
}
int Flock(int fd, int operation) {
  return Fails(FLOCK) ? -1 : kPosixSystemCalls.flock(fd, operation);
}
int Ioctl(int fd, unsigned long request, void *argument) {
  return Fails(IOCTL) ? -1 : kPosixSystemCalls.ioctl(fd, request, argument);
}

void WriteCounts() {
  FILE *f = fopen(getenv("KORMELDE_FAULT_COUNT"), "w");
  if (!f) return;
  for (int i = 0; i < CALLS; i++)
    fprintf(f, "%s %d\n", kNames[i], g_counts[i]);
  fclose(f);
}

struct Hook {
  Hook() {
    g_posix_calls = {Open, Pread, Pwrite, Fsync, Flock, Ioctl};
    if (const char *fault = getenv("KORMELDE_FAULT")) {
      const char *colon = strchr(fault, ':');
      for (int i = 0; colon && i < CALLS; i++)
        if (strncmp(fault, kNames[i], (size_t)(colon - fault)) == 0 &&
            strlen(kNames[i]) == (size_t)(colon - fault)) {
          g_fail_call = i;
          char *end = nullptr;
          g_fail_at = (int)strtol(colon + 1, &end, 10);
          g_half = strncmp(end, "/2", 2) == 0;
          g_fail_after = strcmp(end + (g_half ? 2 : 0), "+") == 0;
        }
    }
    if (getenv("KORMELDE_FAULT_COUNT")) atexit(WriteCounts);
  }
} g_hook;

} // namespace
