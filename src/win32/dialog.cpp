// The dialog surface over the KORMELDE dialog, and its dialog procedure.
#include "win32/dialog.h"

#include "ui/commands.h"
#include "ui/surface.h"
#include "ui/texts.h"

HICON g_icon = nullptr;

static HWND Window(Dialog dialog) {
  return static_cast<HWND>(dialog);
}

int SurfaceMessage(Dialog dialog, const char *text, const char *caption, unsigned style) {
  return MessageBoxA(Window(dialog), text, caption, style);
}

unsigned SurfaceGetText(Dialog dialog, int id, char *buffer, int size) {
  return GetDlgItemTextA(Window(dialog), id, buffer, size);
}

void SurfaceSetText(Dialog dialog, int id, const char *text) {
  SetDlgItemTextA(Window(dialog), id, text);
}

unsigned SurfaceGetInt(Dialog dialog, int id, int *translated) {
  BOOL ok = FALSE;
  unsigned value = GetDlgItemInt(Window(dialog), id, &ok, FALSE);
  *translated = ok ? 1 : 0;
  return value;
}

void SurfaceSetInt(Dialog dialog, int id, unsigned value) {
  SetDlgItemInt(Window(dialog), id, value, FALSE);
}

RewriteSuccess SurfaceRewriteSuccess(Dialog) {
  return {TXT_WRITE_SUCCESS, MB_YESNO};
}

static void InitDialog(HWND dialog) {
  // The icon handle is pointer-sized: SetClassLongA would cut it on x86_64.
  // On i686 SetClassLongPtrA is a macro for SetClassLongA, so the i686 build
  // still imports only what Windows XP exports.
  SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(g_icon));
  SetDlgItemInt(dialog, IDC_DISK, static_cast<UINT>(g_disk), FALSE);
  SetDlgItemTextA(dialog, IDC_NEWSIG, TXT_NEWSIG_RESET);
}

// Returns FALSE for every message: the system sets no default focus and
// handles the rest.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    InitDialog(dialog);
  } else if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
    case IDC_GET:
      CommandGet(dialog);
      break;
    case IDC_ACCESS:
      CommandAccess(dialog);
      break;
    case IDC_WRITE:
      CommandWrite(dialog);
      break;
    case IDCANCEL:
    case IDC_QUIT:
      EndDialog(dialog, 0);
      break;
    default:
      break;
    }
  }
  return FALSE;
}
