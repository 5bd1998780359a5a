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

// What follows a successful rewrite on this platform: the message format
// (arguments: disk, old and new signature) and its style. Yes to a Yes/No
// message asks the system to shut down.
struct RewriteSuccess {
  const char *format;
  unsigned style;
};
RewriteSuccess SurfaceRewriteSuccess(Dialog dialog);
// ExitWindowsEx with the shutdown privilege enabled first; result may be
// ignored.
int ShutdownWindows(uint32_t flags);

enum { EWX_SHUTDOWN_FLAG = 1, EWX_POWEROFF_FLAG = 8 };
