// Entry of the Windows program: caution notice, platform check, main dialog.
#include <windows.h>

#include "app/argvector.h"
#include "ui/commands.h"
#include "ui/texts.h"
#include "win32/dialog.h"
#include "win32/startup.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "ANSI OSVERSIONINFO is 148 bytes");

uint32_t GetPlatformId() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info.dwPlatformId;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_icon = LoadIconA(instance, "KORMICO");
  if (MessageBoxA(nullptr, TXT_NOTICE, TXT_TITLE, MB_YESNO) == IDNO) return 0;
  if (FindOption("/DEBUG") == 0 && GetPlatformId() != VER_PLATFORM_WIN32_NT) {
    MessageBoxA(nullptr, TXT_PLATFORM, TXT_TITLE, MB_OK);
    return 0;
  }
  Session session = {nullptr, nullptr, 0};
  DialogBoxParamA(instance, "KORMELDE", nullptr, MainDialogProc,
                  reinterpret_cast<LPARAM>(&session));
  return 0;
}
