// The Win32 backend with the test build's queries, answered from the image:
// Get-style queries and the signature rewrite on mapped AT and PC-9821 disks.
#include <cstdlib>

#include <gtest/gtest.h>

#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "images.h"

namespace {

// Offsets of the bytes in which two equally long images differ.
std::vector<size_t> Differences(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  std::vector<size_t> at;
  for (size_t i = 0; i < a.size() && i < b.size(); i++)
    if (a[i] != b[i]) at.push_back(i);
  return at;
}

const uint32_t kOld = 0x1234ABCD, kNew = 0x56FC78DE;
const std::vector<size_t> kAtBytes = {0x1B8, 0x1B9, 0x1BA, 0x1BB};
const std::vector<size_t> kPc98Bytes = {0x2000, 0x2001, 0x2002, 0x2003};

TEST(Win32Decoded, AtDiskReportsAndRewritesFourBytes) {
  WriteAtImage(kOld);
  DiskHandle reader = OpenPhysicalDisk(nullptr, AT_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  DiskLayoutInfo layout;
  ASSERT_EQ(GetDiskLayout(reader, &layout), 1);
  EXPECT_EQ(layout.signature, kOld);
  EXPECT_EQ(layout.partition_count, 8); // MBR and EBR, four entries each
  EXPECT_EQ(layout.partition_length[0], 4096 * 512.0);
  EXPECT_EQ(layout.partition_length[1], 8192 * 512.0);
  EXPECT_EQ(layout.partition_length[4], 2000 * 512.0);
  EXPECT_EQ(DetectBootFormat(reader), AtCompatible);
  CloseDisk(reader);

  std::vector<uint8_t> before = ReadImage(AT_DISK, 0, 1024 * 1024);
  EXPECT_NE(RewriteNtSignature(nullptr, AT_DISK, kNew, kNew), DISK_OK); // not the signature shown
  EXPECT_EQ(ReadImage(AT_DISK, 0, 1024 * 1024), before);
  ASSERT_EQ(RewriteNtSignature(nullptr, AT_DISK, kOld, kNew), DISK_OK);
  std::vector<uint8_t> after = ReadImage(AT_DISK, 0, 8 * 1024 * 1024);
  EXPECT_EQ(Differences(before, after), kAtBytes);
  EXPECT_EQ(LoadLe32(&after[0x1B8]), kNew);
}

TEST(Win32Decoded, Pc98DiskReportsAndRewritesFourBytes) {
  WriteImage(PC98_DISK, 0, Pc98BootArea(kOld));
  DiskHandle reader = OpenPhysicalDisk(nullptr, PC98_DISK, 'r', nullptr);
  ASSERT_NE(reader, INVALID_DISK_HANDLE);
  DiskGeometry geometry = {};
  ASSERT_EQ(GetDiskGeometry(reader, &geometry), 1);
  EXPECT_EQ(geometry.TracksPerCylinder, 8u);
  EXPECT_EQ(geometry.SectorsPerTrack, 17u);
  EXPECT_EQ(geometry.Cylinders, IMAGE_SECTORS / (8 * 17));
  DiskLayoutInfo layout;
  ASSERT_EQ(GetDiskLayout(reader, &layout), 1);
  EXPECT_EQ(layout.signature, kOld);
  EXPECT_EQ(layout.partition_count, 16);
  EXPECT_EQ(layout.partition_length[0], 10 * 8 * 17 * 512.0);
  EXPECT_EQ(layout.partition_length[1], 0.0);
  EXPECT_EQ(DetectBootFormat(reader), Pc9821);
  CloseDisk(reader);

  std::vector<uint8_t> before = ReadImage(PC98_DISK, 0, 1024 * 1024);
  ASSERT_EQ(RewriteNtSignature(nullptr, PC98_DISK, kOld, kNew), DISK_OK);
  std::vector<uint8_t> after = ReadImage(PC98_DISK, 0, 1024 * 1024);
  EXPECT_EQ(Differences(before, after), kPc98Bytes);
  EXPECT_EQ(LoadLe32(&after[0x2000]), kNew);
}

TEST(Win32Decoded, DriveLetterFromConfiguredExtent) {
  _putenv("KORMELDE_TEST_EXTENT_DISK=31");
  EXPECT_EQ(DriveLetterToDiskNumber('C'), 31);
  EXPECT_EQ(DriveLetterToDiskNumber('Q'), VOLUME_OPEN_FAILED);
  _putenv("KORMELDE_TEST_EXTENT_DISK=");
  EXPECT_EQ(DriveLetterToDiskNumber('C'), EXTENTS_QUERY_FAILED);
}

} // namespace
