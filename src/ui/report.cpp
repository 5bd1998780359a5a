#include "ui/report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "disk/layout.h"
#include "ui/texts.h"

static void Format(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void Format(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, size, SurfaceText(format), args);
  if (n < 0 || (size_t)n >= size) buffer[size - 1] = '\0';
  va_end(args);
}

double RoundSize(double value) {
  // Not std::round: MinGW's rounds 0.49999999999999994 up. x - floor(x) is exact.
  if (value < 0) return -RoundSize(-value);
  double whole = std::floor(value);
  return value - whole >= 0.5 ? whole + 1 : whole;
}

// Appends text to a NUL-terminated buffer of size bytes, cutting at the end.
static void Append(char *buffer, size_t size, const char *text) {
  size_t used = strlen(buffer);
  if (used + 1 >= size) return;
  size_t room = size - 1 - used;
  size_t n = strlen(text);
  if (n > room) n = room;
  memcpy(buffer + used, text, n);
  buffer[used + n] = '\0';
}

static const double kToMiB = 1.0 / 1024;

void FormatGetReport(char *report, size_t size, const DiskGeometry &geometry,
                     const DiskLayoutInfo &layout, BootFormat format) {
  double disk = LargeToDouble((uint32_t)(uint64_t)geometry.Cylinders,
                              (int32_t)((uint64_t)geometry.Cylinders >> 32)) *
                geometry.TracksPerCylinder * geometry.SectorsPerTrack * geometry.BytesPerSector *
                kToMiB * kToMiB;
  Format(report, size, TXT_REPORT_HEAD, (unsigned long)layout.signature, layout.partition_count,
         RoundSize(disk));
  Append(report, size,
         SurfaceText(format == AtCompatible ? TXT_REPORT_AT
                     : format == Pc9821     ? TXT_REPORT_PC98
                                            : TXT_REPORT_UNKNOWN));
  Append(report, size, SurfaceText(TXT_REPORT_PARTITIONS));
  char item[ITEM_BUFFER_SIZE];
  for (int i = 0; i < layout.partition_count; i++) {
    double length = layout.partition_length[i];
    if (!(length > REPORT_MIN_PARTITION)) continue;
    Format(item, sizeof item, TXT_REPORT_ITEM, RoundSize(length * kToMiB * kToMiB), i + 1);
    Append(report, size, item);
  }
}
