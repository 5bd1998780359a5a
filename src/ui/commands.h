// The dialog's commands, over the dialog surface and the disk operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/surface.h"

enum {
  REPORT_BUFFER_SIZE = 10000,
  FIELD_BUFFER_SIZE = 1024,
  ITEM_BUFFER_SIZE = 1024,
  NEWSIG_BUFFER_SIZE = 64,
  MESSAGE_BUFFER_SIZE = 2048,
  REPORT_MIN_PARTITION = 524288,
};

// Disk number most recently read from IDC_DISK.
extern int g_disk;

// printf-style message box; the text is cut at 2047 bytes.
int MessageBoxF(Dialog owner, unsigned style, const char *caption, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// Reads IDC_DISK into g_disk; 1 when it is a number from 0 to 50, else shows
// the invalid-number message and returns 0.
int ReadDiskNumber(Dialog dialog);

// scanf "%lx" into 32 bits, with the same edges on every C runtime.
uint32_t ParseHexSignature(const char *text);

// GetDlgItemInt(..., FALSE) over a field's text, for surfaces that keep their
// fields as text: digits after optional blanks, trailing spaces allowed.
unsigned ParseDialogInt(const char *text, int *translated);
// GetDlgItemTextA over a field held as text: at most size - 1 bytes, always
// NUL-terminated; returns the length copied.
unsigned CopyFieldText(const char *text, size_t length, char *buffer, int size);

// Rounds a non-negative size to whole units, ties away from zero.
double RoundSize(double value);

void CommandGet(Dialog dialog);
void CommandAccess(Dialog dialog);
void CommandWrite(Dialog dialog);
