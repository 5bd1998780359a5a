#include "images.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

HANDLE OpenImage(int disk, DWORD access, uint64_t offset) {
  const char *dir = getenv("KORMELDE_TEST_IMAGES");
  std::string path = std::string("Z:") + (dir ? dir : "") + "/" + ImageName(disk);
  for (char &c : path)
    if (c == '/') c = '\\';
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open " << path << " (KORMELDE_TEST_IMAGES)";
    return file;
  }
  LONG high = (LONG)(offset >> 32);
  SetFilePointer(file, (LONG)(DWORD)offset, &high, FILE_BEGIN);
  return file;
}

void Put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++)
    p[i] = (uint8_t)(v >> (8 * i));
}

// An MBR-style entry: type, start and length in sectors.
void PutEntry(uint8_t *e, uint8_t type, uint32_t start, uint32_t length) {
  e[4] = type;
  Put32(e + 8, start);
  Put32(e + 12, length);
}

} // namespace

const char *ImageName(int disk) {
  switch (disk) {
  case AT_DISK:
    return "at.img";
  case PC98_DISK:
    return "pc98.img";
  case BIG_DISK:
    return "big.img";
  default:
    return "short.img";
  }
}

std::vector<uint8_t> ReadImage(int disk, uint64_t offset, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  HANDLE file = OpenImage(disk, GENERIC_READ, offset);
  DWORD done = 0;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  EXPECT_TRUE(ReadFile(file, bytes.data(), size, &done, NULL) && done == size);
  CloseHandle(file);
  return bytes;
}

void WriteImage(int disk, uint64_t offset, const std::vector<uint8_t> &bytes) {
  HANDLE file = OpenImage(disk, GENERIC_WRITE, offset);
  DWORD done = 0;
  if (file == INVALID_HANDLE_VALUE) return;
  EXPECT_TRUE(WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, NULL) &&
              done == bytes.size());
  CloseHandle(file);
}

std::vector<uint8_t> AtBootArea(uint32_t signature) {
  std::vector<uint8_t> area(32 * 512, 0);
  memcpy(area.data(), "\xFA\x33\xC0", 3); // code, so the area is not blank
  Put32(&area[0x1B8], signature);
  PutEntry(&area[0x1BE], 0x07, 2048, 4096);
  PutEntry(&area[0x1CE], 0x05, 8192, 8192);
  area[0x1FE] = 0x55;
  area[0x1FF] = 0xAA;
  for (size_t i = 512; i < area.size(); i++)
    area[i] = (uint8_t)(i * 7); // the rest of the boot area must come back as it was
  return area;
}

void WriteAtImage(uint32_t signature) {
  WriteImage(AT_DISK, 0, AtBootArea(signature));
  std::vector<uint8_t> ebr(512, 0);
  PutEntry(&ebr[0x1BE], 0x07, 63, 2000);
  ebr[0x1FE] = 0x55;
  ebr[0x1FF] = 0xAA;
  WriteImage(AT_DISK, 8192 * 512ull, ebr);
}

std::vector<uint8_t> Pc98BootArea(uint32_t signature) {
  std::vector<uint8_t> area(32 * 512, 0);
  for (size_t i = 0; i < area.size(); i++)
    area[i] = (uint8_t)(i * 13);
  memcpy(&area[4], "IPL1", 4);
  area[0xFE] = area[0x1FE] = 0x55;
  area[0xFF] = area[0x1FF] = 0xAA;
  Put32(&area[0x1B8], signature ^ 0xFFFFFFFF);
  uint8_t *table = &area[512];
  memset(table, 0, 512);
  table[0] = 0xA0; // mid: bootable
  table[1] = 0xA1; // sid: active, FAT16
  table[10] = 1;   // start cylinder
  table[14] = 10;  // end cylinder
  memcpy(table + 16, "MS-DOS 6.20     ", 16);
  Put32(&area[0x2000], signature);
  return area;
}
