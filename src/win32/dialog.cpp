// The dialog surface over the KORMELDE dialog, and its dialog procedure.
#include "win32/dialog.h"

#include "ui/commands.h"
#include "ui/surface.h"
#include "ui/texts.h"
#include "win32/startup.h"

HICON g_icon = nullptr;

static HWND Window(Dialog dialog) {
  return static_cast<HWND>(dialog);
}

const char *SurfaceText(const char *text) {
  return text;
}

void SurfaceProgress(Dialog, int, int) {}

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

void SurfaceReport(Dialog dialog, const char *report) {
  MessageBoxA(Window(dialog), report, TXT_TITLE, MB_OK);
}

int SurfaceConfirmRewrite(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  return MessageBoxF(dialog, MB_YESNO, TXT_TITLE, TXT_WRITE_CONFIRM, disk, (unsigned)old_signature,
                     (unsigned long)new_signature);
}

void SurfaceRewritten(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  if (MessageBoxF(dialog, MB_YESNO, TXT_TITLE, TXT_WRITE_SUCCESS, disk,
                  (unsigned long)old_signature, (unsigned long)new_signature) == IDYES)
    ShutdownWindows(EWX_SHUTDOWN | EWX_POWEROFF);
}

static Session *SessionOf(HWND dialog) {
  return reinterpret_cast<Session *>(GetWindowLongPtrA(dialog, DWLP_USER));
}

static void InitDialog(HWND dialog, Session *session) {
  // The session outlives the dialog: WinMain owns it.
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(session));
  session->dialog = dialog;
  // The icon handle is pointer-sized: SetClassLongA would cut it on x86_64.
  // On i686 SetClassLongPtrA is a macro for SetClassLongA, so the i686 build
  // still imports only what Windows XP exports.
  SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(g_icon));
  SetDlgItemInt(dialog, IDC_DISK, static_cast<UINT>(session->disk), FALSE);
  SetDlgItemTextA(dialog, IDC_NEWSIG, TXT_NEWSIG_RESET);
}

// Returns FALSE for every message: the system sets no default focus and
// handles the rest.
// The dialog shows what a command did; its outcome is not needed here.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    InitDialog(dialog, reinterpret_cast<Session *>(lparam));
  } else if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
    case IDC_GET:
      CommandGet(SessionOf(dialog));
      break;
    case IDC_ACCESS:
      CommandAccess(SessionOf(dialog));
      break;
    case IDC_WRITE:
      CommandWrite(SessionOf(dialog));
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
