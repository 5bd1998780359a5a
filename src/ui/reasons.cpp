#include "ui/reasons.h"

#include "ui/surface.h"
#include "ui/texts.h"

static const char *Text(DiskError error) {
  switch (error) {
  case DISK_OK:
    return TXT_POSIX_OK;
  case DISK_NO_SUCH_DISK:
    return TXT_POSIX_NO_SUCH_DISK;
  case DISK_NO_PERMISSION:
    return TXT_POSIX_NO_PERMISSION;
  case DISK_ROOT_REFUSED:
    return TXT_POSIX_NO_PERMISSION_ROOT;
  case DISK_LOCKED:
    return TXT_POSIX_LOCKED;
  case DISK_NOT_A_DISK:
    return TXT_POSIX_NOT_A_DISK;
  case DISK_TOO_SHORT:
    return TXT_POSIX_TOO_SHORT;
  case DISK_BAD_CONTAINER:
    return TXT_POSIX_BAD_CONTAINER;
  case DISK_BACKUP_FAILED:
    return TXT_POSIX_BACKUP_FAILED;
  case DISK_UNSUPPORTED_IMAGE:
    return TXT_POSIX_UNSUPPORTED_IMAGE;
  case DISK_READ_ONLY:
    return TXT_POSIX_READ_ONLY;
  case DISK_CHANGED:
    return TXT_POSIX_DISK_CHANGED;
  case DISK_OTHER_DISK:
    return TXT_POSIX_OTHER_DISK;
  case DISK_NO_NUMBER_LEFT:
    return TXT_POSIX_NO_NUMBER_LEFT;
  case DISK_SECTOR_SIZE:
    return TXT_POSIX_SECTOR_SIZE;
  case DISK_NO_LAYOUT:
    return TXT_POSIX_NO_LAYOUT;
  case DISK_NOT_EXPECTED:
    return TXT_POSIX_NOT_EXPECTED;
  case DISK_NO_BOOT_MARK:
    return TXT_POSIX_NO_BOOT_MARK;
  case DISK_FORMAT_UNKNOWN:
    return TXT_POSIX_FORMAT_UNKNOWN;
  case DISK_SECTOR_UNSUPPORTED:
    return TXT_POSIX_SECTOR_UNSUPPORTED;
  case DISK_WRITE_UNDONE:
    return TXT_POSIX_WRITE_UNDONE;
  case DISK_WRITE_LEFT_NEW:
    return TXT_POSIX_WRITE_LEFT_NEW;
  case DISK_WRITE_TORN:
    return TXT_POSIX_WRITE_TORN;
  case DISK_WRITE_UNVERIFIED:
    return TXT_POSIX_WRITE_UNVERIFIED;
  case DISK_IMAGE_IN_USE:
    return TXT_POSIX_IMAGE_IN_USE;
  case DISK_IMAGE_REFUSED:
    return TXT_POSIX_IMAGE_REFUSED;
  case DISK_IMAGE_ENCRYPTED:
    return TXT_POSIX_IMAGE_ENCRYPTED;
  case DISK_IMAGE_READ_ONLY:
    return TXT_POSIX_IMAGE_READ_ONLY;
  case DISK_IMAGE_CHECK_FAILED:
    return TXT_POSIX_IMAGE_CHECK_FAILED;
  case DISK_NO_QEMU:
    return TXT_POSIX_NO_QEMU;
  case DISK_IO_ERROR:
  case DISK_UNKNOWN:
  default:
    return TXT_POSIX_IO_ERROR;
  }
}

const char *DiskErrorText(DiskError error) {
  return SurfaceText(Text(error));
}
