// What the Win32 backend asks of the device queries and how it reads the
// replies, with a scripted DiskQuery in place of DeviceIoControl.
#include <cstring>

#include <gtest/gtest.h>

#include "disk/disk.h"
#include "query_scripted.h"

namespace {

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; i++)
    b[at + i] = (uint8_t)(v >> (8 * i));
}

void Answer(int ok, std::vector<uint8_t> reply, uint32_t returned) {
  g_query = ScriptedQuery();
  g_query.ok = ok;
  g_query.reply = std::move(reply);
  g_query.returned = returned;
}

DiskHandle const kHandle = (DiskHandle)(intptr_t)0x1234;

TEST(Win32Queries, LayoutReplyIsDigested) {
  std::vector<uint8_t> reply(8 + 20 * 32, 0);
  Put32(reply, 0, 20);
  Put32(reply, 4, 0x56FC78DE);
  for (uint32_t i = 0; i < 20; i++)
    Put32(reply, 8 + i * 32 + 8, (i + 1) * 1048576);
  Put32(reply, 8 + 2 * 32 + 8, 5); // entry 2: 4,294,967,301 bytes
  Put32(reply, 8 + 2 * 32 + 12, 1);
  Answer(1, reply, (uint32_t)reply.size());
  DiskLayoutInfo layout;
  ASSERT_EQ(GetDiskLayout(kHandle, &layout), 1);
  EXPECT_EQ(g_query.handle, kHandle);
  EXPECT_EQ(g_query.code, 0x7400CUL);
  EXPECT_EQ(g_query.size, 10000UL);
  EXPECT_EQ(layout.signature, 0x56FC78DEu);
  EXPECT_EQ(layout.partition_count, 16);
  EXPECT_EQ(layout.partition_length[0], 1048576.0);
  EXPECT_EQ(layout.partition_length[2], 4294967301.0);
  EXPECT_EQ(layout.partition_length[15], 16 * 1048576.0);
}

TEST(Win32Queries, GeometryIsCopiedOnlyFromAWholeReply) {
  std::vector<uint8_t> reply;
  Put32(reply, 0, 1023);
  Put32(reply, 4, 1); // cylinders 2^32 + 1023
  Put32(reply, 8, 12);
  Put32(reply, 12, 255);
  Put32(reply, 16, 63);
  Put32(reply, 20, 2048);
  const DiskGeometry before = {7, 7, 7, 7, 7};
  DiskGeometry geometry = before;
  Answer(1, reply, 24);
  ASSERT_EQ(GetDiskGeometry(kHandle, &geometry), 1);
  EXPECT_EQ(g_query.code, 0x70000UL);
  EXPECT_EQ(g_query.size, 10000UL);
  EXPECT_EQ(geometry.Cylinders, (1LL << 32) + 1023);
  EXPECT_EQ(geometry.MediaType, 12u);
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(geometry.BytesPerSector, 2048u);

  for (int ok : {0, 1}) { // failed, and a reply shorter than DISK_GEOMETRY
    geometry = before;
    Answer(ok, reply, ok ? 20 : 24);
    EXPECT_EQ(GetDiskGeometry(kHandle, &geometry), 0);
    EXPECT_EQ(memcmp(&geometry, &before, sizeof geometry), 0);
  }
  Answer(1, reply, 10001); // more than the buffer: copied, yet a failure
  EXPECT_EQ(GetDiskGeometry(kHandle, &geometry), 0);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
}

// Wine opens \\.\C:, so these reach the scripted extents query.
TEST(Win32Queries, DriveLetterMapsToTheFirstExtentsDisk) {
  std::vector<uint8_t> reply(8 + 2 * 24, 0);
  Put32(reply, 0, 2);
  Put32(reply, 8, 3);  // first extent on disk 3
  Put32(reply, 32, 5); // second on disk 5
  Answer(1, reply, (uint32_t)reply.size());
  EXPECT_EQ(DriveLetterToDiskNumber('C'), 3);
  EXPECT_EQ(g_query.code, 0x560000UL);
  EXPECT_EQ(g_query.size, 2048UL);
  EXPECT_TRUE(g_query.out_was_zero);

  // Failed, reported more than the buffer holds, or no extent at all.
  Answer(0, reply, (uint32_t)reply.size());
  EXPECT_EQ(DriveLetterToDiskNumber('C'), EXTENTS_QUERY_FAILED);
  Answer(1, reply, 2049);
  EXPECT_EQ(DriveLetterToDiskNumber('C'), EXTENTS_QUERY_FAILED);
  Answer(1, {}, 0);
  EXPECT_EQ(DriveLetterToDiskNumber('c'), EXTENTS_QUERY_FAILED);
  EXPECT_EQ(g_query.calls, 1);
}

} // namespace
