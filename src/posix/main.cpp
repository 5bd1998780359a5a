// kormelde: shows and rewrites the NT disk signature of block devices and
// disk image files from the command line. Each disk is named once, opened
// once and read through the typed operations of the disk layer; questions
// go through the terminal's asker; results are printed from what the
// operations return.
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <strings.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/columns.h"
#include "app/json.h"
#include "app/partuuid.h"
#include "app/shown.h"
#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "posix/disk.h"
#include "posix/language.h"
#include "posix/survey.h"
#include "posix/systems.h"
#include "posix/terminal.h"
#include "ui/reasons.h"
#include "ui/report.h"
#include "ui/texts.h"

enum { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

static int Usage(const char *format, const char *argument = "") {
  std::string detail = Text(format, Shown(argument).c_str());
  fprintf(stderr, SurfaceText(TXT_LINUX_USAGE_HINT), detail.c_str());
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

// The run: its options, its disks and the terminal.
struct Run {
  Run(const RunOptions *options, SystemsPlan *plan)
      : options(*options), disks(options), term(options), systems(*plan) {}
  const RunOptions &options;
  // The options a later command must repeat (--sector-size, --root, ...),
  // as the shell takes them: for the commands the results suggest.
  std::string same_options, same_disk_options;
  // -o: the columns list shows, the values get prints (none: all, the report).
  std::vector<int> columns;
  DiskSet disks;
  Terminal term;
  // What changes with the signature: the disk's patches (written before it
  // through RunOptions::patches) and the configuration files (after it).
  SystemsPlan &systems;
};

static const RegisteredDisk &DiskOf(Run &r, int id) {
  return *PosixRegistered(&r.disks, id);
}

// How messages name a disk: its number, or its path when it has none.
static std::string Label(const RegisteredDisk &d, bool hash) {
  return d.number < 0 ? Shown(d.path) : (hash ? "#" : "") + std::to_string(d.number);
}

static QuestionDisk Asked(Run &r, int id) {
  const RegisteredDisk &d = DiskOf(r, id);
  PosixModel(&r.disks, id);
  QuestionDisk q;
  q.number = d.number;
  q.path = d.path;
  q.which = d.model;
  if (!d.identity.tag.empty() && d.identity.tag != d.model)
    q.which += (q.which.empty() ? "" : ", ") + d.identity.tag;
  return q;
}

static void ShowDiskPath(Run &r, const RegisteredDisk &d) {
  if (d.number >= 0) r.term.Tell(Text(TXT_LINUX_DISK_PATH, d.number, Shown(d.path).c_str()));
}

// The reason's text; where QEMU refused an image, with its own words.
static std::string Why(const DiskSet &disks, int id, DiskError reason,
                       const std::string *said = nullptr) {
  const RegisteredDisk *d = id >= 0 ? PosixRegistered(&disks, id) : nullptr;
  if (!said && d) said = &d->said;
  bool qemu = reason >= DISK_IMAGE_IN_USE && reason < DISK_NO_QEMU;
  if (!qemu || !said || said->empty()) return DiskErrorText(reason);
  return Text(TXT_LINUX_QEMU_SAID, DiskErrorText(reason), said->c_str());
}

static int Reason(Run &r, DiskError reason, int id = -1) {
  if (reason != DISK_OK && reason != DISK_UNKNOWN)
    r.term.Say(Text(TXT_LINUX_REASON, Why(r.disks, id, reason).c_str()));
  return EXIT_REFUSED;
}

static int Cancelled(Run &r, bool read = false) {
  r.term.Say(SurfaceText(read ? TXT_LINUX_READ_CANCELLED : TXT_LINUX_CANCELLED));
  return EXIT_REFUSED;
}

static void PrintJson(Run &r, const JsonWriter &j) {
  fputs(j.Text().c_str(), r.term.out);
  r.term.Flush(r.term.out);
}

// With --json, a refusal as a document of its own: the disk, the text in
// the user's language and a code that is the same in every language.
static void JsonRefusal(Run &r, const std::string &device, const std::string &text,
                        const char *code) {
  if (!r.options.json) return;
  JsonWriter j;
  j.BeginObject();
  j.Name("device", device);
  j.Key("error").String(text);
  j.Key("error_code").String(code);
  j.EndObject();
  PrintJson(r, j);
}

// A word as the shell reads it back.
static std::string Quoted(const std::string &word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_./=:@%+-,") == std::string::npos)
    return word;
  std::string q = "'";
  for (char c : word)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A directory that is not a mount point names no partition of its own.
static bool IsPlainDirectory(const char *path) {
  struct stat st, parent;
  std::string up = std::string(path) + "/..";
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode) && stat(up.c_str(), &parent) == 0 &&
         parent.st_dev == st.st_dev && parent.st_ino != st.st_ino;
}

static bool IsDirectory(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Why a path names nothing: the system's reason unless it is simply absent.
static const char *MissingReason(int error) {
  return error == ENOENT ? DiskErrorText(DISK_NO_SUCH_DISK) : strerror(error);
}

// Pins the disk NAME names and returns its id; -1 when it names none (told
// why), -2 when the question about a partition was answered No. A
// partition or mount point is read as its disk after a question, for Get
// only; a number names the disk listed with it.
static int Resolve(Run &r, Command command, const char *name) {
  DiskError error = DISK_OK;
  if (AllDigits(name)) {
    int id = PosixRegister(&r.disks, name, &error);
    if (id < 0) {
      r.term.Say(Text(TXT_LINUX_READ_FAILED, Shown(name).c_str()));
      JsonRefusal(r, name, Why(r.disks, -1, error), DiskErrorKey(error));
      Reason(r, error);
      return -1;
    }
    ShowDiskPath(r, DiskOf(r, id));
    return id;
  }
  char whole[POSIX_PATH_SIZE] = "";
  const char *path = name;
  switch (PosixClassifyPath(name, whole, sizeof whole)) {
  case POSIX_PATH_MISSING: {
    int why = errno;
    r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(name).c_str(), MissingReason(why)));
    JsonRefusal(r, name, MissingReason(why),
                why == ENOENT ? DiskErrorKey(DISK_NO_SUCH_DISK) : "path-refused");
    return -1;
  }
  case POSIX_PATH_OTHER:
    r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(name).c_str(), DiskErrorText(DISK_NOT_A_DISK)));
    JsonRefusal(r, name, DiskErrorText(DISK_NOT_A_DISK), DiskErrorKey(DISK_NOT_A_DISK));
    return -1;
  case POSIX_PATH_PARTITION:
    if (command != COMMAND_GET && IsPlainDirectory(name)) {
      r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(name).c_str(), DiskErrorText(DISK_NOT_A_DISK)));
      return -1;
    }
    if (command != COMMAND_GET) {
      r.term.Say(Text(TXT_LINUX_PARTITION_REFUSED, Shown(name).c_str()));
      return -1;
    }
    path = whole;
    break;
  case POSIX_PATH_WHOLE_DISK:
  case POSIX_PATH_IMAGE:
    break;
  }
  int id = PosixRegister(&r.disks, path, &error);
  if (id < 0) {
    r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(path).c_str(), DiskErrorText(error)));
    return -1;
  }
  if (path != name) {
    // The partition's disk by its number, as list shows it.
    PosixNumberDisks(&r.disks);
    Question q;
    q.kind = QUESTION_PARTITION;
    q.named = name;
    q.mount_point = IsDirectory(name) && !IsPlainDirectory(name);
    q.disk = Asked(r, id);
    if (!r.term.Ask(q)) return -2;
    ShowDiskPath(r, DiskOf(r, id));
  }
  return id;
}

// Pins a disk named beside the command (list IMAGE..., write DISK SIG
// IMAGE...): an image file or a whole disk. -1 with the message shown.
static int RegisterNamed(Run &r, const char *path) {
  char whole[POSIX_PATH_SIZE] = "";
  PosixPathKind kind = PosixClassifyPath(path, whole, sizeof whole);
  if (kind == POSIX_PATH_MISSING) {
    r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(path).c_str(), MissingReason(errno)));
    return -1;
  }
  DiskError error = DISK_NOT_A_DISK;
  if (kind == POSIX_PATH_PARTITION) {
    r.term.Say(Text(TXT_LINUX_PARTITION_REFUSED, Shown(path).c_str()));
    return -1;
  }
  int id = -1;
  if (kind == POSIX_PATH_IMAGE || kind == POSIX_PATH_WHOLE_DISK)
    id = PosixRegister(&r.disks, path, &error);
  if (id < 0) r.term.Say(Text(TXT_LINUX_PATH_ERROR, Shown(path).c_str(), DiskErrorText(error)));
  return id;
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
// The device of a block device's partition NUMBER (sdb1, loop0p1), or ""
// where the kernel made none (an image, a loop device without partitions).
static std::string PartitionNode(const SurveyedDisk &d, unsigned number) {
  if (d.image || d.path.empty()) return "";
  bool digit = d.path.back() >= '0' && d.path.back() <= '9';
  std::string node = d.path + (digit ? "p" : "") + std::to_string(number);
  struct stat st;
  return stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? node : "";
}

// refusal: why get refuses a disk that could be read (a GPT disk).
static void DiskJson(JsonWriter &j, const DiskSet &disks, const SurveyedDisk &d, bool collisions,
                     const WindowsScan *windows = nullptr, bool each = false,
                     const char *refusal = nullptr) {
  j.BeginObject();
  // An image named by its path has no number.
  if (d.number < 0)
    j.Key("number").Null();
  else
    j.Key("number").Number((uint64_t)d.number);
  j.Name("device", d.path);
  j.Key("size").Number(d.bytes);
  j.Key("image").Bool(d.image);
  j.Name("model", d.model);
  j.Name("serial", d.serial);
  const char *format = SurveyFormatKey(d.format);
  if (format)
    j.Key("format").String(format);
  else
    j.Key("format").Null();
  if (d.error != DISK_OK) {
    j.Key("error").String(Why(disks, d.id, d.error));
    j.Key("error_code").String(DiskErrorKey(d.error));
  } else if (refusal) {
    j.Key("error").String(refusal);
    j.Key("error_code").String("gpt");
  }
  if (d.has_signature)
    j.Key("signature").String(JsonSignature(d.signature));
  else
    j.Key("signature").Null();
  PtuuidJson(j, d.format, d.signature);
  // The layout's entries, then partitions the kernel finds past them (the
  // layout holds MAX_PARTITIONS entries).
  std::vector<std::pair<uint32_t, uint64_t>> entries; // entry, bytes
  if (d.has_layout)
    for (int i = 0; i < d.layout.partition_count; i++)
      if (d.layout.partition_length[i] > 0)
        entries.push_back({(uint32_t)i, (uint64_t)d.layout.partition_length[i]});
  for (const DiskPartition &p : d.partitions)
    if (!d.has_layout || p.entry >= (uint32_t)d.layout.partition_count)
      entries.push_back({p.entry, p.bytes});
  j.Key("partitions").BeginArray();
  for (const auto &[entry, bytes] : entries) {
    j.BeginObject();
    j.Key("index").Number((uint64_t)entry + 1);
    j.Key("bytes").Number(bytes);
    if (d.sector_bytes > 0 && entry < d.entry_starts.size()) {
      // As sfdisk -J: the kernel's number and device (none for an
      // extended partition's link), logical sectors.
      const DiskPartition *kernel = nullptr;
      for (const DiskPartition &p : d.partitions)
        if (p.entry == entry) kernel = &p;
      std::string node = kernel ? PartitionNode(d, kernel->number) : "";
      if (kernel)
        j.Key("number").Number((uint64_t)kernel->number);
      else
        j.Key("number").Null();
      if (node.empty())
        j.Key("node").Null();
      else
        j.Key("node").String(node);
      j.Key("start").Number(d.entry_starts[entry] / d.sector_bytes);
      j.Key("size").Number(bytes / d.sector_bytes);
    }
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

// list's columns, as -o names them.
enum Column { COL_NUMBER, COL_PATH, COL_SIZE, COL_FORMAT, COL_SIGNATURE, COL_SAME, COL_MODEL };
static const char *const kColumnNames[] = {"number",    "path", "size", "format",
                                           "signature", "same", "model"};
static const char *const kColumnHeads[] = {
    TXT_LINUX_LIST_NUMBER,    TXT_LINUX_LIST_PATH,     TXT_LINUX_LIST_SIZE, TXT_LINUX_LIST_FORMAT,
    TXT_LINUX_LIST_SIGNATURE, TXT_LINUX_LIST_COLLIDES, TXT_LINUX_LIST_MODEL};

// The columns -o names (comma-separated, any case); false for a name that
// is none, left in *bad.
static bool ParseColumns(const char *text, std::vector<int> *columns, std::string *bad) {
  std::string list = text;
  size_t at = 0;
  do {
    size_t comma = list.find(',', at);
    std::string name = list.substr(at, comma == std::string::npos ? comma : comma - at);
    int found = -1;
    for (int c = COL_NUMBER; c <= COL_MODEL; c++)
      if (strcasecmp(name.c_str(), kColumnNames[c]) == 0) found = c;
    if (found < 0) {
      *bad = name;
      return false;
    }
    columns->push_back(found);
    at = comma == std::string::npos ? comma : comma + 1;
  } while (at != std::string::npos);
  return true;
}

// A disk's cells in column order.
static std::vector<std::string> Cells(const SurveyedDisk &d) {
  std::string collides;
  for (int n : d.collides_with)
    collides += (collides.empty() ? "*#" : ",#") + std::to_string(n);
  std::string model = d.image ? Text(TXT_LINUX_LIST_IMAGE, Shown(d.model).c_str()) : Shown(d.model);
  if (!d.serial.empty() && d.serial != d.model)
    model += (model.empty() ? "" : " ") + Shown(d.serial);
  return {d.number < 0 ? "-" : std::to_string(d.number),
          Shown(d.path),
          HumanSize(d.bytes),
          FormatText(d.format),
          d.has_signature ? Hex8(d.signature) : "-",
          collides.empty() ? "-" : collides,
          model.empty() ? "-" : model};
}

// The cells of the columns chosen (all without -o).
static std::vector<std::string> Chosen(const Run &r, const std::vector<std::string> &cells) {
  if (r.columns.empty()) return cells;
  std::vector<std::string> chosen;
  for (int c : r.columns)
    chosen.push_back(cells[c]);
  return chosen;
}

// Disks that could not be read: one line for each reason.
static void SayUnread(Run &r, const std::vector<SurveyedDisk> &disks, int except) {
  std::vector<bool> told(disks.size(), false);
  for (size_t i = 0; i < disks.size(); i++) {
    if (told[i] || disks[i].error == DISK_OK || disks[i].id == except) continue;
    std::string why = Why(r.disks, disks[i].id, disks[i].error), names;
    for (size_t k = i; k < disks.size(); k++) {
      if (told[k] || disks[k].error == DISK_OK || disks[k].id == except ||
          Why(r.disks, disks[k].id, disks[k].error) != why)
        continue;
      told[k] = true;
      names += names.empty() ? "" : ", ";
      names += disks[k].number < 0
                   ? Shown(disks[k].path)
                   : "#" + std::to_string(disks[k].number) + " (" + Shown(disks[k].path) + ")";
    }
    r.term.Say(Text(TXT_LINUX_UNREAD_GROUP, names.c_str(), why.c_str()));
  }
}

// get: the report, read once on the disk's one descriptor; --json from the
// same reads.
static int Get(Run &r, int id) {
  const RegisteredDisk &d = DiskOf(r, id);
  r.term.Tell(Text(TXT_LINUX_GET_BUSY, Label(d, true).c_str()));
  std::string label = Label(d, false);
  DiskError reason = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(&r.disks, id, 'r', &reason);
  if (handle == INVALID_DISK_HANDLE) {
    r.term.Say(Text(TXT_LINUX_READ_FAILED, label.c_str()));
    JsonRefusal(r, d.path, Why(r.disks, id, reason), DiskErrorKey(reason));
    return Reason(r, reason, id);
  }
  DiskReport read = ReadDiskReport(handle);
  const char *failure = read.failed == REPORT_NO_GEOMETRY ? TXT_LINUX_GEOMETRY_FAILED
                        : read.failed == REPORT_NO_LAYOUT ? TXT_LINUX_LAYOUT_FAILED
                        : read.format == NoIpl            ? TXT_LINUX_NO_IPL
                                                          : nullptr;
  if (read.failed == REPORT_NO_LAYOUT) {
    // A GPT disk: its format, and why it has no signature.
    SurveyedDisk s = SurveyOpen(&r.disks, id, handle, false);
    if (s.format == FORMAT_GPT) {
      CloseDisk(handle);
      std::string why = Text(TXT_LINUX_GPT_NO_SIGNATURE, label.c_str());
      if (r.options.json) {
        JsonWriter j;
        DiskJson(j, r.disks, s, false, nullptr, false, why.c_str());
        PrintJson(r, j);
      }
      r.term.Say(why);
      return EXIT_REFUSED;
    }
  }
  if (failure) {
    CloseDisk(handle);
    r.term.Say(Text(failure, label.c_str()));
    JsonRefusal(
        r, d.path, Text(failure, label.c_str()),
        read.format == NoIpl ? DiskErrorKey(DISK_NO_BOOT_MARK)
        : read.reason != DISK_OK
            ? DiskErrorKey(read.reason)
            : DiskErrorKey(read.failed == REPORT_NO_LAYOUT ? DISK_NO_LAYOUT : DISK_IO_ERROR));
    return read.format == NoIpl ? EXIT_REFUSED : Reason(r, read.reason);
  }
  if (read.format == Unknown) r.term.Say(Text(TXT_LINUX_FORMAT_UNKNOWN_WARN, label.c_str()));
  if (!r.columns.empty()) {
    // The values alone, for scripts (get --value: the signature).
    std::vector<std::string> values = Chosen(r, Cells(SurveyOpen(&r.disks, id, handle, false)));
    std::string line;
    for (const std::string &v : values)
      line += (line.empty() ? "" : " ") + v;
    CloseDisk(handle);
    r.term.Result(line);
    return EXIT_DONE;
  }
  // The Windows stores that name the signature, on AT disks.
  WindowsScan windows;
  bool at = read.format == AtCompatible;
  if (at) windows = ScanDiskWindows(&r.disks, id, read.layout.signature, false, 0);
  if (r.options.json) {
    JsonWriter j;
    DiskJson(j, r.disks, SurveyOpen(&r.disks, id, handle, true), false, at ? &windows : nullptr,
             true);
    PrintJson(r, j);
  } else {
    // The disk's own size, not its geometry's (whole cylinders).
    DiskGeometry size = read.geometry;
    ImageContainer container = IMAGE_RAW;
    uint64_t bytes = PosixDataBytes(handle, &container);
    if (bytes > 0 && size.BytesPerSector > 0) {
      size.Cylinders = (int64_t)(bytes / size.BytesPerSector);
      size.TracksPerCylinder = size.SectorsPerTrack = 1;
    }
    char report[REPORT_BUFFER_SIZE];
    FormatGetReport(report, sizeof report, size, read.layout, read.format);
    r.term.Result(report);
    if (at) PrintWindowsCount(r.term, windows, read.layout.signature);
  }
  CloseDisk(handle);
  return EXIT_DONE;
}

static int Access(Run &r, int id) {
  const RegisteredDisk &d = DiskOf(r, id);
  DiskError reason = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(&r.disks, id, 'r', &reason);
  if (handle == INVALID_DISK_HANDLE) {
    r.term.Say(Text(TXT_LINUX_READ_FAILED, Label(d, false).c_str()));
    return Reason(r, reason, id);
  }
  r.term.Tell(Text(TXT_LINUX_ACCESS_BUSY, Label(d, true).c_str()));
  TestAccess(
      handle,
      [](void *t, int done, int total) { static_cast<Terminal *>(t)->Progress(done, total); },
      &r.term);
  CloseDisk(handle);
  return EXIT_DONE;
}

static int List(Run &r, const std::vector<const char *> &paths) {
  std::vector<int> named;
  for (const char *path : paths) {
    int id = RegisterNamed(r, path);
    if (id < 0) return EXIT_REFUSED;
    named.push_back(id);
  }
  std::vector<SurveyedDisk> found = SurveyAll(&r.disks, named, -1, false);
  if (r.options.json) {
    JsonWriter j;
    j.BeginObject().Key("disks").BeginArray();
    for (const SurveyedDisk &d : found) {
      WindowsScan windows;
      bool at = d.format == FORMAT_AT && d.error == DISK_OK;
      if (at) windows = ScanDiskWindows(&r.disks, d.id, d.signature, false, 0);
      SurveyedDisk described = d;
      if (at) {
        // Where each partition lies: the tables read again.
        SurveyedDisk full = SurveyDisk(&r.disks, d.id, true);
        described.partitions = full.partitions;
        described.entry_starts = full.entry_starts;
        described.sector_bytes = full.sector_bytes;
      }
      DiskJson(j, r.disks, described, true, at ? &windows : nullptr);
    }
    j.EndArray().EndObject();
    PrintJson(r, j);
    return EXIT_DONE;
  }
  if (found.empty()) {
    r.term.Say(SurfaceText(TXT_LINUX_LIST_EMPTY));
    return EXIT_DONE;
  }
  std::vector<std::string> heads;
  for (const char *head : kColumnHeads)
    heads.push_back(SurfaceText(head));
  std::vector<std::vector<std::string>> rows = {Chosen(r, heads)};
  bool any_collision = false;
  for (const SurveyedDisk &d : found) {
    any_collision = any_collision || !d.collides_with.empty();
    rows.push_back(Chosen(r, Cells(d)));
  }
  fputs(Columns(rows).c_str(), r.term.out);
  r.term.Flush(r.term.out);
  SayUnread(r, found, -1);
  if (any_collision) r.term.Say(SurfaceText(TXT_LINUX_LIST_COLLISIONS));
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
static bool WriteAllowed(Run &r, const SurveyedDisk &t) {
  std::string why, said;
  const char *reason = nullptr, *code = nullptr;
  DiskError w = DISK_OK;
  if (t.error != DISK_OK) {
    reason = (why = Why(r.disks, t.id, t.error)).c_str();
    code = DiskErrorKey(t.error);
  } else if (t.format == FORMAT_GPT) {
    reason = SurfaceText(TXT_LINUX_GPT_REASON);
    code = "gpt";
  } else if (t.format == FORMAT_NONE) {
    reason = DiskErrorText(DISK_NO_BOOT_MARK);
    code = DiskErrorKey(DISK_NO_BOOT_MARK);
  } else if (t.format != FORMAT_AT && t.format != FORMAT_PC98) {
    w = t.has_layout ? DISK_FORMAT_UNKNOWN : DISK_NO_LAYOUT;
    reason = DiskErrorText(w);
    code = DiskErrorKey(w);
  } else if ((w = PosixWritable(DiskOf(r, t.id), &said)) != DISK_OK) {
    reason = (why = Why(r.disks, t.id, w, &said)).c_str();
    code = DiskErrorKey(w);
  }
  if (!reason) return true;
  r.term.Say(Text(TXT_LINUX_WRITE_REFUSED, t.number, Shown(t.path).c_str()));
  r.term.Say(Text(TXT_LINUX_REASON, reason));
  JsonRefusal(r, t.path, reason, code);
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
static bool BackupSignature(Run &r, const SurveyedDisk &t, const char *path, uint32_t *value) {
  // The boot area, then what else the write changed (app/undo.h).
  std::string file;
  errno = 0;
  if (!ReadWholeFile(path, &file)) {
    int error = errno;
    r.term.Say(Text(TXT_LINUX_RESTORE_UNREADABLE, Shown(path).c_str()));
    if (error) r.term.Say(Text(TXT_LINUX_REASON, strerror(error)));
    return false;
  }
  const uint8_t *area = reinterpret_cast<const uint8_t *>(file.data());
  if (file.size() < IPL_AREA_BYTES) {
    r.term.Say(Text(TXT_LINUX_RESTORE_SIZE, Shown(path).c_str(), (int)IPL_AREA_BYTES));
    return false;
  }
  // The format is what sector 0 announces, on the disk and in the file.
  const uint8_t *boot = DiskOf(r, t.id).boot;
  LayoutKind disk_kind = ClassifySectorZero(boot), saved_kind = ClassifySectorZero(area);
  if (saved_kind != disk_kind) {
    r.term.Say(Text(TXT_LINUX_RESTORE_FORMAT, Shown(path).c_str(),
                    FormatText(KindFormat(disk_kind)), FormatText(KindFormat(saved_kind))));
    return false;
  }
  BootFormat format = t.format == FORMAT_AT ? AtCompatible : Pc9821;
  BackupDifference difference = CompareBackup(boot, area, format);
  if (difference.first_offset >= 0) {
    r.term.Say(Text(TXT_LINUX_RESTORE_DIFFERS, Shown(path).c_str(), difference.first_offset,
                    difference.table_differs ? SurfaceText(TXT_LINUX_RESTORE_TABLE_DIFFERS)
                                             : SurfaceText(TXT_LINUX_RESTORE_TABLE_SAME)));
    return false;
  }
  int at = SignatureOffset(format);
  if (!PlanRestore(r.term, area + IPL_AREA_BYTES, file.size() - IPL_AREA_BYTES, LoadLe32(area + at),
                   LoadLe32(boot + at), &r.systems))
    return false;
  // The disk the backup matched is the one the rewrite must find.
  PosixHoldBootArea(&r.disks, t.id);
  *value = LoadLe32(area + at);
  return true;
}

// Why a configuration file was not read.
static std::string UnreadReason(const FileStatus &status) {
  switch (status.problem) {
  case FILE_DIRECTORY:
    return SurfaceText(TXT_LINUX_FILE_DIRECTORY);
  case FILE_FIFO:
    return SurfaceText(TXT_LINUX_FILE_FIFO);
  case FILE_DEVICE:
    return SurfaceText(TXT_LINUX_FILE_DEVICE);
  case FILE_OTHER_TYPE:
    return SurfaceText(TXT_LINUX_FILE_NOT_REGULAR);
  case FILE_DANGLING:
    return SurfaceText(TXT_LINUX_FILE_DANGLING);
  case FILE_TOO_LARGE:
    return Text(TXT_LINUX_FILE_TOO_LARGE, (int)(kFileBound >> 20));
  case FILE_OVER_TOTAL:
    return Text(TXT_LINUX_FILE_OVER_TOTAL, (int)(kConfigTotalBound >> 20));
  default:
    return strerror(status.error);
  }
}

// What a rewrite did, from the plan made on the disk's last read and what
// the write verified under the lock: the value replaced, the new one, and
// whether anything was written.
struct Rewritten {
  const SurveyedDisk *target;
  uint32_t old_signature;
  uint32_t new_signature;
  bool written;
};

// write and restore --json.
static void RewriteJson(Run &r, const Rewritten &w, const std::vector<SurveyedDisk> &disks,
                        const std::vector<PartuuidReference> &references, size_t more,
                        const std::vector<UnreadFile> &unread) {
  const SurveyedDisk &t = *w.target;
  JsonWriter j;
  j.BeginObject();
  j.Key("number").Number((uint64_t)t.number);
  j.Name("device", t.path);
  j.Key("format").String(SurveyFormatKey(t.format));
  j.Key("old_signature").String(JsonSignature(w.old_signature));
  j.Key("signature").String(JsonSignature(w.new_signature));
  PtuuidJson(j, t.format, w.new_signature);
  j.Key("collides_with").BeginArray();
  for (const SurveyedDisk *d : SurveyHolders(&r.disks, disks, t.id, w.new_signature))
    j.Number((uint64_t)d->number);
  j.EndArray();
  bool changes = t.format == FORMAT_AT && w.old_signature != w.new_signature;
  j.Key("references").BeginArray();
  if (changes)
    for (const PartuuidReference &ref : references) {
      j.BeginObject();
      j.Name("file", ref.file);
      j.Key("line").Number(ref.line);
      j.Key("partuuid").String(Partuuid(w.old_signature, ref.partition));
      j.Key("new_partuuid").String(Partuuid(w.new_signature, ref.partition));
      j.EndObject();
    }
  j.EndArray();
  j.Key("references_more").Number(changes ? more : 0);
  // The files whose references are not known.
  j.Key("unread_files").BeginArray();
  for (const UnreadFile &f : unread) {
    j.BeginObject();
    j.Name("file", f.name);
    j.Key("reason").String(UnreadReason(f.status));
    j.EndObject();
  }
  j.EndArray();
  j.Key("partuuids").BeginArray();
  if (changes)
    for (unsigned n : t.linux_partitions) {
      j.BeginObject();
      j.Key("old").String(Partuuid(w.old_signature, n));
      j.Key("new").String(Partuuid(w.new_signature, n));
      j.EndObject();
    }
  j.EndArray();
  j.Key("windows_updated").Number(w.written || r.systems.restore ? r.systems.patches.size() : 0);
  j.Key("files_updated")
      .Number(w.written || r.systems.restore ? r.systems.files.size() + r.systems.retargeted.size()
                                             : 0);
  j.Key("dry_run").Bool(r.options.dry_run);
  j.Key("written").Bool(w.written);
  j.EndObject();
  PrintJson(r, j);
}

// The success text and the PARTUUIDs that changed; beside the questions
// (standard error) with --json.
static void RewriteText(Run &r, const Rewritten &w) {
  FILE *to = r.options.json ? r.term.err : r.term.out;
  const SurveyedDisk &t = *w.target;
  if (w.old_signature == w.new_signature) {
    fprintf(to, "%s\n",
            Text(TXT_LINUX_UNCHANGED, t.number, (unsigned long)w.old_signature).c_str());
    r.term.Flush(to);
    return;
  }
  fprintf(to, "%s\n",
          Text(TXT_WRITE_SUCCESS_LINUX, t.number, (unsigned long)w.old_signature,
               (unsigned long)w.new_signature)
              .c_str());
  if (t.format == FORMAT_AT && !t.linux_partitions.empty()) {
    fprintf(to, "%s\n", SurfaceText(TXT_LINUX_PARTUUID_HEAD));
    for (unsigned n : t.linux_partitions)
      fprintf(to, "%s\n",
              Text(TXT_LINUX_PARTUUID_ITEM, Partuuid(w.old_signature, n).c_str(),
                   Partuuid(w.new_signature, n).c_str())
                  .c_str());
  }
  r.term.Flush(to);
}

// Before the last question: the disks that already carry the new value
// (itself a question, shown under --quiet too), the disks that could not be
// compared, and the configuration lines that would point nowhere.
static bool Consequences(Run &r, const std::vector<SurveyedDisk> &disks, const SurveyedDisk &t,
                         uint32_t old_signature, uint32_t new_signature,
                         const std::vector<PartuuidReference> &references, size_t more,
                         const std::vector<UnreadFile> &unread) {
  SayUnread(r, disks, t.id);
  std::vector<const SurveyedDisk *> holders = SurveyHolders(&r.disks, disks, t.id, new_signature);
  if (!holders.empty()) {
    Question q;
    q.kind = QUESTION_COLLISION;
    q.new_signature = new_signature;
    for (const SurveyedDisk *d : holders)
      q.holders.push_back(Asked(r, d->id));
    if (!r.term.Ask(q)) return false;
  }
  if (t.format != FORMAT_AT || old_signature == new_signature) return true;
  // "None" only when every file was read.
  if (!unread.empty()) {
    r.term.Say(Text(TXT_LINUX_FILES_UNREAD, (unsigned)old_signature));
    for (const UnreadFile &f : unread)
      r.term.Say(
          Text(TXT_LINUX_FILE_UNREAD_ITEM, Shown(f.name).c_str(), UnreadReason(f.status).c_str()));
  }
  if (references.empty()) {
    if (unread.empty()) r.term.Tell(Text(TXT_LINUX_REFERENCES_NONE, (unsigned)old_signature));
  } else {
    // A clone still carries the old value: the lines would name its partitions.
    const SurveyedDisk *clone = nullptr;
    for (const SurveyedDisk &d : disks)
      if (!clone && d.id != t.id && d.has_signature && d.signature == old_signature) clone = &d;
    if (clone)
      r.term.Tell(Text(TXT_LINUX_LINES_CLONE, clone->number, Shown(clone->path).c_str()));
    else
      r.term.Tell(SurfaceText(TXT_LINUX_REFERENCES_HEAD));
    for (const PartuuidReference &ref : references)
      r.term.Tell(Text(TXT_LINUX_REFERENCE_ITEM, Shown(ref.file).c_str(), ref.line,
                       Partuuid(old_signature, ref.partition).c_str(),
                       Partuuid(new_signature, ref.partition).c_str()));
    if (more) r.term.Tell(Text(TXT_LINUX_REFERENCES_MORE, (unsigned long)more));
  }
  return true;
}

// The signature the disk reports now, on a fresh read.
static bool SignatureNow(Run &r, int id, uint32_t *signature) {
  DiskHandle reader = OpenPhysicalDisk(&r.disks, id, 'r', nullptr);
  if (reader == INVALID_DISK_HANDLE) return false;
  DiskLayoutInfo layout;
  bool read = GetDiskLayout(reader, &layout) != 0;
  CloseDisk(reader);
  *signature = layout.signature;
  return read;
}

// The signal that arrived while HeldSignals held SIGINT, SIGTERM and
// SIGHUP; a handler can reach nothing else.
static volatile sig_atomic_t g_caught_signal = 0;

static void HoldSignal(int signo) {
  if (!g_caught_signal) {
    g_caught_signal = signo;
    return;
  }
  // A second one ends the program as it always would.
  signal(signo, SIG_DFL);
  raise(signo);
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal) held off from the write
// to the end of its read-back, so that what the disk holds is known and
// said; the first one is kept.
class HeldSignals {
public:
  HeldSignals() {
    g_caught_signal = 0;
    struct sigaction hold = {};
    hold.sa_handler = HoldSignal;
    hold.sa_flags = SA_RESTART;
    sigemptyset(&hold.sa_mask);
    for (int i = 0; i < HELD; i++)
      sigaction(kHeld[i], &hold, &old_[i]);
  }
  ~HeldSignals() {
    for (int i = 0; i < HELD; i++)
      sigaction(kHeld[i], &old_[i], nullptr);
  }
  int Caught() const { return g_caught_signal; }

private:
  enum { HELD = 3 };
  static constexpr int kHeld[HELD] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction old_[HELD];
};

// After a write that a signal asked to stop: nothing more is done.
static int Interrupted(Run &r, int signo) {
  const char *name = signo == SIGINT ? "SIGINT" : signo == SIGHUP ? "SIGHUP" : "SIGTERM";
  r.term.Say(Text(TXT_LINUX_INTERRUPTED, name));
  return 128 + signo;
}

// write and restore: every check that can refuse before the caution
// notice; the notice; the plan on the disk as it is after it; the
// questions; the write, verified under the lock; the result from what
// was written.
static int Rewrite(Run &r, Command command, const std::vector<const char *> &words) {
  const RunOptions &options = r.options;
  if (options.backup) {
    struct stat st;
    if (lstat(options.backup, &st) == 0) {
      r.term.Say(Text(TXT_LINUX_BACKUP_EXISTS, Shown(options.backup).c_str()));
      return EXIT_REFUSED;
    }
    if (const char *problem = BackupProblem(options.backup)) {
      r.term.Say(Text(TXT_LINUX_BACKUP_UNUSABLE, Shown(options.backup).c_str(), problem));
      return EXIT_REFUSED;
    }
  }
  int id = Resolve(r, command, words[1]);
  if (id == -2) return Cancelled(r);
  if (id < 0) return EXIT_REFUSED;
  std::vector<int> named = {id};
  for (size_t i = 3; i < words.size(); i++) {
    int other = RegisterNamed(r, words[i]);
    if (other < 0) return EXIT_REFUSED;
    named.push_back(other);
  }
  std::vector<SurveyedDisk> disks = SurveyAll(&r.disks, named, id, true);
  if (!AllDigits(words[1])) ShowDiskPath(r, DiskOf(r, id));
  const SurveyedDisk *target = nullptr;
  for (const SurveyedDisk &d : disks)
    if (d.id == id) target = &d;
  if (!WriteAllowed(r, *target)) return EXIT_REFUSED;
  ConfigFiles config = ReadConfigFiles(options.root);
  // A root that is not a system's is a mistake, not a system without lines.
  if (options.root && (config.root_error || !config.any)) {
    r.term.Say(
        Text(TXT_LINUX_ROOT_UNUSABLE, Shown(options.root).c_str(),
             config.root_error ? strerror(config.root_error) : SurfaceText(TXT_LINUX_ROOT_EMPTY)));
    return EXIT_REFUSED;
  }
  const std::vector<ConfigFile> &files = config.read;

  uint32_t value = 0;
  if (command == COMMAND_RESTORE) {
    if (!BackupSignature(r, *target, words[2], &value)) return EXIT_REFUSED;
  } else if (strcasecmp(words[2], "random") == 0) {
    if (!RandomSignature(disks, &value)) {
      r.term.Say(SurfaceText(TXT_LINUX_RANDOM_FAILED));
      return EXIT_REFUSED;
    }
  } else {
    value = (uint32_t)strtoul(words[2], nullptr, 16);
    if (target->has_signature && target->signature == value) {
      // Nothing to do, nothing asked.
      r.term.Say(Text(TXT_LINUX_ALREADY, target->number, (unsigned long)value));
      if (options.json) RewriteJson(r, {target, value, value, false}, disks, {}, 0, {});
      return EXIT_DONE;
    }
  }
  Question notice;
  if (!r.term.Ask(notice)) return Cancelled(r);

  // The plan is made on the disk as it is now, after the notice; the write
  // goes ahead only if the disk still holds exactly what the plan read.
  DiskError reason = DISK_OK;
  DiskHandle reader = OpenPhysicalDisk(&r.disks, id, 'r', &reason);
  if (reader == INVALID_DISK_HANDLE) {
    r.term.Say(Text(TXT_WRITE_FAILED, target->number));
    return Reason(r, reason, id);
  }
  RewritePlan plan;
  DiskLayoutInfo now;
  reason = GetDiskLayout(reader, &now) ? PlanRewrite(reader, now.signature, value, &plan)
                                       : DiskHandleError(reader);
  CloseDisk(reader);
  if (reason != DISK_OK) {
    r.term.Say(Text(TXT_WRITE_FAILED, target->number));
    return Reason(r, reason == DISK_OK ? DISK_NO_LAYOUT : reason);
  }
  size_t more_references = 0;
  std::vector<PartuuidReference> references =
      FindReferences(files, plan.found, kReferenceListBound, &more_references);
  if (!Consequences(r, disks, *target, plan.found, value, references, more_references,
                    config.unread))
    return Cancelled(r);
  // The systems on the disk: a write's are asked about, a restore's come
  // from its backup.
  SystemsContext systems = {&r.term, &r.disks, &disks, &files};
  if (command == COMMAND_WRITE && !DecideSystems(systems, *target, plan.found, value, &r.systems))
    return EXIT_REFUSED;
  Question confirm;
  confirm.kind = QUESTION_REWRITE;
  confirm.disk = Asked(r, id);
  confirm.old_signature = plan.found;
  confirm.new_signature = value;
  if (!r.term.Ask(confirm)) return Cancelled(r);

  Rewritten w = {target, plan.found, value, false};
  if (!options.dry_run) {
    DiskHandle writer = OpenPhysicalDisk(&r.disks, id, 'W', &reason);
    int backup_error = 0, caught = 0;
    {
      HeldSignals held;
      if (writer != INVALID_DISK_HANDLE) {
        reason = ApplyRewrite(writer, plan);
        backup_error = PosixSystemError(writer);
        CloseDisk(writer);
      }
      caught = held.Caught();
    }
    if (reason != DISK_OK) {
      r.term.Say(Text(TXT_WRITE_FAILED, target->number));
      if (reason == DISK_BACKUP_FAILED && backup_error)
        r.term.Say(
            Text(TXT_LINUX_REASON, Text(TXT_LINUX_BACKUP_UNUSABLE, Shown(options.backup).c_str(),
                                        strerror(backup_error))
                                       .c_str()));
      else
        Reason(r, reason, id);
      uint32_t found = 0;
      if (reason == DISK_CHANGED && SignatureNow(r, id, &found) && found != plan.found)
        r.term.Say(Text(TXT_LINUX_SIGNATURE_NOW, (unsigned long)plan.found, (unsigned long)found));
      // A write that went wrong was preceded by the backup (when asked for).
      if (options.backup && reason >= DISK_WRITE_UNDONE && reason <= DISK_WRITE_UNVERIFIED)
        r.term.Say(Text(TXT_LINUX_BACKUP_SAVED, Shown(options.backup).c_str()));
      return caught ? Interrupted(r, caught) : EXIT_REFUSED;
    }
    w.written = plan.found != value;
    RewriteText(r, w);
    if (options.backup && w.written) {
      std::string restore = "kormelde" + r.same_disk_options + " restore " + Quoted(words[1]) +
                            " " + Quoted(options.backup);
      r.term.Line(
          options.json ? r.term.err : r.term.out,
          Text(TXT_LINUX_RESTORE_HINT, Shown(options.backup).c_str(), Shown(restore).c_str()));
    }
    if (caught) return Interrupted(r, caught);
    // The configuration files follow the signature they name.
    if (!WriteSystemFiles(r.term, r.systems)) return EXIT_REFUSED;
  } else if (!options.json) {
    r.term.Result(SurfaceText(TXT_LINUX_DRY_RUN_DONE));
  }
  if (options.dry_run && command == COMMAND_WRITE && strcasecmp(words[2], "random") == 0) {
    // The value drawn is this run's only: the command that writes it.
    std::string write =
        "kormelde" + r.same_options + " write " + Quoted(words[1]) + " " + Hex8(value);
    for (size_t i = 3; i < words.size(); i++)
      write += " " + Quoted(words[i]);
    r.term.Line(options.json ? r.term.err : r.term.out,
                Text(TXT_LINUX_DRY_RUN_RANDOM, (unsigned long)value, Shown(write).c_str()));
  }
  if (options.json) RewriteJson(r, w, disks, references, more_references, config.unread);
  return EXIT_DONE;
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
  OPT_VALUE,
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
    {"output", required_argument, nullptr, 'o'},
    {"value", no_argument, nullptr, OPT_VALUE},
    {nullptr, 0, nullptr, 0},
};
// ':' first: a missing value is told apart from an unknown option.
static const char kShortOptions[] = ":ynqhVo:";

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

static int RunCommand(Run &r, Command command, const std::vector<const char *> &words) {
  switch (command) {
  case COMMAND_LIST:
    return List(r, std::vector<const char *>(words.begin() + 1, words.end()));
  case COMMAND_WRITE:
  case COMMAND_RESTORE:
    return Rewrite(r, command, words);
  default:
    break;
  }
  int id = Resolve(r, command, words[1]);
  if (id == -2) return Cancelled(r, true);
  if (id < 0) return EXIT_REFUSED;
  return command == COMMAND_ACCESS ? Access(r, id) : Get(r, id);
}

// OUTPUT_ERROR: the first error of a write to standard output while it ran.
static int Main(int argc, char **argv, int *output_error) {
  RunOptions options;
  bool yes = false, no = false;
  std::string same_options, same_disk_options;
  std::vector<int> columns;
  const char *output = nullptr; // -o or --value as given
  opterr = 0;
  int key;
  while ((key = getopt_long(argc, argv, kShortOptions, kOptions, nullptr)) != -1) {
    switch (key) {
    case 'h':
      if (fputs(SurfaceText(TXT_LINUX_USAGE), stdout) == EOF) *output_error = errno;
      return EXIT_DONE;
    case 'V':
      if (printf(SurfaceText(TXT_LINUX_VERSION), KORMELDE_VERSION, KORMELDE_BUILD) < 0 ||
          putchar('\n') == EOF)
        *output_error = errno;
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
      same_options += " " + Quoted(std::string("--backup=") + optarg);
      break;
    case OPT_SECTOR_SIZE:
      if (strcmp(optarg, "512") != 0 && strcmp(optarg, "4096") != 0)
        return Usage(TXT_LINUX_BAD_SECTOR_SIZE, optarg);
      options.sector_size = optarg[0] == '5' ? 512 : 4096;
      same_disk_options += std::string(" --sector-size=") + optarg;
      break;
    case OPT_DRY_RUN:
      options.dry_run = true;
      break;
    case OPT_ROOT:
      if (optarg[0] == '\0') return Usage(TXT_LINUX_OPTION_ARGUMENT, "--root");
      options.root = optarg;
      same_disk_options += " " + Quoted(std::string("--root=") + optarg);
      break;
    case OPT_JSON:
      options.json = true;
      break;
    case 'o': {
      std::string bad;
      if (!ParseColumns(optarg, &columns, &bad)) return Usage(TXT_LINUX_BAD_COLUMN, bad.c_str());
      output = argv[optind - 1];
      break;
    }
    case OPT_VALUE:
      columns.push_back(COL_SIGNATURE);
      output = "--value";
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
      same_options += std::string(key == OPT_WINDOWS ? " --windows=" : " --linux=") + optarg;
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
  if (output && command != COMMAND_LIST && command != COMMAND_GET)
    return Usage(TXT_LINUX_LIST_GET_ONLY, output);
  if (output && options.json) return Usage(TXT_LINUX_OUTPUT_JSON, output);
  // get reads one disk: no column compares it with the others.
  if (command == COMMAND_GET &&
      std::find(columns.begin(), columns.end(), (int)COL_SAME) != columns.end())
    return Usage(TXT_LINUX_BAD_COLUMN, kColumnNames[COL_SAME]);
  if (command == COMMAND_WRITE && !IsSignature(words[2]) && strcasecmp(words[2], "random") != 0)
    return Usage(TXT_LINUX_BAD_SIGNATURE, words[2]);
  // Disks named to compare must be there: a typo is bad usage, as before.
  size_t first_named = command == COMMAND_LIST ? 1 : 3;
  struct stat st;
  for (size_t i = first_named; i < words.size(); i++)
    if (stat(words[i], &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
      return Usage(TXT_LINUX_NOT_IMAGE, words[i]);

  SystemsPlan systems;
  options.patches = &systems.patches;
  options.undo_records = &systems.undo_text;
  Run run(&options, &systems);
  run.same_disk_options = same_disk_options;
  run.same_options = same_disk_options + same_options;
  run.columns = columns;
  int status = RunCommand(run, command, words);
  *output_error = run.term.output_error;
  return status;
}

// What the run printed counts only if it reached its file: a write or close
// of standard output that failed (a full disk, a closed pipe) is a failure
// of every command.
int main(int argc, char **argv) {
  // A closed pipe is a failed write of standard output, said at the end,
  // never a death between a write and its read-back.
  signal(SIGPIPE, SIG_IGN);
  InitLanguage();
  int error = 0;
  int status = Main(argc, argv, &error);
  bool failed = ferror(stdout) != 0 || error != 0;
  if (fflush(stdout) != 0 && !error) failed = true, error = errno;
  if (fclose(stdout) != 0 && !failed) failed = true, error = errno;
  if (!failed) return status;
  if (!error) error = EIO;
  fprintf(stderr, "%s\n", Text(TXT_LINUX_OUTPUT_FAILED, strerror(error)).c_str());
  return status == EXIT_DONE ? EXIT_REFUSED : status;
}
