// The Linux disk table from /sys/block, disk numbers bound to paths, and
// what a path names.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "posix/disk.h"

namespace {

const char kSysBlock[] = "/sys/block";

struct SysDisk {
  unsigned major, minor;
  PosixDiskEntry entry;
};

// First line of a sysfs attribute, surrounding blanks removed.
std::string ReadAttribute(const std::string &path) {
  char buffer[POSIX_PATH_SIZE] = "";
  FILE *f = fopen(path.c_str(), "re");
  if (!f) return "";
  if (!fgets(buffer, sizeof buffer, f)) buffer[0] = 0;
  fclose(f);
  std::string s = buffer;
  size_t end = s.find_last_not_of(" \t\r\n");
  size_t begin = s.find_first_not_of(" \t\r\n");
  return begin == std::string::npos ? "" : s.substr(begin, end - begin + 1);
}

bool ParseDev(const std::string &text, unsigned *major, unsigned *minor) {
  return sscanf(text.c_str(), "%u:%u", major, minor) == 2;
}

void CopyString(char *out, size_t size, const std::string &s) {
  if (size == 0) return;
  size_t n = std::min(s.size(), size - 1);
  memcpy(out, s.data(), n);
  out[n] = 0;
}

std::string RealPath(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string DevPath(const std::string &name) {
  std::string dev = "/dev/" + name;
  std::replace(dev.begin(), dev.end(), '!', '/');
  return dev;
}

bool Listed(const std::string &name, const std::string &sys) {
  std::string real = RealPath(sys);
  if (real.find("/devices/virtual/") != std::string::npos) {
    if (name.compare(0, 4, "loop") != 0) return false;
    if (ReadAttribute(sys + "/loop/backing_file").empty()) return false;
  }
  if (ReadAttribute(sys + "/hidden") == "1") return false;
  return strtoull(ReadAttribute(sys + "/size").c_str(), nullptr, 10) != 0;
}

std::vector<SysDisk> ScanDisks() {
  std::vector<SysDisk> disks;
  DIR *dir = opendir(kSysBlock);
  if (!dir) return disks;
  while (struct dirent *d = readdir(dir)) {
    std::string name = d->d_name;
    if (name.empty() || name[0] == '.') continue;
    std::string sys = std::string(kSysBlock) + "/" + name;
    SysDisk disk;
    memset(&disk, 0, sizeof disk);
    if (!ParseDev(ReadAttribute(sys + "/dev"), &disk.major, &disk.minor) || !Listed(name, sys))
      continue;
    CopyString(disk.entry.path, sizeof disk.entry.path, DevPath(name));
    disk.entry.bytes = strtoull(ReadAttribute(sys + "/size").c_str(), nullptr, 10) * 512;
    std::string model = ReadAttribute(sys + "/loop/backing_file");
    if (model.empty()) {
      std::string vendor = ReadAttribute(sys + "/device/vendor");
      model = ReadAttribute(sys + "/device/model");
      if (!vendor.empty()) model = model.empty() ? vendor : vendor + " " + model;
    }
    CopyString(disk.entry.model, sizeof disk.entry.model, model);
    disks.push_back(disk);
  }
  closedir(dir);
  std::sort(disks.begin(), disks.end(), [](const SysDisk &a, const SysDisk &b) {
    return a.major != b.major ? a.major < b.major : a.minor < b.minor;
  });
  return disks;
}

// Numbers bound to paths that are not in the table.
std::string g_bound[MAX_DISK_NUMBER + 1];
char g_path_result[POSIX_PATH_SIZE];

// The whole disk a block device (major:minor) belongs to, as /dev/NAME;
// false when sysfs does not know it or it is a virtual device other than a
// loop device.
bool DiskOfDevice(dev_t dev, char *disk_path, size_t size) {
  char sys[64];
  snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u", major(dev), minor(dev));
  std::string real = RealPath(sys);
  if (real.empty()) return false;
  if (access((real + "/partition").c_str(), F_OK) == 0) real = real.substr(0, real.rfind('/'));
  std::string name = real.substr(real.rfind('/') + 1);
  if (real.find("/devices/virtual/") != std::string::npos && name.compare(0, 4, "loop") != 0)
    return false;
  CopyString(disk_path, size, DevPath(name));
  return true;
}

} // namespace

int PosixListDisks(PosixDiskEntry *entries, int max) {
  std::vector<SysDisk> disks = ScanDisks();
  for (int i = 0; i < max && i < (int)disks.size(); i++)
    entries[i] = disks[i].entry;
  return (int)disks.size();
}

int PosixBindPath(const char *path) {
  std::vector<SysDisk> disks = ScanDisks();
  struct stat st;
  if (stat(path, &st) == 0 && S_ISBLK(st.st_mode)) {
    for (size_t i = 0; i < disks.size() && i <= MAX_DISK_NUMBER; i++)
      if (disks[i].major == major(st.st_rdev) && disks[i].minor == minor(st.st_rdev)) return (int)i;
  }
  std::string real = RealPath(path);
  if (real.empty()) real = path;
  if (real.size() >= POSIX_PATH_SIZE) return -1;
  for (int n = 0; n <= MAX_DISK_NUMBER; n++)
    if (g_bound[n] == real) return n;
  for (int n = (int)disks.size(); n <= MAX_DISK_NUMBER; n++) {
    if (g_bound[n].empty()) {
      g_bound[n] = real;
      return n;
    }
  }
  return -1;
}

const char *PosixDiskPath(int number) {
  if (number < 0) return nullptr;
  if (number <= MAX_DISK_NUMBER && !g_bound[number].empty()) {
    CopyString(g_path_result, sizeof g_path_result, g_bound[number]);
    return g_path_result;
  }
  std::vector<SysDisk> disks = ScanDisks();
  if (number >= (int)disks.size()) return nullptr;
  CopyString(g_path_result, sizeof g_path_result, disks[number].entry.path);
  return g_path_result;
}

PosixPathKind PosixClassifyPath(const char *path, char *disk_path, size_t size) {
  if (size) disk_path[0] = 0;
  struct stat st;
  if (stat(path, &st) != 0) return POSIX_PATH_MISSING;
  if (S_ISREG(st.st_mode)) return POSIX_PATH_IMAGE;
  if (S_ISBLK(st.st_mode)) {
    char sys[64];
    snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u/partition", major(st.st_rdev),
             minor(st.st_rdev));
    if (access(sys, F_OK) != 0) return POSIX_PATH_WHOLE_DISK;
    return DiskOfDevice(st.st_rdev, disk_path, size) ? POSIX_PATH_PARTITION : POSIX_PATH_OTHER;
  }
  if (S_ISDIR(st.st_mode) && DiskOfDevice(st.st_dev, disk_path, size)) return POSIX_PATH_PARTITION;
  return POSIX_PATH_OTHER;
}
