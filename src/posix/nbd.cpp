// Images through libnbd and a private qemu-nbd per image.
//
// libnbd forks qemu-nbd with a listening socket in a directory of its own
// (systemd socket activation); the directory goes as soon as the client is
// connected, and qemu-nbd (never --persistent) exits when its one client
// goes, so that neither outlives the program, killed or not. qemu-nbd's
// standard error is a memfd of the image's, read when the open fails.
#include "posix/nbd.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <libgen.h>
#include <libnbd.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

// libnbd is loaded when the first VM image is opened: a run on other disks
// never maps it, nor the TLS libraries it pulls in (their start-up would
// cost every run more than the run's own work).
#define KORMELDE_NBD_FUNCTIONS(F)                                                                  \
  F(nbd_aio_command_completed)                                                                     \
  F(nbd_aio_connect_systemd_socket_activation)                                                     \
  F(nbd_aio_get_direction)                                                                         \
  F(nbd_aio_get_fd)                                                                                \
  F(nbd_aio_is_closed)                                                                             \
  F(nbd_aio_is_dead)                                                                               \
  F(nbd_aio_is_ready)                                                                              \
  F(nbd_aio_notify_read)                                                                           \
  F(nbd_aio_notify_write)                                                                          \
  F(nbd_aio_pread)                                                                                 \
  F(nbd_close)                                                                                     \
  F(nbd_create)                                                                                    \
  F(nbd_flush)                                                                                     \
  F(nbd_get_error)                                                                                 \
  F(nbd_get_size)                                                                                  \
  F(nbd_is_read_only)                                                                              \
  F(nbd_poll)                                                                                      \
  F(nbd_pread)                                                                                     \
  F(nbd_pwrite)                                                                                    \
  F(nbd_shutdown)

struct NbdLibrary {
#define F(name) decltype(&::name) name = nullptr;
  KORMELDE_NBD_FUNCTIONS(F)
#undef F
};

NbdLibrary g_library;

// Loads libnbd once; false with the loader's reason in *why.
bool LoadLibrary(std::string *why) {
  static int state = 0; // 0 not tried, 1 loaded, -1 failed
  static std::string failure;
  if (state == 0) {
    state = -1;
    void *lib = dlopen("libnbd.so.0", RTLD_NOW | RTLD_LOCAL);
    bool all = lib != nullptr;
#define F(name)                                                                                    \
  if (all)                                                                                         \
    all = (g_library.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name))) != nullptr;
    KORMELDE_NBD_FUNCTIONS(F)
#undef F
    const char *error = all ? nullptr : dlerror();
    if (all)
      state = 1;
    else
      failure = error ? error : "libnbd.so.0";
  }
  if (state < 0 && why) *why = failure;
  return state > 0;
}

const NbdLibrary &Lib() {
  return g_library;
}

} // namespace

struct NbdImage {
  nbd_handle *nbd;
  int said; // memfd: qemu-nbd's standard error
  uint64_t size;
};

namespace {

// Removes libnbd's socket and its directory once connected: the name is
// the peer's address of the connected socket.
void RemoveSocketDirectory(nbd_handle *nbd) {
  int fd = Lib().nbd_aio_get_fd(nbd);
  struct sockaddr_un address = {};
  socklen_t length = sizeof address;
  if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
      address.sun_family != AF_UNIX || address.sun_path[0] != '/')
    return;
  std::string path(address.sun_path, strnlen(address.sun_path, sizeof address.sun_path));
  size_t slash = path.rfind('/');
  std::string dir = path.substr(0, slash);
  std::string base = dir.substr(dir.rfind('/') + 1);
  if (path.substr(slash + 1) != "sock" || base.compare(0, 6, "libnbd") != 0) return;
  unlink(path.c_str());
  rmdir(dir.c_str());
}

// Starts qemu-nbd for the image, with its standard error on a new memfd
// (*said), and connects to it; the handshake is left to the caller. The
// socket directory goes at once: unix sockets connect before the accept.
bool Start(nbd_handle *nbd, const std::string &path, ImageContainer format, bool write, int *said) {
  std::string options = QemuImageOptions(path, format);
  if (!write) options += ",read-only=on,force-share=on";
  std::vector<const char *> argv = {"qemu-nbd"};
  if (!write) argv.push_back("--read-only");
  argv.push_back("--image-opts");
  argv.push_back(options.c_str());
  argv.push_back(nullptr);
  *said = memfd_create("qemu-nbd", MFD_CLOEXEC);
  if (*said < 0) return false;
  // The child takes standard error as it is at the fork.
  int saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
  dup2(*said, 2);
  char **args = const_cast<char **>(argv.data());
  int r = Lib().nbd_aio_connect_systemd_socket_activation(nbd, args);
  if (saved >= 0) {
    dup2(saved, 2);
    close(saved);
  } else {
    close(2);
  }
  if (r != 0) return false;
  RemoveSocketDirectory(nbd);
  return true;
}

// Why an open failed: qemu-nbd's words once it has gone.
DiskError Failed(nbd_handle *nbd, int said, QemuSaid *words) {
  Lib().nbd_close(nbd); // waits for qemu-nbd
  *words = QemuWords(said);
  close(said);
  if (words->text.empty()) words->text = Lib().nbd_get_error() ? Lib().nbd_get_error() : "";
  return QemuReason(*words, DISK_IMAGE_REFUSED);
}

} // namespace

NbdImage *NbdOpen(const std::string &path, ImageContainer format, bool write, DiskError *error,
                  QemuSaid *said) {
  said->text.clear();
  if (!QemuOnPath("qemu-nbd")) {
    *error = DISK_NO_QEMU;
    return nullptr;
  }
  if (!LoadLibrary(&said->text)) {
    *error = DISK_IMAGE_REFUSED;
    return nullptr;
  }
  nbd_handle *nbd = Lib().nbd_create();
  if (!nbd) {
    *error = DISK_IO_ERROR;
    return nullptr;
  }
  int words = -1;
  bool started = Start(nbd, path, format, write, &words);
  if (words < 0) {
    Lib().nbd_close(nbd);
    *error = DISK_IO_ERROR;
    return nullptr;
  }
  while (started && !Lib().nbd_aio_is_ready(nbd))
    started = !Lib().nbd_aio_is_dead(nbd) && !Lib().nbd_aio_is_closed(nbd) &&
              Lib().nbd_poll(nbd, -1) >= 0;
  int64_t size = started ? Lib().nbd_get_size(nbd) : -1;
  if (size < 0) {
    *error = Failed(nbd, words, said);
    return nullptr;
  }
  if (write && Lib().nbd_is_read_only(nbd) == 1) {
    Lib().nbd_close(nbd);
    close(words);
    *error = DISK_IMAGE_READ_ONLY;
    return nullptr;
  }
  *error = DISK_OK;
  return new NbdImage{nbd, words, (uint64_t)size};
}

uint64_t NbdSize(const NbdImage *image) {
  return image->size;
}

// The whole sectors around bytes at offset: some formats (VHDX) take
// nothing smaller, and libnbd keeps to the block size the server gives.
static bool Sectors(const NbdImage *image, size_t bytes, uint64_t offset, uint64_t *start,
                    uint64_t *end) {
  if (offset > image->size || bytes > image->size - offset) return false;
  *start = offset / SECTOR_SIZE * SECTOR_SIZE;
  *end = (offset + bytes + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  return *end <= image->size;
}

bool NbdRead(NbdImage *image, void *buffer, size_t bytes, uint64_t offset) {
  uint64_t start, end;
  if (!Sectors(image, bytes, offset, &start, &end)) return false;
  if (bytes == 0) return true;
  if (start == offset && end == offset + bytes)
    return Lib().nbd_pread(image->nbd, buffer, bytes, offset, 0) == 0;
  std::vector<uint8_t> sectors((size_t)(end - start));
  if (Lib().nbd_pread(image->nbd, sectors.data(), sectors.size(), start, 0) != 0) return false;
  memcpy(buffer, sectors.data() + (offset - start), bytes);
  return true;
}

bool NbdWrite(NbdImage *image, const void *buffer, size_t bytes, uint64_t offset) {
  uint64_t start, end;
  if (!Sectors(image, bytes, offset, &start, &end)) return false;
  std::vector<uint8_t> sectors((size_t)(end - start));
  if ((start != offset || end != offset + bytes) &&
      Lib().nbd_pread(image->nbd, sectors.data(), sectors.size(), start, 0) != 0)
    return false;
  memcpy(sectors.data() + (offset - start), buffer, bytes);
  return Lib().nbd_pwrite(image->nbd, sectors.data(), sectors.size(), start, 0) == 0 &&
         Lib().nbd_flush(image->nbd, 0) == 0;
}

void NbdClose(NbdImage *image) {
  if (!image) return;
  Lib().nbd_shutdown(image->nbd, 0);
  Lib().nbd_close(image->nbd);
  close(image->said);
  delete image;
}

namespace {

// One image of NbdReadHeads on its way.
struct Opening {
  NbdHead *image;
  nbd_handle *nbd;
  int said;
  int64_t cookie; // the read of the head; 0 while connecting
};

// Ends one opening: its head read (done) or its failure.
void Finish(Opening *o, bool done) {
  if (done) {
    o->image->error = DISK_OK;
    Lib().nbd_shutdown(o->nbd, 0);
    Lib().nbd_close(o->nbd);
    close(o->said);
  } else {
    o->image->head.clear();
    o->image->error = Failed(o->nbd, o->said, &o->image->said);
  }
}

// Moves one opening on after poll: false once it has finished.
bool Step(Opening *o, size_t bytes) {
  if (Lib().nbd_aio_is_dead(o->nbd) || Lib().nbd_aio_is_closed(o->nbd)) {
    Finish(o, false);
    return false;
  }
  if (o->cookie == 0 && Lib().nbd_aio_is_ready(o->nbd)) {
    int64_t size = Lib().nbd_get_size(o->nbd);
    if (size < 0) {
      Finish(o, false);
      return false;
    }
    o->image->size = (uint64_t)size;
    o->image->head.resize(bytes < (uint64_t)size ? bytes : (size_t)size);
    o->cookie = Lib().nbd_aio_pread(o->nbd, o->image->head.data(), o->image->head.size(), 0,
                                    NBD_NULL_COMPLETION, 0);
    if (o->cookie < 0) {
      Finish(o, false);
      return false;
    }
  }
  if (o->cookie > 0) {
    int r = Lib().nbd_aio_command_completed(o->nbd, (uint64_t)o->cookie);
    if (r != 0) {
      Finish(o, r == 1);
      return false;
    }
  }
  return true;
}

} // namespace

void NbdReadHeads(std::vector<NbdHead> *images, size_t bytes, int parallel) {
  bool have_qemu = QemuOnPath("qemu-nbd");
  std::string why;
  bool have_library = LoadLibrary(&why);
  std::vector<Opening> open;
  size_t next = 0;
  while (next < images->size() || !open.empty()) {
    while (next < images->size() && (int)open.size() < parallel) {
      NbdHead &image = (*images)[next++];
      image.said.text.clear();
      if (!have_qemu) {
        image.error = DISK_NO_QEMU;
        continue;
      }
      if (!have_library) {
        image.error = DISK_IMAGE_REFUSED;
        image.said.text = why;
        continue;
      }
      Opening o = {&image, Lib().nbd_create(), -1, 0};
      if (!o.nbd) {
        image.error = DISK_IO_ERROR;
        continue;
      }
      bool started = Start(o.nbd, image.path, image.format, false, &o.said);
      if (o.said < 0) {
        Lib().nbd_close(o.nbd);
        image.error = DISK_IO_ERROR;
      } else if (!started) {
        Finish(&o, false);
      } else {
        open.push_back(o);
      }
    }
    if (open.empty()) continue;
    std::vector<pollfd> fds(open.size());
    for (size_t i = 0; i < open.size(); i++) {
      unsigned direction = Lib().nbd_aio_get_direction(open[i].nbd);
      fds[i].fd = Lib().nbd_aio_get_fd(open[i].nbd);
      fds[i].events = (short)(((direction & LIBNBD_AIO_DIRECTION_READ) ? POLLIN : 0) |
                              ((direction & LIBNBD_AIO_DIRECTION_WRITE) ? POLLOUT : 0));
      fds[i].revents = 0;
    }
    if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) break;
    for (size_t i = open.size(); i-- > 0;) {
      Opening &o = open[i];
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
        Lib().nbd_aio_notify_read(o.nbd);
      else if (fds[i].revents & POLLOUT)
        Lib().nbd_aio_notify_write(o.nbd);
      if (!Step(&o, bytes)) open.erase(open.begin() + (long)i);
    }
  }
  for (Opening &o : open) // poll failed
    Finish(&o, false);
}
