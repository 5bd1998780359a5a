// Dialog surface: what a command needs from its window. Implemented by the
// Win32 dialog (dialog_win32.cpp), the terminal (surface_term.cpp) and the
// tests' scripted surface. Commands never call a window function directly.
#pragma once

#include <cstdint>

typedef void *Dialog;

enum {
  MB_OK_STYLE = 0,
  MB_YESNO_STYLE = 4,
  ANSWER_OK = 1,
  ANSWER_YES = 6,
  ANSWER_NO = 7,
};

enum {
  IDC_DISK = 101,
  IDC_GET = 102,
  IDC_ACCESS = 103,
  IDC_NEWSIG = 104,
  IDC_WRITE = 105,
  IDC_GET_TEXT = 202,
  IDC_ACCESS_TEXT = 203,
  IDC_QUIT = 999,
};

// One of texts.h's texts as the user reads it: the text itself on Windows,
// the text in the locale's language on Linux. Commands pass every text
// through it before formatting or showing it.
const char *SurfaceText(const char *text);
// MessageBoxA: shows text with caption and style, returns the answer.
int SurfaceMessage(Dialog dialog, const char *text, const char *caption, unsigned style);
// GetDlgItemTextA: copies at most size - 1 bytes, NUL-terminated; returns the
// length copied.
unsigned SurfaceGetText(Dialog dialog, int id, char *buffer, int size);
// SetDlgItemTextA.
void SurfaceSetText(Dialog dialog, int id, const char *text);
// GetDlgItemInt(dialog, id, &translated, FALSE).
unsigned SurfaceGetInt(Dialog dialog, int id, int *translated);
// SetDlgItemInt(dialog, id, value, FALSE).
void SurfaceSetInt(Dialog dialog, int id, unsigned value);

// How far Access's sweep of total reads is (done 0 before the first). The
// dialog shows nothing more than its busy text; the terminal a progress bar.
void SurfaceProgress(Dialog dialog, int done, int total);

// What the terminal tells apart from the other messages: the Get report,
// the question before a rewrite and the rewrite's result.
// MessageBoxA(dialog, report, title, MB_OK).
void SurfaceReport(Dialog dialog, const char *report);
// The Yes/No question before disk's signature old becomes new; the answer.
int SurfaceConfirmRewrite(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature);
// The new signature was written. On Windows: the success text, and Yes
// shuts Windows down.
void SurfaceRewritten(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature);
