// The dialog's commands, over the dialog surface and the disk operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/disk.h"
#include "ui/surface.h"

enum {
  FIELD_BUFFER_SIZE = 1024,
  NEWSIG_BUFFER_SIZE = 64,
  MESSAGE_BUFFER_SIZE = 2048,
};

// What a command works on: its window, the run's disks, and the disk
// number most recently read from IDC_DISK (the one thing kept between
// commands).
struct Session {
  Dialog dialog;
  DiskSet *disks;
  int disk;
};

// What a command did. Declined: a question was answered No. Refused: the
// input or the disk was not acceptable, nothing was attempted. Failed: the
// disk could not be read or written.
enum OutcomeKind { OUTCOME_DONE = 0, OUTCOME_DECLINED, OUTCOME_REFUSED, OUTCOME_FAILED };
struct Outcome {
  OutcomeKind kind;
  DiskError reason; // DISK_OK when there is none to give
  // DISK_NOT_EXPECTED: the signature the user was shown, and the disk's now.
  uint32_t shown = 0, found = 0;
};

// printf-style message box; the text is cut at 2047 bytes.
int MessageBoxF(Dialog owner, unsigned style, const char *caption, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// Reads IDC_DISK into the session's disk; 1 when it is a number from 0 to
// 50, else shows the invalid-number message and returns 0.
int ReadDiskNumber(Session *session);

// scanf "%lx" into 32 bits, with the same edges on every C runtime.
uint32_t ParseHexSignature(const char *text);

// GetDlgItemInt(..., FALSE) over a field's text, for surfaces that keep their
// fields as text: digits after optional blanks, trailing spaces allowed.
unsigned ParseDialogInt(const char *text, int *translated);
// GetDlgItemTextA over a field held as text: at most size - 1 bytes, always
// NUL-terminated; returns the length copied.
unsigned CopyFieldText(const char *text, size_t length, char *buffer, int size);

Outcome CommandGet(Session *session);
Outcome CommandAccess(Session *session);
Outcome CommandWrite(Session *session);
