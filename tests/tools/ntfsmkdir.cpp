// Creates directories in an NTFS volume file, parents first, for the tests'
// Windows fixtures (ntfscp places files but makes no directories):
//   ntfsmkdir VOLUME [--dirty] DIR...    DIR as "Windows/System32/config"
// --dirty marks the volume as not shut down cleanly.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

// After the C++ headers: libntfs-3g defines min and max.
// clang-format off: inode.h before dir.h
extern "C" {
#include <ntfs-3g/inode.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
// clang-format on

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: ntfsmkdir VOLUME [--dirty] DIR...\n");
    return 2;
  }
  ntfs_volume *vol = ntfs_mount(argv[1], NTFS_MNT_NONE);
  if (!vol) {
    perror(argv[1]);
    return 1;
  }
  int status = 0;
  int first = 2;
  if (strcmp(argv[2], "--dirty") == 0) {
    first = 3;
    if (ntfs_volume_write_flags(vol, vol->flags | VOLUME_IS_DIRTY) != 0) status = 1;
  }
  for (int i = first; i < argc && status == 0; i++) {
    std::string path;
    const char *rest = argv[i];
    while (*rest && status == 0) {
      const char *slash = strchr(rest, '/');
      std::string name = slash ? std::string(rest, slash - rest) : std::string(rest);
      rest = slash ? slash + 1 : rest + strlen(rest);
      if (name.empty()) continue;
      std::string parent = path.empty() ? "/" : path;
      path += "/" + name;
      ntfs_inode *ni = ntfs_pathname_to_inode(vol, nullptr, path.c_str());
      if (ni) {
        ntfs_inode_close(ni);
        continue;
      }
      ntfs_inode *dir = ntfs_pathname_to_inode(vol, nullptr, parent.c_str());
      ntfschar *uname = nullptr;
      int len = ntfs_mbstoucs(name.c_str(), &uname);
      ni = dir && len > 0 ? ntfs_create(dir, 0, uname, (u8)len, S_IFDIR) : nullptr;
      if (!ni) {
        fprintf(stderr, "ntfsmkdir: %s: %s\n", path.c_str(), strerror(errno));
        status = 1;
      } else {
        ntfs_inode_close(ni);
      }
      free(uname);
      if (dir) ntfs_inode_close(dir);
    }
  }
  if (ntfs_umount(vol, FALSE) != 0) status = 1;
  return status;
}
