// The Win32 backend with Windows' own device queries, under Wine: sector
// I/O on images mapped as \\.\PHYSICALDRIVEn, and queries that fail cleanly.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "disk/disk.h"
#include "images.h"

namespace {

const DWORD kUntouched = 0xC0FFEE;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++)
    bytes[i] = (uint8_t)(seed + i * 31 + (i >> 9));
  return bytes;
}

TEST(Win32Disk, BadModeAndInvalidHandleReachNoPlatformCall) {
  // Disk 31 exists, so any open attempt would succeed or set an error.
  for (char mode : {'x', 'a', ' ', '\0', 'Q', 'E'}) {
    SetLastError(kUntouched);
    EXPECT_EQ(OpenPhysicalDisk(nullptr, AT_DISK, mode, nullptr), INVALID_DISK_HANDLE) << mode;
    EXPECT_EQ(GetLastError(), kUntouched) << mode;
  }
  uint8_t sector[512];
  SetLastError(kUntouched);
  EXPECT_EQ(SeekSector(INVALID_DISK_HANDLE, 0), 0);
  EXPECT_EQ(ReadSectors(INVALID_DISK_HANDLE, 1, 0, sector), 0);
  EXPECT_EQ(WriteSectors(INVALID_DISK_HANDLE, 1, 0, sector), 0);
  TestAccess(INVALID_DISK_HANDLE);
  CloseDisk(INVALID_DISK_HANDLE);
  EXPECT_EQ(GetLastError(), kUntouched);
}

TEST(Win32Disk, NumberWithoutDiskFails) {
  EXPECT_EQ(OpenPhysicalDisk(nullptr, NO_DISK, 'r', nullptr), INVALID_DISK_HANDLE);
  EXPECT_EQ(OpenPhysicalDisk(nullptr, NO_DISK, 'W', nullptr), INVALID_DISK_HANDLE);
  EXPECT_EQ(OpenPhysicalDisk(nullptr, -1, 'R', nullptr), INVALID_DISK_HANDLE);
}

TEST(Win32Disk, SectorsMoveToTheirPlaceInTheImage) {
  WriteImage(AT_DISK, 0, std::vector<uint8_t>(64 * 512, 0));
  std::vector<uint8_t> data = Pattern(3 * 512, 5);
  DiskHandle writer = OpenPhysicalDisk(nullptr, AT_DISK, 'w', nullptr);
  ASSERT_NE(writer, INVALID_DISK_HANDLE);
  uint8_t sector[512];
  EXPECT_EQ(ReadSectors(writer, 1, 0, sector), 0); // write access only
  EXPECT_EQ(WriteSectors(writer, 3, 17, data.data()), 1);
  CloseDisk(writer);
  EXPECT_EQ(ReadImage(AT_DISK, 17 * 512, 3 * 512), data);
  EXPECT_EQ(ReadImage(AT_DISK, 16 * 512, 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(ReadImage(AT_DISK, 20 * 512, 512), std::vector<uint8_t>(512, 0));

  DiskHandle reader = OpenPhysicalDisk(nullptr, AT_DISK, 'R', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  // Shared for writing only: no second reader, and no writer that would
  // need read sharing from this handle.
  EXPECT_EQ(OpenPhysicalDisk(nullptr, AT_DISK, 'r', nullptr), INVALID_DISK_HANDLE);
  EXPECT_EQ(OpenPhysicalDisk(nullptr, AT_DISK, 'W', nullptr), INVALID_DISK_HANDLE);
  std::vector<uint8_t> back(2 * 512);
  EXPECT_EQ(ReadSectors(reader, 2, 18, back.data()), 1);
  EXPECT_TRUE(memcmp(back.data(), data.data() + 512, 1024) == 0);
  EXPECT_EQ(WriteSectors(reader, 1, 0, back.data()), 0); // read access only
  CloseDisk(reader);
}

TEST(Win32Disk, PositionsPastFourGiBUseTheHighHalf) {
  const uint32_t far_sector = 8388608 + 5; // byte 4 GiB + 2560
  WriteImage(BIG_DISK, 5 * 512, std::vector<uint8_t>(512, 0));
  std::vector<uint8_t> data = Pattern(512, 9);
  DiskHandle writer = OpenPhysicalDisk(nullptr, BIG_DISK, 'W', nullptr);
  ASSERT_NE(writer, INVALID_DISK_HANDLE);
  EXPECT_EQ(WriteSectors(writer, 1, far_sector, data.data()), 1);
  CloseDisk(writer);
  EXPECT_EQ(ReadImage(BIG_DISK, (uint64_t)far_sector * 512, 512), data);
  // A truncated offset would have landed on sector 5.
  EXPECT_EQ(ReadImage(BIG_DISK, 5 * 512, 512), std::vector<uint8_t>(512, 0));

  DiskHandle reader = OpenPhysicalDisk(nullptr, BIG_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  std::vector<uint8_t> back(512);
  EXPECT_EQ(ReadSectors(reader, 1, far_sector, back.data()), 1);
  EXPECT_EQ(back, data);
  EXPECT_EQ(SeekSector(reader, 1ull << 31), 1); // 1 TiB: within ext4's file size
  LONG high = 0;
  DWORD low = SetFilePointer(reader, 0, &high, FILE_CURRENT);
  EXPECT_EQ(((uint64_t)(uint32_t)high << 32 | low), 1ull << 40);
  // Sectors whose byte offset does not fit in a signed 64-bit number.
  EXPECT_EQ(SeekSector(reader, 1ull << 55), 0);
  EXPECT_EQ(SeekSector(reader, ~0ull), 0);
  CloseDisk(reader);
}

TEST(Win32Disk, ShortTransfersAtTheEndFail) {
  std::vector<uint8_t> buffer(3 * 512);
  DiskHandle reader = OpenPhysicalDisk(nullptr, SHORT_DISK, 'r', nullptr); // 10 sectors + 100 bytes
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  EXPECT_EQ(ReadSectors(reader, 1, 9, buffer.data()), 1);
  EXPECT_EQ(ReadSectors(reader, 2, 9, buffer.data()), 0);
  EXPECT_EQ(ReadSectors(reader, 1, 10, buffer.data()), 0);
  EXPECT_EQ(ReadSectors(reader, 1, 11, buffer.data()), 0);
  CloseDisk(reader);

  reader = OpenPhysicalDisk(nullptr, BIG_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  EXPECT_EQ(ReadSectors(reader, 1, BIG_SECTORS - 1, buffer.data()), 1);
  EXPECT_EQ(ReadSectors(reader, 2, BIG_SECTORS - 1, buffer.data()), 0);
  EXPECT_EQ(ReadSectors(reader, 1, BIG_SECTORS, buffer.data()), 0);
  CloseDisk(reader);
}

TEST(Win32Disk, CountsNoTransferCanCarryFailUntouched) {
  std::vector<uint8_t> buffer(1024, 0xEE);
  DiskHandle reader = OpenPhysicalDisk(nullptr, AT_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  // -1 x 512 would be a 4 GiB read into a 1 KiB buffer.
  EXPECT_EQ(ReadSectors(reader, -1, 0, buffer.data()), 0);
  EXPECT_EQ(ReadSectors(reader, 8388609, 0, buffer.data()), 0); // 512 bytes once wrapped
  EXPECT_EQ(buffer, std::vector<uint8_t>(1024, 0xEE));
  CloseDisk(reader);
  DiskHandle writer = OpenPhysicalDisk(nullptr, AT_DISK, 'w', nullptr);
  EXPECT_EQ(WriteSectors(writer, -2, 0, buffer.data()), 0);
  CloseDisk(writer);
}

TEST(Win32Disk, AccessSweepEndsWithTheReadAtSector200) {
  DiskHandle reader = OpenPhysicalDisk(nullptr, BIG_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  TestAccess(reader);
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(reader, 0, &high, FILE_CURRENT), (200u + 128u) * 512u);
  CloseDisk(reader);
  // On a disk smaller than the sweep every read fails, silently.
  reader = OpenPhysicalDisk(nullptr, SHORT_DISK, 'r', nullptr);
  TestAccess(reader);
  CloseDisk(reader);
}

TEST(Win32Disk, WinesDeviceQueriesFailCleanly) {
  DiskHandle reader = OpenPhysicalDisk(nullptr, AT_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  DiskLayoutInfo layout;
  memset(&layout, 0xAB, sizeof layout);
  EXPECT_EQ(GetDiskLayout(reader, &layout), 0);
  DiskLayoutInfo zero = {};
  EXPECT_EQ(memcmp(&layout, &zero, sizeof layout), 0);
  DiskGeometry geometry = {77, 1, 2, 3, 4}, before = geometry;
  EXPECT_EQ(GetDiskGeometry(reader, &geometry), 0);
  EXPECT_EQ(memcmp(&geometry, &before, sizeof geometry), 0);
  CloseDisk(reader);
  EXPECT_EQ(GetDiskLayout(INVALID_DISK_HANDLE, &layout), 0);
  EXPECT_EQ(GetDiskGeometry(INVALID_DISK_HANDLE, &geometry), 0);

  EXPECT_EQ(DriveLetterToDiskNumber('Q'), VOLUME_OPEN_FAILED);
  // Wine opens C: and answers its extents query with no extent at all.
  EXPECT_EQ(DriveLetterToDiskNumber('C'), EXTENTS_QUERY_FAILED);
  EXPECT_EQ(DriveLetterToDiskNumber('c'), EXTENTS_QUERY_FAILED);
}

} // namespace
