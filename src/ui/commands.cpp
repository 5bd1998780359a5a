#include "ui/commands.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "disk/layout.h"
#include "ui/report.h"
#include "ui/texts.h"

// vsnprintf of the format as the surface shows it, with the C runtime's own
// edge behaviour taken out: always NUL-terminated, cut at size - 1 bytes.
static void FormatV(char *buffer, size_t size, const char *format, va_list args) {
  int n = vsnprintf(buffer, size, SurfaceText(format), args);
  if (n < 0 || (size_t)n >= size) buffer[size - 1] = '\0';
}

static void Format(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void Format(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(buffer, size, format, args);
  va_end(args);
}

int MessageBoxF(Dialog owner, unsigned style, const char *caption, const char *format, ...) {
  char text[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatV(text, sizeof text, format, args);
  va_end(args);
  return SurfaceMessage(owner, text, caption, style);
}

int ReadDiskNumber(Session *session) {
  int translated = 0;
  session->disk = (int)SurfaceGetInt(session->dialog, IDC_DISK, &translated);
  if (translated && session->disk >= 0 && session->disk <= MAX_DISK_NUMBER) return 1;
  MessageBoxF(session->dialog, MB_OK_STYLE, TXT_TITLE, TXT_BAD_DISK);
  return 0;
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t ParseHexSignature(const char *text) {
  const char *p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
    p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
  uint32_t value = 0;
  for (int d; (d = HexDigit(*p)) >= 0; p++)
    value = (value << 4) | (uint32_t)d;
  return negative ? 0u - value : value;
}

unsigned ParseDialogInt(const char *text, int *translated) {
  *translated = 0;
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  uint64_t value = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + (uint64_t)(*p - '0');
    if (value > 0xFFFFFFFFull) overflow = true;
  }
  while (*p == ' ')
    p++;
  if (*p != '\0' || overflow) return 0;
  uint32_t result = negative ? 0u - (uint32_t)value : (uint32_t)value;
  if (result == 0xFFFFFFFFu) return 0;
  *translated = 1;
  return result;
}

unsigned CopyFieldText(const char *text, size_t length, char *buffer, int size) {
  if (size <= 0) return 0;
  size_t n = length < (size_t)size - 1 ? length : (size_t)size - 1;
  memcpy(buffer, text, n);
  buffer[n] = '\0';
  return (unsigned)n;
}

static Outcome Done() {
  return {OUTCOME_DONE, DISK_OK};
}

static Outcome Declined() {
  return {OUTCOME_DECLINED, DISK_OK};
}

static Outcome Refused(DiskError reason = DISK_OK) {
  return {OUTCOME_REFUSED, reason};
}

static Outcome Failed(DiskError reason = DISK_OK) {
  return {OUTCOME_FAILED, reason};
}

// A reason the user can act on; the Win32 backend's DISK_UNKNOWN is none.
static DiskError Known(DiskError reason) {
  return reason == DISK_UNKNOWN ? DISK_OK : reason;
}

Outcome CommandGet(Session *session) {
  Dialog dialog = session->dialog;
  char field[FIELD_BUFFER_SIZE];
  field[0] = '\0';
  SurfaceGetText(dialog, IDC_DISK, field, sizeof field);
  if (field[0] == '\0') return Refused();

  if (field[1] == ':') {
    char letter = field[0];
    int number = DriveLetterToDiskNumber(letter);
    if (number < 0) {
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_DRIVE_FAILED, letter);
      return Refused();
    }
    if (MessageBoxF(dialog, MB_YESNO_STYLE, TXT_TITLE, TXT_DRIVE_ASK, letter, number) != ANSWER_YES)
      return Declined();
    SurfaceSetInt(dialog, IDC_DISK, (unsigned)number);
  }
  if (!ReadDiskNumber(session)) return Refused();
  int disk = session->disk;

  char item[ITEM_BUFFER_SIZE];
  Format(item, sizeof item, TXT_GET_BUSY, disk);
  SurfaceSetText(dialog, IDC_GET_TEXT, item);

  DiskReport read;
  const char *failure = nullptr;
  DiskError reason = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(session->disks, disk, 'r', &reason);
  if (handle == INVALID_DISK_HANDLE) {
    failure = TXT_READ_FAILED;
  } else {
    read = ReadDiskReport(handle);
    reason = read.reason;
    if (read.failed == REPORT_NO_GEOMETRY)
      failure = TXT_GEOMETRY_FAILED;
    else if (read.failed == REPORT_NO_LAYOUT)
      failure = TXT_LAYOUT_FAILED;
    else if (read.format == NoIpl)
      failure = TXT_NO_IPL;
    else if (read.format == Unknown)
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_FORMAT_UNKNOWN_WARN, disk);
    CloseDisk(handle);
  }
  BootFormat format = read.format;

  if (failure) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, failure, disk);
  } else {
    char report[REPORT_BUFFER_SIZE];
    FormatGetReport(report, sizeof report, read.geometry, read.layout, format);
    SurfaceReport(dialog, report);
  }
  SurfaceSetText(dialog, IDC_GET_TEXT, TXT_GET_IDLE);
  if (!failure) return Done();
  return format == NoIpl ? Refused() : Failed(Known(reason));
}

Outcome CommandAccess(Session *session) {
  Dialog dialog = session->dialog;
  if (!ReadDiskNumber(session)) return Refused();
  DiskError reason = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(session->disks, session->disk, 'r', &reason);
  if (handle == INVALID_DISK_HANDLE) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_READ_FAILED, session->disk);
    return Failed(Known(reason));
  }
  char item[ITEM_BUFFER_SIZE];
  Format(item, sizeof item, TXT_ACCESS_BUSY, session->disk);
  SurfaceSetText(dialog, IDC_ACCESS_TEXT, item);
  TestAccess(
      handle,
      [](void *d, int done, int total) { SurfaceProgress(static_cast<Dialog>(d), done, total); },
      dialog);
  SurfaceSetText(dialog, IDC_ACCESS_TEXT, TXT_ACCESS_IDLE);
  CloseDisk(handle);
  return Done();
}

Outcome CommandWrite(Session *session) {
  Dialog dialog = session->dialog;
  if (!ReadDiskNumber(session)) return Refused();
  int disk = session->disk;
  DiskError reason = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(session->disks, disk, 'r', &reason);
  if (handle == INVALID_DISK_HANDLE) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_READ_FAILED, disk);
    return Failed(Known(reason));
  }
  DiskLayoutInfo layout;
  if (!GetDiskLayout(handle, &layout)) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LAYOUT_FAILED, disk);
    reason = DiskHandleError(handle);
    CloseDisk(handle);
    return Failed(reason == DISK_OK ? DISK_NO_LAYOUT : Known(reason));
  }
  // A disk without the boot mark goes on; the rewrite refuses it itself.
  BootFormat format = DetectBootFormat(handle);
  if (format == Unknown) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_WRITE_UNKNOWN, disk);
    reason = DiskHandleError(handle);
    CloseDisk(handle);
    return reason == DISK_OK ? Refused(DISK_FORMAT_UNKNOWN) : Failed(Known(reason));
  }
  CloseDisk(handle);

  char text[NEWSIG_BUFFER_SIZE] = "0";
  if (SurfaceGetText(dialog, IDC_NEWSIG, text, sizeof text) == 0) {
    SurfaceMessage(dialog, SurfaceText(TXT_NEWSIG_EMPTY), TXT_TITLE, MB_OK_STYLE);
    SurfaceSetText(dialog, IDC_NEWSIG, TXT_NEWSIG_RESET);
    return Refused();
  }
  uint32_t old_signature = layout.signature;
  uint32_t new_signature = ParseHexSignature(text);
  if (SurfaceConfirmRewrite(dialog, disk, old_signature, new_signature) != ANSWER_YES)
    return Declined();

  uint32_t found = old_signature;
  reason = RewriteNtSignature(session->disks, disk, old_signature, new_signature, &found);
  if (reason == DISK_OK) {
    SurfaceRewritten(dialog, disk, old_signature, new_signature);
    return Done();
  }
  MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_WRITE_FAILED, disk);
  bool refused = reason == DISK_NOT_EXPECTED || reason == DISK_NO_BOOT_MARK ||
                 reason == DISK_FORMAT_UNKNOWN || reason == DISK_NO_LAYOUT;
  Outcome outcome = refused ? Refused(reason) : Failed(Known(reason));
  outcome.shown = old_signature;
  outcome.found = found;
  return outcome;
}
