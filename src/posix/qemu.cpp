// What the program asks of QEMU's tools without libnbd: qemu-img check, and
// whether a QEMU program holds an image file (its lock bytes).
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "posix/nbd.h"

extern char **environ;

bool QemuOnPath(const char *name) {
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = end > at ? dirs.substr(at, end - at) : ".";
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

QemuSaid QemuWords(int fd) {
  QemuSaid said;
  std::string all;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(fd, buffer, sizeof buffer, at)) > 0 && all.size() < 65536; at += n)
    all.append(buffer, (size_t)n);
  while (!all.empty() && (all.back() == '\n' || all.back() == '\r'))
    all.pop_back();
  auto last = [](std::string *text) {
    size_t cut = text->rfind('\n');
    std::string line = text->substr(cut == std::string::npos ? 0 : cut + 1);
    text->erase(cut == std::string::npos ? 0 : cut);
    for (const char *program : {"qemu-nbd: ", "qemu-img: "})
      if (line.compare(0, strlen(program), program) == 0) line.erase(0, strlen(program));
    return line;
  };
  std::string line = last(&all);
  // "Failed to get "write" lock" comes before the line that asks.
  if (line.compare(0, 16, "Is another proce") == 0 && !all.empty()) line = last(&all) + " " + line;
  // "Failed to blk_new_open 'driver=...': Could not open ...": the options
  // are the program's own.
  static const char opened[] = "Failed to blk_new_open '";
  if (line.compare(0, sizeof opened - 1, opened) == 0) {
    size_t end = line.find("': ");
    if (end != std::string::npos) line.erase(0, end + 3);
  }
  // "Could not open 'driver=...,file.filename=...': ..." likewise.
  static const char could[] = "Could not open 'driver=";
  if (line.compare(0, sizeof could - 1, could) == 0) {
    size_t end = line.find("': ");
    if (end != std::string::npos) line.erase(0, end + 3);
  }
  said.text = line;
  return said;
}

DiskError QemuReason(const QemuSaid &said, DiskError otherwise) {
  const std::string &t = said.text;
  if (t.find("lock") != std::string::npos && t.find("Failed to get") != std::string::npos)
    return DISK_IMAGE_IN_USE;
  if (t.find("encrypt") != std::string::npos || t.find("secret") != std::string::npos ||
      t.find("key-secret") != std::string::npos)
    return DISK_IMAGE_ENCRYPTED;
  return otherwise;
}

namespace {

// "driver=FMT,file.driver=file,file.filename=PATH", commas in the path
// doubled as QEMU's option syntax wants.
std::string ImageOptions(const std::string &path, const char *format) {
  std::string options = std::string("driver=") + format + ",file.driver=file,file.filename=";
  for (char c : path) {
    options += c;
    if (c == ',') options += ',';
  }
  return options;
}

} // namespace

std::string QemuImageOptions(const std::string &path, ImageContainer format) {
  return ImageOptions(path, QemuFormatName(format));
}

DiskError QemuCheckImage(const std::string &path, ImageContainer format, QemuSaid *said) {
  said->text.clear();
  if (!QemuOnPath("qemu-img")) return DISK_NO_QEMU;
  std::string options = QemuImageOptions(path, format);
  const char *argv[] = {"qemu-img", "check", "-q", "--image-opts", options.c_str(), nullptr};
  int out = memfd_create("qemu-img", MFD_CLOEXEC);
  if (out < 0) return DISK_IO_ERROR;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, out, 2);
  pid_t pid = -1;
  int spawned =
      posix_spawnp(&pid, "qemu-img", &actions, nullptr, const_cast<char **>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0)
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  *said = QemuWords(out);
  close(out);
  if (spawned != 0) return spawned == ENOENT ? DISK_NO_QEMU : DISK_IO_ERROR;
  if (!WIFEXITED(status)) return DISK_IO_ERROR;
  switch (WEXITSTATUS(status)) {
  case 0:  // clean
  case 3:  // leaked clusters only: space lost, nothing wrong read
  case 63: // the format has no check
    said->text.clear();
    return DISK_OK;
  case 2:
    if (said->text.empty()) said->text = "qemu-img check";
    return DISK_IMAGE_CHECK_FAILED;
  default:
    return QemuReason(*said, DISK_IMAGE_REFUSED);
  }
}

// QEMU locks byte 100 + n of an image for each permission n it holds and
// byte 200 + n for each it keeps others from (block/file-posix.c), with
// open file description locks.
DiskError QemuLockHeld(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 100;
  lock.l_len = 200;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return DISK_OK; // no OFD locks here: none held
  return lock.l_type == F_UNLCK ? DISK_OK : DISK_IMAGE_IN_USE;
}
