// Linked into kormelde_faults, the Linux program with a hook on the disk
// backend's system call table:
//   KORMELDE_FAULT=CALL:N     the Nth call of CALL (open, pread, pwrite,
//                             fsync, flock, ioctl) fails with EIO
//   KORMELDE_FAULT=CALL:N+    every call of CALL from the Nth on fails
//   KORMELDE_FAULT=pwrite:N/2 the Nth pwrite moves half its bytes, the
//                             next one fails (pwrite:N/2+: every later one)
//   KORMELDE_FAULT=pwrite:N/0 the Nth pwrite says it wrote all, writes
//                             nothing (a lost write: only a read-back sees it)
//   KORMELDE_FAULT_RUN=CALL:N:COMMAND  COMMAND runs (sh -c) before the Nth
//                             call of CALL
//   KORMELDE_FAULT_COUNT=FILE at exit, "CALL COUNT" lines for every call
//   KORMELDE_FAULT_PATHS=P:Q  only calls on these paths (and descriptors
//                             opened from them, or again through them) count; a write reads every
//                             disk of the system to find collisions
#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "posix/disk.h"

namespace {

enum Call { OPEN, PREAD, PWRITE, FSYNC, FLOCK, IOCTL, CALLS };
const char *const kNames[CALLS] = {"open", "pread", "pwrite", "fsync", "flock", "ioctl"};
int g_counts[CALLS];
int g_fail_call = -1, g_fail_at = 0;
bool g_fail_after = false; // every call from g_fail_at on
bool g_half = false;       // the g_fail_at call moves half, the next fails
bool g_lost = false;       // the g_fail_at pwrite moves nothing, says all
int g_run_call = -1, g_run_at = 0;
std::string g_run_command;
const char *g_paths = nullptr;
std::set<int> g_fds; // descriptors opened from g_paths

bool Watched(const char *path) {
  if (!g_paths) return true;
  std::string list = std::string(":") + g_paths + ":";
  return list.find(std::string(":") + path + ":") != std::string::npos;
}

// Counts the call; true when this one is to fail.
bool Fails(Call call, int fd = -1) {
  if (g_paths && call != OPEN && !g_fds.count(fd)) return false;
  int n = ++g_counts[call];
  if (call == g_run_call && n == g_run_at && system(g_run_command.c_str()) != 0)
    fprintf(stderr, "faults: '%s' failed\n", g_run_command.c_str());
  if (call != g_fail_call || g_lost) return false;
  int first = g_fail_at + (g_half ? 1 : 0);
  if (n != first && !(g_fail_after && n > first)) return false;
  errno = EIO;
  return true;
}

int Open(const char *path, int flags, mode_t mode) {
  if (!Watched(path)) {
    int fd = kPosixSystemCalls.open(path, flags, mode);
    g_fds.erase(fd);
    return fd;
  }
  if (Fails(OPEN)) return -1;
  int fd = kPosixSystemCalls.open(path, flags, mode);
  // Descriptor numbers are reused: one closed elsewhere comes back here.
  if (fd >= 0) g_fds.insert(fd);
  return fd;
}
ssize_t Pread(int fd, void *buffer, size_t bytes, off_t offset) {
  return Fails(PREAD, fd) ? -1 : kPosixSystemCalls.pread(fd, buffer, bytes, offset);
}
ssize_t Pwrite(int fd, const void *buffer, size_t bytes, off_t offset) {
  if (Fails(PWRITE, fd)) return -1;
  bool watched = !g_paths || g_fds.count(fd);
  bool this_one = watched && g_fail_call == PWRITE && g_counts[PWRITE] == g_fail_at;
  if (this_one && g_lost) return (ssize_t)bytes;
  if (this_one && g_half && bytes > 1) bytes /= 2;
  return kPosixSystemCalls.pwrite(fd, buffer, bytes, offset);
}
int Fsync(int fd) {
  return Fails(FSYNC, fd) ? -1 : kPosixSystemCalls.fsync(fd);
}
int Flock(int fd, int operation) {
  return Fails(FLOCK, fd) ? -1 : kPosixSystemCalls.flock(fd, operation);
}
int Ioctl(int fd, unsigned long request, void *argument) {
  return Fails(IOCTL, fd) ? -1 : kPosixSystemCalls.ioctl(fd, request, argument);
}

// An open again through a watched descriptor counts as an open of its path.
int Reopen(int fd, int flags) {
  bool watched = !g_paths || g_fds.count(fd);
  if (watched && Fails(OPEN)) return -1;
  int again = kPosixSystemCalls.reopen(fd, flags);
  if (again >= 0 && watched) g_fds.insert(again);
  if (again >= 0 && !watched) g_fds.erase(again);
  return again;
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
    g_posix_calls = {Open, Pread, Pwrite, Fsync, Flock, Ioctl, Reopen};
    g_paths = getenv("KORMELDE_FAULT_PATHS");
    if (const char *fault = getenv("KORMELDE_FAULT")) {
      const char *colon = strchr(fault, ':');
      for (int i = 0; colon && i < CALLS; i++)
        if (strncmp(fault, kNames[i], (size_t)(colon - fault)) == 0 &&
            strlen(kNames[i]) == (size_t)(colon - fault)) {
          g_fail_call = i;
          char *end = nullptr;
          g_fail_at = (int)strtol(colon + 1, &end, 10);
          g_half = strncmp(end, "/2", 2) == 0;
          g_lost = strcmp(end, "/0") == 0;
          g_fail_after = strcmp(end + (g_half ? 2 : 0), "+") == 0;
        }
    }
    if (const char *run = getenv("KORMELDE_FAULT_RUN")) {
      const char *colon = strchr(run, ':');
      const char *second = colon ? strchr(colon + 1, ':') : nullptr;
      for (int i = 0; second && i < CALLS; i++)
        if (strlen(kNames[i]) == (size_t)(colon - run) &&
            strncmp(run, kNames[i], colon - run) == 0) {
          g_run_call = i;
          g_run_at = atoi(colon + 1);
          g_run_command = second + 1;
        }
    }
    if (getenv("KORMELDE_FAULT_COUNT")) atexit(WriteCounts);
  }
} g_hook;

} // namespace
