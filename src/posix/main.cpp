// kormelde: the dialog's commands on the command line, for block devices and
// disk image files.
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/columns.h"
#include "app/json.h"
#include "app/partuuid.h"
#include "disk/disk.h"
#include "posix/disk.h"
#include "posix/language.h"
#include "posix/survey.h"
#include "posix/systems.h"
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

enum Command { COMMAND_LIST, COMMAND_GET, COMMAND_ACCESS, COMMAND_WRITE, COMMAND_RESTORE };

// An optional 0x, then one to eight hexadecimal digits and nothing else:
// with --yes nobody reads the confirmation, so a typo must not be written.
static bool IsSignature(const char *text) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t n = strspn(text, "0123456789abcdefABCDEF");
  return n >= 1 && n <= 8 && text[n] == '\0';
}

static void ShowDiskPath(TermSurface &s, int number) {
  const RegisteredDisk *d = PosixRegistered(s.disks, number);
  if (d && !s.options->quiet)
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

// Pins a disk named beside the command (list IMAGE..., write DISK SIG
// IMAGE...): an image file or a whole disk. -1 with the message shown.
static int RegisterNamed(TermSurface &s, DiskSet *disks, const char *path) {
  char whole[POSIX_PATH_SIZE] = "";
  PosixPathKind kind = PosixClassifyPath(path, whole, sizeof whole);
  DiskError error = kind == POSIX_PATH_MISSING ? DISK_NO_SUCH_DISK : DISK_NOT_A_DISK;
  int number = -1;
  if (kind == POSIX_PATH_PARTITION) {
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PARTITION_REFUSED, path);
    return -1;
  }
  if (kind == POSIX_PATH_IMAGE || kind == POSIX_PATH_WHOLE_DISK)
    number = PosixRegister(disks, path, &error);
  if (number < 0)
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_PATH_ERROR, path,
                DiskErrorText(error));
  return number;
}

static const char *FormatText(SurveyFormat format) {
  switch (format) {
  case FORMAT_AT:
    return SurfaceText(TXT_LINUX_FORMAT_AT);
  case FORMAT_PC98:
    return SurfaceText(TXT_LINUX_FORMAT_PC98);
  case FORMAT_GPT:
    return SurfaceText(TXT_LINUX_FORMAT_GPT);
  case FORMAT_NONE:
    return SurfaceText(TXT_LINUX_FORMAT_NONE);
  case FORMAT_UNKNOWN:
    return SurfaceText(TXT_LINUX_FORMAT_UNKNOWN);
  default:
    return SurfaceText(TXT_LINUX_FORMAT_UNREAD);
  }
}

static std::string Hex8(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%08X", (unsigned)value);
  return text;
}

// blkid's PTUUID: eight lower-case digits, on AT disks only.
static void PtuuidJson(JsonWriter &j, SurveyFormat format, uint32_t signature) {
  if (format == FORMAT_AT)
    j.Key("ptuuid").String(JsonSignature(signature).substr(2));
  else
    j.Key("ptuuid").Null();
}

// One disk as --json gives it; collisions only where every disk was read.
static void DiskJson(JsonWriter &j, const SurveyedDisk &d, bool collisions,
                     const WindowsScan *windows = nullptr, bool each = false) {
  j.BeginObject();
  j.Key("number").Number((uint64_t)d.number);
  j.Key("device").String(d.path);
  j.Key("size").Number(d.bytes);
  j.Key("image").Bool(d.image);
  j.Key("model").String(d.model);
  j.Key("serial").String(d.serial);
  const char *format = SurveyFormatKey(d.format);
  if (format)
    j.Key("format").String(format);
  else
    j.Key("format").Null();
  if (d.error != DISK_OK) j.Key("error").String(DiskErrorText(d.error));
  if (d.has_signature)
    j.Key("signature").String(JsonSignature(d.signature));
  else
    j.Key("signature").Null();
  PtuuidJson(j, d.format, d.signature);
  j.Key("partitions").BeginArray();
  if (d.has_layout)
    for (int i = 0; i < d.layout.partition_count; i++) {
      if (!(d.layout.partition_length[i] > 0)) continue;
      j.BeginObject();
      j.Key("index").Number((uint64_t)i + 1);
      j.Key("bytes").Number((uint64_t)d.layout.partition_length[i]);
      j.EndObject();
    }
  j.EndArray();
  if (collisions) {
    j.Key("collides_with").BeginArray();
    for (int n : d.collides_with)
      j.Number((uint64_t)n);
    j.EndArray();
  }
  if (windows && each)
    WindowsJson(j, *windows);
  else if (windows)
    j.Key("windows_references").Number(windows->references.size());
  j.EndObject();
}

static void PrintJson(TermSurface &s, const JsonWriter &j) {
  fputs(j.Text().c_str(), s.out);
  fflush(s.out);
}

static int List(TermSurface &s, DiskSet *disks, const std::vector<const char *> &paths) {
  std::vector<int> named;
  for (const char *path : paths) {
    int n = RegisterNamed(s, disks, path);
    if (n < 0) return EXIT_REFUSED;
    named.push_back(n);
  }
  std::vector<SurveyedDisk> found = SurveyAll(disks, named, -1);
  if (s.options->json) {
    JsonWriter j;
    j.BeginObject().Key("disks").BeginArray();
    for (const SurveyedDisk &d : found) {
      WindowsScan windows;
      if (d.format == FORMAT_AT) windows = ScanDiskWindows(disks, d.number, d.signature, false, 0);
      DiskJson(j, d, true, d.format == FORMAT_AT ? &windows : nullptr);
    }
    j.EndArray().EndObject();
    PrintJson(s, j);
    return EXIT_DONE;
  }
  if (found.empty()) {
    SurfaceMessage(s.dialog(), SurfaceText(TXT_LINUX_LIST_EMPTY), TXT_TITLE, MB_OK_STYLE);
    return EXIT_DONE;
  }
  std::vector<std::vector<std::string>> rows = {
      {SurfaceText(TXT_LINUX_LIST_NUMBER), SurfaceText(TXT_LINUX_LIST_PATH),
       SurfaceText(TXT_LINUX_LIST_SIZE), SurfaceText(TXT_LINUX_LIST_FORMAT),
       SurfaceText(TXT_LINUX_LIST_SIGNATURE), SurfaceText(TXT_LINUX_LIST_COLLIDES),
       SurfaceText(TXT_LINUX_LIST_MODEL)}};
  bool any_collision = false;
  char text[MESSAGE_BUFFER_SIZE];
  for (const SurveyedDisk &d : found) {
    std::string collides;
    for (int n : d.collides_with)
      collides += (collides.empty() ? "*#" : ",#") + std::to_string(n);
    any_collision = any_collision || !collides.empty();
    std::string model = d.model;
    if (d.image) {
      snprintf(text, sizeof text, SurfaceText(TXT_LINUX_LIST_IMAGE), d.model.c_str());
      model = text;
    }
    if (!d.serial.empty() && d.serial != model) model += (model.empty() ? "" : " ") + d.serial;
    rows.push_back({std::to_string(d.number), d.path, HumanSize(d.bytes), FormatText(d.format),
                    d.has_signature ? Hex8(d.signature) : "-", collides.empty() ? "-" : collides,
                    model.empty() ? "-" : model});
  }
  fputs(Columns(rows).c_str(), s.out);
  fflush(s.out);
  for (const SurveyedDisk &d : found)
    if (d.error != DISK_OK)
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_UNREAD_REASON, d.number,
                  d.path.c_str(), DiskErrorText(d.error));
  if (any_collision)
    SurfaceMessage(s.dialog(), SurfaceText(TXT_LINUX_LIST_COLLISIONS), TXT_TITLE, MB_OK_STYLE);
  size_t count = PosixListDisks(disks).size();
  if (count > MAX_DISK_NUMBER + 1)
    MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_LIST_MORE,
                (int)count - (MAX_DISK_NUMBER + 1));
  return EXIT_DONE;
}

// Why the backup file cannot be created (nullptr: it can), checked before
// anything is asked. The file itself must not exist yet.
static const char *BackupProblem(const char *path) {
  struct stat st;
  if (lstat(path, &st) == 0) return nullptr; // told apart by the caller
  if (errno == ENOTDIR) return SurfaceText(TXT_LINUX_NOT_DIRECTORY);
  std::string dir = path;
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
  if (stat(dir.c_str(), &st) != 0)
    return errno == ENOENT    ? SurfaceText(TXT_LINUX_NO_DIRECTORY)
           : errno == ENOTDIR ? SurfaceText(TXT_LINUX_NOT_DIRECTORY)
                              : SurfaceText(TXT_LINUX_DIRECTORY_DENIED);
  if (!S_ISDIR(st.st_mode)) return SurfaceText(TXT_LINUX_NOT_DIRECTORY);
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    return errno == EROFS ? SurfaceText(TXT_LINUX_DIRECTORY_READ_ONLY)
                          : SurfaceText(TXT_LINUX_DIRECTORY_DENIED);
  return nullptr;
}

// A write that is certain to be refused is refused before the caution
// notice, with its reason.
static bool WriteAllowed(TermSurface &s, const SurveyedDisk &t) {
  const char *reason = nullptr;
  if (t.error != DISK_OK)
    reason = DiskErrorText(t.error);
  else if (t.format == FORMAT_GPT)
    reason = SurfaceText(TXT_LINUX_GPT_REASON);
  else if (t.format == FORMAT_NONE)
    reason = DiskErrorText(DISK_NO_BOOT_MARK);
  else if (t.format != FORMAT_AT && t.format != FORMAT_PC98)
    reason = DiskErrorText(t.has_layout ? DISK_FORMAT_UNKNOWN : DISK_NO_LAYOUT);
  else if (DiskError w = PosixWritable(*PosixRegistered(s.disks, t.number)))
    reason = DiskErrorText(w);
  if (!reason) return true;
  MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_WRITE_REFUSED, t.number,
              t.path.c_str());
  MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_REASON, reason);
  return false;
}

// A non-zero value from the kernel's random source that no disk read
// carries.
static bool RandomSignature(const std::vector<SurveyedDisk> &disks, uint32_t *value) {
  for (int tries = 0; tries < 100; tries++) {
    uint32_t v = 0;
    if (getrandom(&v, sizeof v, 0) != (ssize_t)sizeof v) return false;
    bool taken = v == 0;
    for (const SurveyedDisk &d : disks)
      taken = taken || (d.has_layout && d.layout.signature == v) ||
              (d.has_signature && d.signature == v);
    if (!taken) {
      *value = v;
      return true;
    }
  }
  return false;
}

static SurveyFormat KindFormat(LayoutKind kind) {
  return kind == LAYOUT_AT     ? FORMAT_AT
         : kind == LAYOUT_PC98 ? FORMAT_PC98
         : kind == LAYOUT_GPT  ? FORMAT_GPT
                               : FORMAT_NONE;
}

// The signature a backup file holds, after checking that it is this disk's:
// the same format, and the same boot area but for the signature.
static bool BackupSignature(TermSurface &s, DiskSet *disks, const SurveyedDisk &t, const char *path,
                            uint32_t *value) {
  Dialog dialog = s.dialog();
  // The boot area, then what else the write changed (app/undo.h).
  std::vector<uint8_t> file;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  bool read_ok = fd >= 0;
  uint8_t chunk[65536];
  ssize_t got;
  while (read_ok && (got = read(fd, chunk, sizeof chunk)) != 0) {
    if (got < 0 || file.size() > (64u << 20)) {
      read_ok = false;
      break;
    }
    file.insert(file.end(), chunk, chunk + got);
  }
  if (fd >= 0) close(fd);
  if (!read_ok) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_RESTORE_UNREADABLE, path);
    return false;
  }
  const uint8_t *area = file.data();
  if (file.size() < IPL_AREA_BYTES) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_RESTORE_SIZE, path, (int)IPL_AREA_BYTES);
    return false;
  }
  // The format is what sector 0 announces, on the disk and in the file.
  const uint8_t *boot = PosixRegistered(s.disks, t.number)->boot;
  LayoutKind disk_kind = ClassifySectorZero(boot), saved_kind = ClassifySectorZero(area);
  if (saved_kind != disk_kind) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_RESTORE_FORMAT, path,
                FormatText(KindFormat(disk_kind)), FormatText(KindFormat(saved_kind)));
    return false;
  }
  BootFormat format = t.format == FORMAT_AT ? AtCompatible : Pc9821;
  int offset = SignatureOffset(format);
  BackupDifference difference =
      CompareBackup(PosixRegistered(s.disks, t.number)->boot, area, format);
  if (difference.first_offset >= 0) {
    MessageBoxF(dialog, MB_OK_STYLE, TXT_TITLE, TXT_LINUX_RESTORE_DIFFERS, path,
                difference.first_offset,
                difference.table_differs ? SurfaceText(TXT_LINUX_RESTORE_TABLE_DIFFERS)
                                         : SurfaceText(TXT_LINUX_RESTORE_TABLE_SAME));
    return false;
  }
  if (s.systems && !PlanRestore(&s, area + IPL_AREA_BYTES, file.size() - IPL_AREA_BYTES, s.systems))
    return false;
  // The disk the backup matched is the one the rewrite must find.
  PosixHoldBootArea(disks, t.number);
  *value = LoadLe32(area + offset);
  return true;
}

// write and restore --json: what was (or would be) written and what it
// breaks.
static void RewriteJson(TermSurface &s, const SurveyedDisk &t, uint32_t new_signature,
                        const WriteContext &context) {
  JsonWriter j;
  j.BeginObject();
  j.Key("number").Number((uint64_t)t.number);
  j.Key("device").String(t.path);
  j.Key("format").String(SurveyFormatKey(t.format));
  j.Key("old_signature").String(JsonSignature(t.signature));
  j.Key("signature").String(JsonSignature(new_signature));
  PtuuidJson(j, t.format, new_signature);
  j.Key("collides_with").BeginArray();
  for (int n : CollidingDisks(&context, t.number, new_signature))
    j.Number((uint64_t)n);
  j.EndArray();
  bool changes = t.format == FORMAT_AT && t.signature != new_signature;
  j.Key("references").BeginArray();
  if (changes)
    for (const PartuuidReference &r : FindReferences(context.files, t.signature)) {
      j.BeginObject();
      j.Key("file").String(r.file);
      j.Key("line").Number(r.line);
      j.Key("partuuid").String(Partuuid(t.signature, r.partition));
      j.Key("new_partuuid").String(Partuuid(new_signature, r.partition));
      j.EndObject();
    }
  j.EndArray();
  j.Key("partuuids").BeginArray();
  if (changes)
    for (unsigned n : t.linux_partitions) {
      j.BeginObject();
      j.Key("old").String(Partuuid(t.signature, n));
      j.Key("new").String(Partuuid(new_signature, n));
      j.EndObject();
    }
  j.EndArray();
  j.Key("dry_run").Bool(s.options->dry_run);
  j.Key("written").Bool(!s.options->dry_run);
  j.EndObject();
  PrintJson(s, j);
}

// write and restore: every check that can refuse before the caution
// notice, then the notice and the Write command.
static int Rewrite(TermSurface &s, DiskSet *disks, Command command,
                   const std::vector<const char *> &words) {
  const RunOptions &options = *s.options;
  if (options.backup) {
    struct stat st;
    if (lstat(options.backup, &st) == 0) {
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_BACKUP_EXISTS, options.backup);
      return EXIT_REFUSED;
    }
    if (const char *problem = BackupProblem(options.backup)) {
      MessageBoxF(s.dialog(), MB_OK_STYLE, TXT_TITLE, TXT_LINUX_BACKUP_UNUSABLE, options.backup,
                  problem);
      return EXIT_REFUSED;
    }
  }
  Outcome resolved = ResolveDisk(s, disks, command, words[1]);
  if (resolved.kind != OUTCOME_DONE) return Finish(s, resolved);
  int number = atoi(s.fields[IDC_DISK].c_str());
  std::vector<int> named = {number};
  for (size_t i = 3; i < words.size(); i++) {
    int n = RegisterNamed(s, disks, words[i]);
    if (n < 0) return EXIT_REFUSED;
    named.push_back(n);
  }
  // A number without a disk is the Write command's to refuse.
  if (!PosixRegistered(disks, number)) named.clear();
  WriteContext context;
  context.disks = SurveyAll(disks, named, number);
  context.files = ReadConfigFiles(options.root);
  s.write = &context;
  const SurveyedDisk *target = FindSurveyed(&context, number);
  if (target && !WriteAllowed(s, *target)) return EXIT_REFUSED;

  uint32_t value = 0;
  const char *text = words[2];
  if (command == COMMAND_RESTORE) {
    if (!target || !BackupSignature(s, disks, *target, words[2], &value)) return EXIT_REFUSED;
  } else if (strcmp(text, "random") == 0) {
    if (!RandomSignature(context.disks, &value)) {
      SurfaceMessage(s.dialog(), SurfaceText(TXT_LINUX_RANDOM_FAILED), TXT_TITLE, MB_OK_STYLE);
      return EXIT_REFUSED;
    }
  } else {
    value = ParseHexSignature(text);
  }
  if (SurfaceMessage(s.dialog(), SurfaceText(TXT_NOTICE), TXT_TITLE, MB_YESNO_STYLE) != ANSWER_YES)
    return Finish(s, {OUTCOME_DECLINED, DISK_OK});
  s.fields[IDC_NEWSIG] = Hex8(value);
  Session session = {s.dialog(), disks, 0, true};
  session.dry_run = options.dry_run;
  Outcome outcome = CommandWrite(&session);
  // The configuration files follow the signature they name.
  if (outcome.kind == OUTCOME_DONE && !options.dry_run && s.systems &&
      !WriteSystemFiles(&s, *s.systems))
    outcome = {OUTCOME_FAILED, DISK_OK};
  if (outcome.kind == OUTCOME_DONE && options.dry_run && !options.json)
    fprintf(s.out, "%s\n", SurfaceText(TXT_LINUX_DRY_RUN_DONE));
  if (outcome.kind == OUTCOME_DONE && options.json && target)
    RewriteJson(s, *target, value, context);
  return Finish(s, outcome);
}

// Every option, in one table: the long names, their short letters, and
// what they take.
enum {
  OPT_BACKUP = 256,
  OPT_SECTOR_SIZE,
  OPT_DRY_RUN,
  OPT_ROOT,
  OPT_JSON,
  OPT_WINDOWS,
  OPT_LINUX,
};
static const struct option kOptions[] = {
    {"yes", no_argument, nullptr, 'y'},
    {"quiet", no_argument, nullptr, 'q'},
    {"no", no_argument, nullptr, 'n'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"backup", required_argument, nullptr, OPT_BACKUP},
    {"sector-size", required_argument, nullptr, OPT_SECTOR_SIZE},
    {"dry-run", no_argument, nullptr, OPT_DRY_RUN},
    {"root", required_argument, nullptr, OPT_ROOT},
    {"json", no_argument, nullptr, OPT_JSON},
    {"windows", required_argument, nullptr, OPT_WINDOWS},
    {"linux", required_argument, nullptr, OPT_LINUX},
    {nullptr, 0, nullptr, 0},
};
// ':' first: a missing value is told apart from an unknown option.
static const char kShortOptions[] = ":ynqhV";

struct CommandEntry {
  const char *name;
  Command command;
  size_t min_words, max_words; // the command's own word included
};
static const CommandEntry kCommands[] = {
    {"list", COMMAND_LIST, 1, (size_t)-1},
    {"get", COMMAND_GET, 2, 2},
    {"access", COMMAND_ACCESS, 2, 2},
    {"write", COMMAND_WRITE, 3, (size_t)-1},
    {"restore", COMMAND_RESTORE, 3, (size_t)-1},
};

int main(int argc, char **argv) {
  InitLanguage();
  RunOptions options;
  bool yes = false, no = false;
  opterr = 0;
  int key;
  while ((key = getopt_long(argc, argv, kShortOptions, kOptions, nullptr)) != -1) {
    switch (key) {
    case 'h':
      fputs(SurfaceText(TXT_LINUX_USAGE), stdout);
      return EXIT_DONE;
    case 'V':
      printf(SurfaceText(TXT_LINUX_VERSION), KORMELDE_BUILD);
      putchar('\n');
      return EXIT_DONE;
    case 'y':
      yes = true;
      break;
    case 'q':
      options.quiet = true;
      break;
    case 'n':
      no = true;
      break;
    case OPT_BACKUP:
      if (optarg[0] == '\0') return Usage(TXT_LINUX_BACKUP_MISSING);
      options.backup = optarg;
      break;
    case OPT_SECTOR_SIZE:
      if (strcmp(optarg, "512") != 0 && strcmp(optarg, "4096") != 0)
        return Usage(TXT_LINUX_BAD_SECTOR_SIZE, optarg);
      options.sector_size = optarg[0] == '5' ? 512 : 4096;
      break;
    case OPT_DRY_RUN:
      options.dry_run = true;
      break;
    case OPT_ROOT:
      if (optarg[0] == '\0') return Usage(TXT_LINUX_OPTION_ARGUMENT, "--root");
      options.root = optarg;
      break;
    case OPT_JSON:
      options.json = true;
      break;
    case OPT_WINDOWS:
    case OPT_LINUX: {
      UpdateChoice &choice = key == OPT_WINDOWS ? options.windows : options.linux_lines;
      if (strcmp(optarg, "update") == 0)
        choice = UPDATE_YES;
      else if (strcmp(optarg, "leave") == 0)
        choice = UPDATE_LEAVE;
      else
        return Usage(TXT_LINUX_BAD_UPDATE_CHOICE, argv[optind - 1]);
      break;
    }
    case ':':
      return Usage(TXT_LINUX_OPTION_ARGUMENT, argv[optind - 1]);
    default: {
      char short_option[3] = {'-', (char)optopt, 0};
      return Usage(TXT_LINUX_BAD_OPTION, optopt ? short_option : argv[optind - 1]);
    }
    }
  }
  std::vector<const char *> words(argv + optind, argv + argc);
  if (yes && no) return Usage(TXT_LINUX_YES_AND_NO);
  if (words.empty()) return Usage(TXT_LINUX_NO_COMMAND);
  options.answers = yes ? ANSWERS_YES : no ? ANSWERS_NO : ANSWERS_ASK;

  const char *name = words[0];
  const CommandEntry *entry = nullptr;
  for (const CommandEntry &c : kCommands)
    if (strcmp(name, c.name) == 0) entry = &c;
  if (!entry) return Usage(TXT_LINUX_BAD_COMMAND, name);
  if (words.size() < entry->min_words || words.size() > entry->max_words)
    return Usage(TXT_LINUX_ARG_COUNT, name);
  Command command = entry->command;
  bool rewrite = command == COMMAND_WRITE || command == COMMAND_RESTORE;
  if (options.backup && !rewrite) return Usage(TXT_LINUX_WRITE_ONLY, "--backup");
  if (options.dry_run && !rewrite) return Usage(TXT_LINUX_WRITE_ONLY, "--dry-run");
  if (options.windows && !rewrite) return Usage(TXT_LINUX_WRITE_ONLY, "--windows");
  if (options.linux_lines && !rewrite) return Usage(TXT_LINUX_WRITE_ONLY, "--linux");
  // The questions before a write would go unseen.
  if (options.quiet && rewrite && options.answers == ANSWERS_ASK)
    return Usage(TXT_LINUX_QUIET_NEEDS_ANSWER);
  if (options.json && command == COMMAND_ACCESS) return Usage(TXT_LINUX_JSON_NOT_ACCESS);
  if (command == COMMAND_WRITE && !IsSignature(words[2]) && strcmp(words[2], "random") != 0)
    return Usage(TXT_LINUX_BAD_SIGNATURE, words[2]);
  // Disks named to compare must be there: a typo is bad usage, as before.
  size_t first_named = command == COMMAND_LIST ? 1 : 3;
  struct stat st;
  for (size_t i = first_named; i < words.size(); i++)
    if (stat(words[i], &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
      return Usage(TXT_LINUX_NOT_IMAGE, words[i]);

  // What changes with the signature: decided at the question, written
  // before (the disk) and after it (the files).
  SystemsPlan systems;
  options.patches = &systems.patches;
  options.undo_records = &systems.undo_text;
  DiskSet disks(&options);
  TermSurface s(&options, &disks);
  s.systems = &systems;
  switch (command) {
  case COMMAND_LIST:
    return List(s, &disks, std::vector<const char *>(words.begin() + 1, words.end()));
  case COMMAND_WRITE:
  case COMMAND_RESTORE:
    return Rewrite(s, &disks, command, words);
  default:
    break;
  }
  Outcome resolved = ResolveDisk(s, &disks, command, words[1]);
  if (resolved.kind != OUTCOME_DONE) return Finish(s, resolved);
  Session session = {s.dialog(), &disks, 0, true};
  if (command == COMMAND_ACCESS) return Finish(s, CommandAccess(&session));
  Outcome outcome = CommandGet(&session);
  if (outcome.kind == OUTCOME_DONE) {
    SurveyedDisk d = SurveyDisk(&disks, session.disk, false);
    WindowsScan windows;
    if (d.format == FORMAT_AT) windows = ScanDiskWindows(&disks, d.number, d.signature, false, 0);
    if (options.json) {
      JsonWriter j;
      DiskJson(j, d, false, d.format == FORMAT_AT ? &windows : nullptr, true);
      PrintJson(s, j);
    } else if (d.format == FORMAT_AT) {
      PrintWindowsCount(&s, windows, d.signature);
    }
  }
  return Finish(s, outcome);
}
