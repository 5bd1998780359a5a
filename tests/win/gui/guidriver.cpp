// Drives the Windows program from outside, as a user would, and logs what
// it saw. Text is logged as the ANSI (code page 932) bytes the windows give,
// control characters escaped (\n, \r, \t, \xHH), one record per line;
// lines starting with '#' are timings, not part of what is compared.
//
//   guidriver LOG run "COMMAND LINE" STEP...
//     box:yes|no|ok   wait for a message box of the program, log its text,
//                     answer it and wait until it is gone
//     see             wait for a message box of the program, leave it open
//     dialog          wait for the main dialog, log its caption and every
//                     control: id, class, rectangle in dialog units, text
//     set:ID=TEXT     set a control's text (WM_SETTEXT)
//     click:ID        press a button (BM_CLICK)
//     command:ID      post WM_COMMAND ID to the dialog
//     key:escape|enter  post the key to the dialog
//     close           the close box (WM_SYSCOMMAND SC_CLOSE)
//     text:ID         log a control's text
//     alive           log whether the dialog still exists after a pause
//     sync:PATH       create PATH and wait until someone deletes it
//     exit            wait for the program to end, log any window it shows
//                     meanwhile, then its exit code
//   guidriver LOG template EXE
//     log the KORMELDE dialog template, the KORMICO icon group and the
//     manifest of EXE, texts as UTF-8
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "texts.h"

namespace {

FILE *g_log = nullptr;
DWORD g_pid = 0;
HANDLE g_process = nullptr;
HWND g_dialog = nullptr;
const DWORD kTimeoutMs = 30000;

std::string Escape(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    char buffer[8];
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    } else
      out += (char)c;
  }
  return out;
}

void Log(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(g_log, format, args);
  va_end(args);
  fputc('\n', g_log);
  fflush(g_log);
}

[[noreturn]] void Fail(const char *what) {
  Log("timeout %s", what);
  if (g_process) TerminateProcess(g_process, 99);
  exit(3);
}

std::string WindowText(HWND window) {
  std::vector<char> buffer(16384);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(),
                           SMTO_ABORTIFHUNG, 5000, &copied))
    return "?";
  return std::string(buffer.data(), copied);
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

struct Search {
  const char *caption;
  HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM param) {
  Search *search = reinterpret_cast<Search *>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != g_pid || !IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  char caption[256] = "";
  GetWindowTextA(window, caption, sizeof caption);
  if (strcmp(caption, search->caption) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitWindow(const char *caption, const char *what) {
  DWORD start = GetTickCount();
  for (;;) {
    Search search = {caption, nullptr};
    EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (WaitForSingleObject(g_process, 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(g_process, &code);
      Log("ended %lu before %s", (unsigned long)code, what);
      exit(4);
    }
    if (GetTickCount() - start > kTimeoutMs) Fail(what);
    Sleep(10);
  }
}

void WaitGone(HWND window, const char *what) {
  DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - start > kTimeoutMs) Fail(what);
    Sleep(10);
  }
}

// The message box's text is its static control 0xFFFF.
void AnswerBox(const char *answer) {
  HWND box = WaitWindow(TXT_TITLE, "box");
  HWND text = GetDlgItem(box, 0xFFFF);
  Log("box %s", Escape(text ? WindowText(text) : "?").c_str());
  WPARAM id = !strcmp(answer, "yes") ? IDYES : !strcmp(answer, "no") ? IDNO : IDOK;
  if (!GetDlgItem(box, (int)id)) Log("box has no button %d", (int)id);
  PostMessageA(box, WM_COMMAND, id, 0);
  WaitGone(box, "box to close");
}

// Dialog units from pixels: the unit that maps the template's size onto the
// dialog's client area, then each coordinate mapped back.
int Base(int pixels, int units, int divisor) {
  for (int base = 1; base < 100; base++)
    if (MulDiv(units, base, divisor) == pixels) return base;
  return 0;
}

int Units(int pixels, int base, int divisor) {
  for (int units = 0; units < 2000; units++)
    if (MulDiv(units, base, divisor) == pixels) return units;
  return -1;
}

void LogDialog() {
  g_dialog = WaitWindow(TXT_DLG_CAPTION, "dialog");
  RECT client;
  GetClientRect(g_dialog, &client);
  int bx = Base(client.right, 318, 4), by = Base(client.bottom, 248, 8);
  Log("dialog %s", Escape(WindowText(g_dialog)).c_str());
  Log("# client %ldx%ld base %d %d", client.right, client.bottom, bx, by);
  if (!bx || !by) Log("client area is not 318 x 248 dialog units");
  for (HWND child = GetWindow(g_dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, g_dialog, reinterpret_cast<POINT *>(&r), 2);
    Log("control %d %s %d,%d,%d,%d %s", GetDlgCtrlID(child), ClassOf(child).c_str(),
        Units(r.left, bx, 4), Units(r.top, by, 8), Units(r.right - r.left, bx, 4),
        Units(r.bottom - r.top, by, 8), Escape(WindowText(child)).c_str());
  }
}

HWND Control(const char *id) {
  if (!g_dialog) Fail("dialog before control step");
  return GetDlgItem(g_dialog, atoi(id));
}

// The dialog the earlier steps logged may still be on screen while it is
// being destroyed: only windows shown after it count.
void WaitExit() {
  std::vector<HWND> seen;
  if (g_dialog) seen.push_back(g_dialog);
  DWORD start = GetTickCount();
  while (WaitForSingleObject(g_process, 10) == WAIT_TIMEOUT) {
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid != g_pid || !IsWindowVisible(w)) continue;
      bool known = false;
      for (HWND s : seen)
        known = known || s == w;
      if (known) continue;
      seen.push_back(w);
      Log("window %s %s", ClassOf(w).c_str(), Escape(WindowText(w)).c_str());
    }
    if (GetTickCount() - start > kTimeoutMs) Fail("exit");
  }
  DWORD code = 0;
  GetExitCodeProcess(g_process, &code);
  Log("exit %lu", (unsigned long)code);
}

void Step(const std::string &step) {
  std::string name = step.substr(0, step.find(':'));
  std::string arg = step.find(':') == std::string::npos ? "" : step.substr(step.find(':') + 1);
  if (name == "box") {
    AnswerBox(arg.c_str());
  } else if (name == "see") {
    WaitWindow(TXT_TITLE, "box");
  } else if (name == "dialog") {
    LogDialog();
  } else if (name == "set") {
    std::string id = arg.substr(0, arg.find('='));
    std::string text = arg.substr(arg.find('=') + 1);
    SendMessageA(Control(id.c_str()), WM_SETTEXT, 0, (LPARAM)text.c_str());
  } else if (name == "click") {
    PostMessageA(Control(arg.c_str()), BM_CLICK, 0, 0);
  } else if (name == "command") {
    Control("0");
    PostMessageA(g_dialog, WM_COMMAND, (WPARAM)atoi(arg.c_str()), 0);
  } else if (name == "key") {
    Control("0");
    WPARAM key = arg == "escape" ? VK_ESCAPE : VK_RETURN;
    PostMessageA(g_dialog, WM_KEYDOWN, key, 1);
    PostMessageA(g_dialog, WM_KEYUP, key, (LPARAM)0xC0000001u);
  } else if (name == "close") {
    Control("0");
    PostMessageA(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (name == "text") {
    Log("text %s %s", arg.c_str(), Escape(WindowText(Control(arg.c_str()))).c_str());
  } else if (name == "alive") {
    Sleep(500);
    Log(g_dialog && IsWindow(g_dialog) ? "alive" : "gone");
  } else if (name == "sync") {
    HANDLE file = CreateFileA(arg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    DWORD start = GetTickCount();
    while (GetFileAttributesA(arg.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount() - start > kTimeoutMs) Fail("sync");
      Sleep(10);
    }
  } else if (name == "exit") {
    WaitExit();
  } else {
    Log("unknown step %s", step.c_str());
    if (g_process) TerminateProcess(g_process, 99);
    exit(2);
  }
}

int Run(const char *command_line, int count, char **steps) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::vector<char> line(command_line, command_line + strlen(command_line) + 1);
  DWORD start = GetTickCount();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    Log("cannot start %s (error %lu)", command_line, (unsigned long)GetLastError());
    return 1;
  }
  g_process = info.hProcess;
  g_pid = info.dwProcessId;
  CloseHandle(info.hThread);
  for (int i = 0; i < count; i++) {
    Step(steps[i]);
    Log("# %s done %lu ms after start", steps[i], (unsigned long)(GetTickCount() - start));
  }
  if (WaitForSingleObject(g_process, 0) == WAIT_TIMEOUT) {
    Log("still running: terminated");
    TerminateProcess(g_process, 99);
    return 5;
  }
  return 0;
}

// --- Resources of an executable ---

std::string Utf8(const WCHAR *text, int length = -1) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();
  return out;
}

// A name or ordinal field of a dialog template; advances p.
std::string NameOrOrdinal(const WORD *&p) {
  char buffer[16];
  if (*p == 0xFFFF) {
    snprintf(buffer, sizeof buffer, "#%u", p[1]);
    p += 2;
    return buffer;
  }
  std::string text = Utf8(reinterpret_cast<const WCHAR *>(p));
  while (*p)
    p++;
  p++;
  return text;
}

const void *Resource(HMODULE module, LPCSTR name, LPCSTR type, DWORD *size) {
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return nullptr;
  *size = SizeofResource(module, found);
  return LockResource(LoadResource(module, found));
}

int Template(const char *exe) {
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    Log("cannot load %s", exe);
    return 1;
  }
  DWORD size = 0;
  const WORD *p = static_cast<const WORD *>(Resource(module, "KORMELDE", RT_DIALOG, &size));
  if (!p) {
    Log("no dialog KORMELDE");
  } else if (p[0] == 1 && p[1] == 0xFFFF) {
    Log("dialog is an extended template");
  } else {
    const DLGTEMPLATE *dialog = reinterpret_cast<const DLGTEMPLATE *>(p);
    Log("dialog style %08lX exstyle %08lX at %d,%d size %d,%d controls %d",
        (unsigned long)dialog->style, (unsigned long)dialog->dwExtendedStyle, dialog->x, dialog->y,
        dialog->cx, dialog->cy, dialog->cdit);
    p = reinterpret_cast<const WORD *>(dialog + 1);
    std::string menu = NameOrOrdinal(p);
    std::string window_class = NameOrOrdinal(p);
    std::string caption = NameOrOrdinal(p);
    Log("menu '%s' class '%s'", menu.c_str(), window_class.c_str());
    Log("caption %s", Escape(caption).c_str());
    if (dialog->style & DS_SETFONT) {
      unsigned points = *p++;
      Log("font %u %s", points, NameOrOrdinal(p).c_str());
    }
    for (int i = 0; i < dialog->cdit; i++) {
      p = reinterpret_cast<const WORD *>(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
      const DLGITEMTEMPLATE *item = reinterpret_cast<const DLGITEMTEMPLATE *>(p);
      p = reinterpret_cast<const WORD *>(item + 1);
      std::string item_class = NameOrOrdinal(p);
      std::string text = NameOrOrdinal(p);
      WORD extra = *p++;
      p = reinterpret_cast<const WORD *>(reinterpret_cast<const BYTE *>(p) + extra);
      static const char *kAtoms[] = {"BUTTON", "EDIT", "STATIC"};
      if (item_class.size() == 4 && item_class.compare(0, 2, "#1") == 0) {
        int atom = atoi(item_class.c_str() + 1) - 0x80;
        if (atom >= 0 && atom < 3) item_class = kAtoms[atom];
      }
      Log("control %u %s %08lX %08lX %d,%d,%d,%d %s", (unsigned)item->id, item_class.c_str(),
          (unsigned long)item->style, (unsigned long)item->dwExtendedStyle, item->x, item->y,
          item->cx, item->cy, Escape(text).c_str());
    }
  }

#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
  };
#pragma pack(pop)
  const WORD *group = static_cast<const WORD *>(Resource(module, "KORMICO", RT_GROUP_ICON, &size));
  if (!group) {
    Log("no icon KORMICO");
  } else {
    Log("icon images %u", group[2]);
    const GroupEntry *entry = reinterpret_cast<const GroupEntry *>(group + 3);
    for (int i = 0; i < group[2]; i++, entry++) {
      Log("icon image %ux%u colours %u bits %u", entry->width, entry->height, entry->colours,
          entry->bits);
      const BITMAPINFOHEADER *image = static_cast<const BITMAPINFOHEADER *>(
          Resource(module, MAKEINTRESOURCEA(entry->id), RT_ICON, &size));
      if (image)
        Log("icon bitmap %ldx%ld bits %u", image->biWidth, image->biHeight / 2, image->biBitCount);
    }
  }

  const char *manifest =
      static_cast<const char *>(Resource(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), &size));
  if (!manifest)
    Log("no manifest 1");
  else
    Log("manifest %s", Escape(std::string(manifest, size)).c_str());
  FreeLibrary(module);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: guidriver LOG run \"COMMAND LINE\" STEP... | LOG template EXE\n");
    return 2;
  }
  g_log = fopen(argv[1], "wb");
  if (!g_log) {
    fprintf(stderr, "guidriver: cannot open %s\n", argv[1]);
    return 2;
  }
  if (!strcmp(argv[2], "template")) return Template(argv[3]);
  if (!strcmp(argv[2], "run")) return Run(argv[3], argc - 4, argv + 4);
  fprintf(stderr, "guidriver: unknown mode %s\n", argv[2]);
  return 2;
}
