// Creates directories in an NTFS volume file, parents first, for the tests'
// Windows fixtures (ntfscp places files but makes no directories):
//   ntfsmkdir VOLUME [--dirty] [--sparse|--compressed SRC DEST] DIR...
// DIR as "Windows/System32/config". --dirty marks the volume as not shut
// down cleanly; --sparse copies SRC to the new file DEST (in an existing
// directory) leaving its zero 4 KiB blocks as holes: a sparse file;
// --compressed copies it into a compressed file.
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
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
// clang-format on

// DEST's parent must exist; its name is created.
static int CopySparse(ntfs_volume *vol, const char *src, const char *dest, bool compressed) {
  FILE *in = fopen(src, "rb");
  if (!in) {
    perror(src);
    return 1;
  }
  std::string path = dest, parent = path.substr(0, path.rfind('/'));
  std::string name = path.substr(path.rfind('/') + 1);
  ntfs_inode *dir = ntfs_pathname_to_inode(vol, nullptr, parent.empty() ? "/" : parent.c_str());
  // A file made in a compressed directory is compressed.
  if (compressed && dir) {
    NVolSetCompression(vol);
    dir->flags = (FILE_ATTR_FLAGS)(dir->flags | FILE_ATTR_COMPRESSED);
  }
  ntfschar *uname = nullptr;
  int len = ntfs_mbstoucs(name.c_str(), &uname);
  ntfs_inode *ni = dir && len > 0 ? ntfs_create(dir, 0, uname, (u8)len, S_IFREG) : nullptr;
  ntfs_attr *na = ni ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
  int status = na ? 0 : 1;
  char block[4096];
  s64 at = 0;
  size_t n;
  while (status == 0 && (n = fread(block, 1, sizeof block, in)) > 0) {
    bool zero = true;
    for (size_t i = 0; i < n; i++)
      zero = zero && block[i] == 0;
    if ((!zero || compressed) && ntfs_attr_pwrite(na, at, (s64)n, block) != (s64)n) status = 1;
    at += (s64)n;
  }
  if (status == 0 && na->data_size < at && ntfs_attr_truncate(na, at) != 0) status = 1;
  bool made = compressed ? (na->data_flags & ATTR_IS_COMPRESSED) != 0 : NAttrSparse(na);
  if (status == 0 && !made) {
    fprintf(stderr, "ntfsmkdir: %s is not %s\n", dest, compressed ? "compressed" : "sparse");
    status = 1;
  }
  if (status != 0) fprintf(stderr, "ntfsmkdir: %s: %s\n", dest, strerror(errno));
  if (na) ntfs_attr_close(na);
  if (ni) ntfs_inode_close(ni);
  if (dir) ntfs_inode_close(dir);
  free(uname);
  fclose(in);
  return status;
}

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
  const char *sparse_src = nullptr, *sparse_dest = nullptr;
  bool compressed = first < argc && strcmp(argv[first], "--compressed") == 0;
  if (first < argc && (strcmp(argv[first], "--sparse") == 0 || compressed)) {
    if (first + 2 >= argc) {
      fprintf(stderr, "ntfsmkdir: --sparse|--compressed SRC DEST\n");
      return 2;
    }
    sparse_src = argv[first + 1];
    sparse_dest = argv[first + 2];
    first += 3;
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
  if (status == 0 && sparse_src && CopySparse(vol, sparse_src, sparse_dest, compressed) != 0)
    status = 1;
  if (ntfs_umount(vol, FALSE) != 0) status = 1;
  return status;
}
