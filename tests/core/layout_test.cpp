#include "disk/layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "disk/bootrecord.h"

namespace {

TEST(LayoutReply, KeepsSixteenEntriesWithTheirLengths) {
  uint8_t reply[QUERY_BUFFER_SIZE] = {};
  StoreLe32(reply, 20);
  StoreLe32(reply + 4, 0xCAFEF00D);
  for (uint32_t i = 0; i < 20; i++) {
    uint8_t *length = reply + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE + 8;
    StoreLe32(length, 5 + i);
    StoreLe32(length + 4, 1);
  }
  DiskLayoutInfo layout;
  memset(&layout, 0xFF, sizeof layout);
  ASSERT_EQ(DecodeDriveLayout(reply, sizeof reply, &layout), 1);
  EXPECT_EQ(layout.signature, 0xCAFEF00Du);
  EXPECT_EQ(layout.partition_count, 16);
  EXPECT_EQ(layout.partition_length[0], 4294967301.0);
  EXPECT_EQ(layout.partition_length[15], 4294967296.0 + 20);
}

TEST(LayoutReply, ShortReplyLeavesTheRecordZero) {
  uint8_t reply[4] = {1, 0, 0, 0};
  DiskLayoutInfo layout;
  memset(&layout, 0xFF, sizeof layout);
  EXPECT_EQ(DecodeDriveLayout(reply, sizeof reply, &layout), 0);
  EXPECT_EQ(layout.signature, 0u);
  EXPECT_EQ(layout.partition_count, 0);
  for (double length : layout.partition_length)
    EXPECT_EQ(length, 0.0);
}

TEST(LayoutReply, LargeToDoubleReadsTheHighHalfSigned) {
  EXPECT_EQ(LargeToDouble(5, 1), 4294967301.0);
  EXPECT_EQ(LargeToDouble(0xFFFFFFFF, 0), 4294967295.0);
  EXPECT_EQ(LargeToDouble(0, -1), -4294967296.0);
}

TEST(GeometryReply, CopiesAndChecksTheSize) {
  uint8_t reply[GEOMETRY_SIZE] = {};
  StoreLe32(reply, 0x10);
  StoreLe32(reply + 4, 0x1); // 4 GiB + 16 cylinders
  StoreLe32(reply + 8, 12);
  StoreLe32(reply + 12, 255);
  StoreLe32(reply + 16, 63);
  StoreLe32(reply + 20, 2048);
  DiskGeometry g;
  EXPECT_EQ(DecodeDiskGeometry(reply, GEOMETRY_SIZE, &g), 1);
  EXPECT_EQ(g.Cylinders, 0x100000010LL);
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.BytesPerSector, 2048u);
  EXPECT_EQ(DecodeDiskGeometry(reply, QUERY_BUFFER_SIZE + 1, &g), 0);
}

TEST(ExtentsReply, FirstExtentDiskAndZeroFilledReply) {
  uint8_t reply[EXTENTS_BUFFER_SIZE] = {};
  EXPECT_EQ(DecodeFirstExtentDisk(reply), 0);
  StoreLe32(reply, 2);
  StoreLe32(reply + EXTENT_HEADER_SIZE, 3);
  StoreLe32(reply + EXTENT_HEADER_SIZE + EXTENT_SIZE, 7);
  EXPECT_EQ(DecodeFirstExtentDisk(reply), 3);
}

TEST(MadeUpGeometry, WholeCylindersOf255By63) {
  DiskGeometry g;
  MakeUpGeometry(131072, &g); // 64 MiB
  EXPECT_EQ(g.Cylinders, 8);
  EXPECT_EQ(g.TracksPerCylinder * g.SectorsPerTrack, 255u * 63u);
  EXPECT_EQ(g.BytesPerSector, 512u);
}

} // namespace
