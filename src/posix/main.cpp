// kormelde: the dialog's commands on the command line, for block devices and
// disk image files.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "disk/disk.h"
#include "posix/disk.h"
#include "posix/language.h"
#include "posix/terminal.h"
#include "ui/commands.h"
#include "ui/reasons.h"
#include "ui/texts.h"

enum { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

static int Usage(const char *format, const char *argument = "") {
  char detail[MESSAGE_BUFFER_SIZE];
  snprintf(detail, sizeof detail, SurfaceText(format), argument);
  fprintf(stderr, SurfaceText(TXT_LINUX_USAGE_HINT), detail);
  return EXIT_USAGE;
}

static bool AllDigits(const char *text) {
  if (*text == '\0') return false;
  for (; *text; text++)
    if (*text < '0' || *text > '9') return false;
  return true;
}

enum Command { COMMAND_LIST, COMMAND_GET, COMMAND_ACCESS, COMMAND_WRITE };

// An optional 0x, then one to eight hexadecimal digits and nothing else:
// with --yes nobody reads the confirmation, so a typo must not be written.
static bool IsSignature(const char *text) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t n = strspn(text, "0123456789abcdefABCDEF");
  return n >= 1 && n <= 8 && text[n] == '\0';
}

static void ShowDiskPath(TermSurface &s, int number) {
  const RegisteredDisk *d = PosixRegistered(s.disks, number);
  if (d)
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_DISK_PATH, number, d->path.c_str());
}

static Outcome Refused(DiskError reason = DISK_OK) {
  return {OUTCOME_REFUSED, reason};
}

// A directory that is not a mount point names no partition of its own.
static bool IsPlainDirectory(const char *path) {
  struct stat st, parent;
  std::string up = std::string(path) + "/..";
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode) && stat(up.c_str(), &parent) == 0 &&
         parent.st_dev == st.st_dev && parent.st_ino != st.st_ino;
}

// Pins the disk DISK names and puts its number into IDC_DISK. A partition
// or mount point is read as its disk after a question, for Get only.
static Outcome ResolveDisk(TermSurface &s, DiskSet *disks, Command command, const char *disk) {
  Dialog dialog = s.dialog();
  DiskError error = DISK_OK;
  if (AllDigits(disk)) {
    // A number without a disk is the command's to refuse, as on Windows.
    s.fields[IDC_DISK] = disk;
    int number = PosixRegister(disks, disk, &error);
    if (number >= 0) ShowDiskPath(s, number);
    return {OUTCOME_DONE, DISK_OK};
  }
  char whole[POSIX_PATH_SIZE] = "";
  const char *path = disk;
  switch (PosixClassifyPath(disk, whole, sizeof whole)) {
  case POSIX_PATH_MISSING:
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, disk,
                DiskErrorText(DISK_NO_SUCH_DISK));
    return Refused();
  case POSIX_PATH_OTHER:
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, disk,
                DiskErrorText(DISK_NOT_A_DISK));
    return Refused();
  case POSIX_PATH_PARTITION:
    if (command != COMMAND_GET && IsPlainDirectory(disk)) {
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, disk,
                  DiskErrorText(DISK_NOT_A_DISK));
      return Refused();
    }
    if (command != COMMAND_GET) {
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PARTITION_REFUSED, disk);
      return Refused();
    }
    path = whole;
    break;
  case POSIX_PATH_WHOLE_DISK:
  case POSIX_PATH_IMAGE:
    break;
  }
  int number = PosixRegister(disks, path, &error);
  if (number < 0) {
    if (error == DISK_NO_NUMBER_LEFT)
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_NO_NUMBER_LEFT, path);
    else
      MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, path, DiskErrorText(error));
    return Refused();
  }
  if (path != disk && MessageBoxF(dialog, MB_YESNO_STYLE, TXT_TITLE, TXT_LINUX_PARTITION_ASK, disk,
                                  number, path) != ANSWER_YES)
    return {OUTCOME_DECLINED, DISK_OK};
  s.fields[IDC_DISK] = std::to_string(number);
  ShowDiskPath(s, number);
  return {OUTCOME_DONE, DISK_OK};
}

// Exit status from what the command did; what was not done is followed by
// the reason where one is known.
static int Finish(TermSurface &s, Outcome outcome) {
  switch (outcome.kind) {
  case OUTCOME_DONE:
    return EXIT_DONE;
  case OUTCOME_DECLINED:
    SurfaceMessage(s.dialog(), SurfaceText(TXT_LINUX_CANCELLED), TXT_TITLE, MB_OK_STYLE);
    break;
  case OUTCOME_REFUSED:
  case OUTCOME_FAILED:
    if (outcome.reason != DISK_OK)
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_REASON,
                  DiskErrorText(outcome.reason));
    if (outcome.reason == DISK_NOT_EXPECTED)
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_SIGNATURE_NOW,
                  (unsigned long)outcome.shown, (unsigned long)outcome.found);
    // A write that went wrong was preceded by the backup (when asked for).
    if (s.options->backup && outcome.reason >= DISK_WRITE_UNDONE &&
        outcome.reason <= DISK_WRITE_UNVERIFIED)
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_BACKUP_SAVED, s.options->backup);
    break;
  }
  return EXIT_REFUSED;
}

static int List(TermSurface &s, DiskSet *disks) {
  const std::vector<PosixDiskEntry> &entries = PosixListDisks(disks);
  int count = (int)entries.size();
  if (count <= 0) {
    SurfaceMessage(s.dialog(), SurfaceText(TXT_LINUX_LIST_EMPTY), TXT_TITLE, MB_OK_STYLE);
    return EXIT_DONE;
  }
  fputs(SurfaceText(TXT_LINUX_LIST_HEAD), s.out);
  for (int i = 0; i < count && i <= MAX_DISK_NUMBER; i++)
    fprintf(s.out, SurfaceText(TXT_LINUX_LIST_ITEM), i, entries[i].path,
            RoundSize((double)entries[i].bytes / (1024.0 * 1024.0)), entries[i].model);
  fflush(s.out);
  if (count > MAX_DISK_NUMBER + 1)
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_LIST_MORE,
                count - (MAX_DISK_NUMBER + 1));
  return EXIT_DONE;
}

// "--name VALUE" or "--name=VALUE" at argv[*i]; nullptr when a is not the
// option, "" when its value is missing.
static const char *OptionValue(const char *name, int argc, char **argv, int *i) {
  const char *a = argv[*i];
  size_t n = strlen(name);
  if (strncmp(a, name, n) != 0) return nullptr;
  if (a[n] == '=') return a + n + 1;
  if (a[n] != '\0') return nullptr;
  if (*i + 1 >= argc) return "";
  return argv[++*i];
}

int main(int argc, char **argv) {
  InitLanguage();
  RunOptions options;
  bool yes = false, no = false, options_done = false;
  std::vector<const char *> words;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const char *value = nullptr;
    if (options_done || a[0] != '-' || a[1] == '\0') {
      words.push_back(a);
    } else if (strcmp(a, "--") == 0) {
      options_done = true;
    } else if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
      fputs(SurfaceText(TXT_LINUX_USAGE), stdout);
      return EXIT_DONE;
    } else if (strcmp(a, "-V") == 0 || strcmp(a, "--version") == 0) {
      puts(SurfaceText(TXT_LINUX_VERSION));
      return EXIT_DONE;
    } else if (strcmp(a, "-y") == 0 || strcmp(a, "--yes") == 0) {
      yes = true;
    } else if (strcmp(a, "-n") == 0 || strcmp(a, "--no") == 0) {
      no = true;
    } else if ((value = OptionValue("--backup", argc, argv, &i))) {
      if (value[0] == '\0') return Usage(TXT_LINUX_BACKUP_MISSING);
      options.backup = value;
    } else if ((value = OptionValue("--sector-size", argc, argv, &i))) {
      if (strcmp(value, "512") != 0 && strcmp(value, "4096") != 0)
        return Usage(TXT_LINUX_BAD_SECTOR_SIZE, value);
      options.sector_size = value[0] == '5' ? 512 : 4096;
    } else {
      return Usage(TXT_LINUX_BAD_OPTION, a);
    }
  }
  if (yes && no) return Usage(TXT_LINUX_YES_AND_NO);
  if (words.empty()) return Usage(TXT_LINUX_NO_COMMAND);
  options.answers = yes ? ANSWERS_YES : no ? ANSWERS_NO : ANSWERS_ASK;

  const char *name = words[0];
  size_t want;
  Command command;
  if (strcmp(name, "list") == 0) {
    command = COMMAND_LIST;
    want = 1;
  } else if (strcmp(name, "get") == 0) {
    command = COMMAND_GET;
    want = 2;
  } else if (strcmp(name, "access") == 0) {
    command = COMMAND_ACCESS;
    want = 2;
  } else if (strcmp(name, "write") == 0) {
    command = COMMAND_WRITE;
    want = 3;
  } else {
    return Usage(TXT_LINUX_BAD_COMMAND, name);
  }
  if (words.size() != want) return Usage(TXT_LINUX_ARG_COUNT, name);
  if (options.backup && command != COMMAND_WRITE) return Usage(TXT_LINUX_BACKUP_ONLY_WRITE);
  if (command == COMMAND_WRITE && !IsSignature(words[2]))
    return Usage(TXT_LINUX_BAD_SIGNATURE, words[2]);

  DiskSet disks(&options);
  TermSurface s(&options, &disks);
  if (command == COMMAND_LIST) return List(s, &disks);

  struct stat st;
  if (options.backup && lstat(options.backup, &st) == 0) {
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_BACKUP_EXISTS, options.backup);
    return EXIT_REFUSED;
  }
  Outcome resolved = ResolveDisk(s, &disks, command, words[1]);
  if (resolved.kind != OUTCOME_DONE) return Finish(s, resolved);

  Session session = {s.dialog(), &disks, 0, true};
  switch (command) {
  case COMMAND_GET:
    return Finish(s, CommandGet(&session));
  case COMMAND_ACCESS:
    return Finish(s, CommandAccess(&session));
  default:
    if (SurfaceMessage(s.dialog(), SurfaceText(TXT_NOTICE), TXT_TITLE, MB_YESNO_STYLE) !=
        ANSWER_YES)
      return Finish(s, {OUTCOME_DECLINED, DISK_OK});
    s.fields[IDC_NEWSIG] = words[2];
    return Finish(s, CommandWrite(&session));
  }
}
