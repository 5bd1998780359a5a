// kormelde: the dialog's commands on the command line, for block devices and
// disk image files.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "disk/disk.h"
#include "posix/disk.h"
#include "posix/terminal.h"
#include "ui/commands.h"
#include "ui/reasons.h"
#include "ui/texts.h"

enum { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

static int Usage(const char *format, const char *argument = "") {
  char detail[MESSAGE_BUFFER_SIZE];
  snprintf(detail, sizeof detail, format, argument);
  fprintf(stderr, TXT_LINUX_USAGE_HINT, detail);
  return EXIT_USAGE;
}

static bool AllDigits(const char *text) {
  if (*text == '\0') return false;
  for (; *text; text++)
    if (*text < '0' || *text > '9') return false;
  return true;
}

// An optional 0x, then one to eight hexadecimal digits and nothing else:
// with --yes nobody reads the confirmation, so a typo must not be written.
static bool IsSignature(const char *text) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t n = strspn(text, "0123456789abcdefABCDEF");
  return n >= 1 && n <= 8 && text[n] == '\0';
}

static void ShowDiskPath(TermSurface &s, int number) {
  const char *path = PosixDiskPath(number);
  if (path) MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_DISK_PATH, number, path);
}

// Puts the disk number DISK stands for into IDC_DISK. A partition or mount
// point is read as its disk after a question, for Get only. 0 when refused
// (the reason is shown).
static int ResolveDisk(TermSurface &s, const char *disk) {
  Dialog dialog = s.dialog();
  if (AllDigits(disk)) {
    s.fields[IDC_DISK] = disk;
    int translated = 0;
    unsigned number = ParseDialogInt(disk, &translated);
    if (translated && number <= MAX_DISK_NUMBER) ShowDiskPath(s, (int)number);
    return 1;
  }
  char whole[POSIX_PATH_SIZE] = "";
  const char *path = disk;
  switch (PosixClassifyPath(disk, whole, sizeof whole)) {
  case POSIX_PATH_MISSING:
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, disk,
                DiskErrorText(DISK_NO_SUCH_DISK));
    return 0;
  case POSIX_PATH_OTHER:
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, disk,
                DiskErrorText(DISK_NOT_A_DISK));
    return 0;
  case POSIX_PATH_PARTITION:
    if (s.command != TERM_GET) {
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PARTITION_REFUSED, disk);
      return 0;
    }
    path = whole;
    break;
  case POSIX_PATH_WHOLE_DISK:
  case POSIX_PATH_IMAGE:
    break;
  }
  int number = PosixBindPath(path);
  if (number < 0) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_NO_NUMBER_LEFT, path);
    return 0;
  }
  if (path != disk && MessageBoxF(dialog, MB_YESNO_STYLE, TXT_TITLE, TXT_LINUX_PARTITION_ASK, disk,
                                  number, path) != ANSWER_YES)
    return 0;
  s.fields[IDC_DISK] = std::to_string(number);
  ShowDiskPath(s, number);
  return 1;
}

// Exit status of a dialog command from what it showed; a failure is
// followed by the reason the disk layer knows.
static int Finish(TermSurface &s) {
  if (TermDone(&s)) return EXIT_DONE;
  if (s.declined) {
    SurfaceMessage(s.dialog(), TXT_LINUX_CANCELLED, TXT_TITLE, MB_OK_STYLE);
  } else if (PosixLastError() != DISK_OK) {
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_REASON,
                DiskErrorText(PosixLastError()));
  }
  return EXIT_REFUSED;
}

static int List(TermSurface &s) {
  PosixDiskEntry entries[MAX_DISK_NUMBER + 1];
  int count = PosixListDisks(entries, MAX_DISK_NUMBER + 1);
  if (count <= 0) {
    SurfaceMessage(s.dialog(), TXT_LINUX_LIST_EMPTY, TXT_TITLE, MB_OK_STYLE);
    return EXIT_DONE;
  }
  fputs(TXT_LINUX_LIST_HEAD, s.out);
  for (int i = 0; i < count && i <= MAX_DISK_NUMBER; i++)
    fprintf(s.out, TXT_LINUX_LIST_ITEM, i, entries[i].path,
            RoundSize((double)entries[i].bytes / (1024.0 * 1024.0)), entries[i].model);
  fflush(s.out);
  if (count > MAX_DISK_NUMBER + 1)
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_LIST_MORE,
                count - (MAX_DISK_NUMBER + 1));
  return EXIT_DONE;
}

int main(int argc, char **argv) {
  TermSurface s;
  const char *backup = nullptr;
  bool yes = false, no = false, options_done = false;
  std::vector<const char *> words;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (options_done || a[0] != '-' || a[1] == '\0') {
      words.push_back(a);
    } else if (strcmp(a, "--") == 0) {
      options_done = true;
    } else if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
      fputs(TXT_LINUX_USAGE, stdout);
      return EXIT_DONE;
    } else if (strcmp(a, "-V") == 0 || strcmp(a, "--version") == 0) {
      puts(TXT_LINUX_VERSION);
      return EXIT_DONE;
    } else if (strcmp(a, "-y") == 0 || strcmp(a, "--yes") == 0) {
      yes = true;
    } else if (strcmp(a, "-n") == 0 || strcmp(a, "--no") == 0) {
      no = true;
    } else if (strcmp(a, "--backup") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Usage(TXT_LINUX_BACKUP_MISSING);
      backup = argv[++i];
    } else if (strncmp(a, "--backup=", 9) == 0) {
      if (a[9] == '\0') return Usage(TXT_LINUX_BACKUP_MISSING);
      backup = a + 9;
    } else {
      return Usage(TXT_LINUX_BAD_OPTION, a);
    }
  }
  if (yes && no) return Usage(TXT_LINUX_YES_AND_NO);
  if (words.empty()) return Usage(TXT_LINUX_NO_COMMAND);
  s.answers = yes ? TERM_ANSWER_YES : no ? TERM_ANSWER_NO : TERM_ASK;

  const char *command = words[0];
  size_t want;
  TermCommand which;
  if (strcmp(command, "list") == 0) {
    which = TERM_OTHER;
    want = 1;
  } else if (strcmp(command, "get") == 0) {
    which = TERM_GET;
    want = 2;
  } else if (strcmp(command, "access") == 0) {
    which = TERM_ACCESS;
    want = 2;
  } else if (strcmp(command, "write") == 0) {
    which = TERM_WRITE;
    want = 3;
  } else {
    return Usage(TXT_LINUX_BAD_COMMAND, command);
  }
  if (words.size() != want) return Usage(TXT_LINUX_ARG_COUNT, command);
  if (backup && which != TERM_WRITE) return Usage(TXT_LINUX_BACKUP_ONLY_WRITE);
  if (which == TERM_WRITE && !IsSignature(words[2]))
    return Usage(TXT_LINUX_BAD_SIGNATURE, words[2]);

  TermBegin(&s, which);
  if (which == TERM_OTHER) return List(s);

  struct stat st;
  if (backup && lstat(backup, &st) == 0) {
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_BACKUP_EXISTS, backup);
    return EXIT_REFUSED;
  }
  if (!ResolveDisk(s, words[1])) return Finish(s);

  switch (which) {
  case TERM_GET:
    CommandGet(s.dialog());
    break;
  case TERM_ACCESS:
    CommandAccess(s.dialog());
    break;
  default:
    if (SurfaceMessage(s.dialog(), TXT_NOTICE, TXT_TITLE, MB_YESNO_STYLE) != ANSWER_YES)
      return Finish(s);
    s.fields[IDC_NEWSIG] = words[2];
    PosixSetBackupFile(backup);
    CommandWrite(s.dialog());
    break;
  }
  return Finish(s);
}
