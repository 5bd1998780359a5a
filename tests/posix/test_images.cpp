#include "test_images.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

std::string ScratchDir() {
  static std::string dir;
  if (dir.empty()) {
    char templ[] = "/tmp/kormelde-posix-XXXXXX";
    if (!mkdtemp(templ)) abort();
    dir = templ;
    static struct Remover {
      ~Remover() {
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) perror("rm");
      }
    } remover;
  }
  return dir;
}

std::string MakeImage(const std::string &kind, const std::string &name, const std::string &args) {
  std::string path = ScratchDir() + "/" + name;
  std::string cmd = std::string(MKIMAGE_PATH) + " " + kind + " '" + path + "' " + args;
  if (system(cmd.c_str()) != 0) return "";
  return path;
}

std::vector<uint8_t> ReadWholeFile(const std::string &path) {
  std::vector<uint8_t> bytes;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(f);
  return bytes;
}

std::vector<uint64_t> Differences(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  std::vector<uint64_t> at;
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; i++)
    if (a[i] != b[i]) at.push_back(i);
  for (size_t i = n; i < a.size() || i < b.size(); i++)
    at.push_back(i);
  return at;
}
