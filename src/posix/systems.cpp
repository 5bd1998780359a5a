#include "posix/systems.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/json.h"
#include "app/partuuid.h"
#include "app/shown.h"
#include "disk/bootrecord.h"
#include "posix/terminal.h"
#include "ui/reasons.h"
#include "ui/surface.h"
#include "ui/texts.h"

namespace {

// Reads through a disk handle: whole sectors, the wanted bytes copied out.
struct HandleReader {
  DiskHandle handle;
  uint64_t size;
  std::vector<uint8_t> buffer;
  DiskError error; // the first read inside the disk that failed
};

bool ReadThroughHandle(void *context, uint64_t offset, void *out, size_t count) {
  HandleReader *r = static_cast<HandleReader *>(context);
  uint64_t first = offset / SECTOR_SIZE;
  uint64_t last = (offset + count + SECTOR_SIZE - 1) / SECTOR_SIZE;
  if (first > UINT32_MAX || last - first > (1u << 20)) return false;
  r->buffer.resize((size_t)(last - first) * SECTOR_SIZE);
  // One sector (a table, a boot sector) is read alone, not with the rest of
  // the boot area: another disk's pages are not in the cache.
  bool read = last - first == 1
                  ? PosixReadSector(r->handle, first, r->buffer.data()) != 0
                  : SeekSector(r->handle, first) && ReadSectors(r->handle, (int)(last - first),
                                                                (uint32_t)first, r->buffer.data());
  if (!read) {
    if (offset + count <= r->size && r->error == DISK_OK) r->error = DiskHandleError(r->handle);
    if (r->error == DISK_OK && offset + count <= r->size) r->error = DISK_IO_ERROR;
    return false;
  }
  memcpy(out, r->buffer.data() + (offset - first * SECTOR_SIZE), count);
  return true;
}

void WillReadThroughHandle(void *context, uint64_t offset, size_t count) {
  PosixWillReadAt(static_cast<HandleReader *>(context)->handle, offset, count);
}

const char *ProblemText(WindowsProblemKind kind) {
  switch (kind) {
  case WINDOWS_HIVE_DIRTY:
    return SurfaceText(TXT_LINUX_WINDOWS_HIVE_DIRTY);
  case WINDOWS_HIVE_CHECKSUM:
    return SurfaceText(TXT_LINUX_WINDOWS_HIVE_CHECKSUM);
  case WINDOWS_HIBERNATED:
    return SurfaceText(TXT_LINUX_WINDOWS_HIBERNATED);
  case WINDOWS_UNCLEAN:
    return SurfaceText(TXT_LINUX_WINDOWS_UNCLEAN);
  case WINDOWS_NOT_PLAIN:
    return SurfaceText(TXT_LINUX_WINDOWS_NOT_PLAIN);
  case WINDOWS_NEW_NAMED:
    return SurfaceText(TXT_LINUX_WINDOWS_NEW_NAMED);
  case WINDOWS_BITLOCKER:
    return SurfaceText(TXT_LINUX_WINDOWS_BITLOCKER);
  case WINDOWS_DYNAMIC:
    return SurfaceText(TXT_LINUX_WINDOWS_DYNAMIC);
  case WINDOWS_SIGNATURE_ZERO:
    return SurfaceText(TXT_LINUX_WINDOWS_ZERO);
  case WINDOWS_NOT_SEARCHED:
    break;
  }
  return SurfaceText(TXT_LINUX_WINDOWS_NOT_SEARCHED);
}

// "[12345678] partition 2", or the offset that names no partition.
std::string Names(const WindowsReference &r, uint32_t signature) {
  if (r.partition) return Text(TXT_LINUX_WINDOWS_NAMES, (unsigned)signature, r.partition);
  return Text(TXT_LINUX_WINDOWS_NAMES_NONE, (unsigned)signature,
              (unsigned long long)r.partition_start);
}

// Why a reference stays as it is, or nullptr.
const char *KeptReason(const WindowsReference &r) {
  if (r.store == STORE_BCD && r.form == BCD_NESTED) return SurfaceText(TXT_LINUX_WINDOWS_NESTED);
  if (!r.located) return SurfaceText(TXT_LINUX_WINDOWS_NOT_LOCATED);
  if (!r.partition) return SurfaceText(TXT_LINUX_WINDOWS_NO_PARTITION);
  return nullptr;
}

enum Listing { LIST_THIS_DISK, LIST_OTHER_DISK, LIST_NOW };

void PrintReferences(FILE *to, const WindowsScan &scan, uint32_t old_signature,
                     uint32_t new_signature, Listing listing) {
  for (const WindowsReference &r : scan.references) {
    if (listing == LIST_NOW) {
      fprintf(to, SurfaceText(TXT_LINUX_WINDOWS_NOW_ITEM), r.store_partition,
              Shown(DescribeReference(r)).c_str(), Names(r, old_signature).c_str());
      fputc('\n', to);
      continue;
    }
    const char *kept =
        listing == LIST_THIS_DISK ? KeptReason(r) : SurfaceText(TXT_LINUX_WINDOWS_OTHER_KEPT);
    std::string after = kept ? Text(TXT_LINUX_WINDOWS_KEPT, kept) : Names(r, new_signature);
    fprintf(to, SurfaceText(TXT_LINUX_WINDOWS_ITEM), r.store_partition,
            Shown(DescribeReference(r)).c_str(), Names(r, old_signature).c_str(), after.c_str());
    fputc('\n', to);
  }
}

void PrintProblems(FILE *to, const WindowsScan &scan, bool refusals) {
  for (const WindowsProblem &p : scan.problems) {
    if (IsRefusal(p.kind) != refusals) continue;
    std::string detail = p.detail.empty() ? "" : " (" + Shown(p.detail) + ")";
    fprintf(to, SurfaceText(TXT_LINUX_WINDOWS_PROBLEM), p.partition, ProblemText(p.kind),
            detail.c_str());
    fputc('\n', to);
  }
}

// The answer --windows or --linux gives, else the terminal's; without a
// terminal nothing answers it when must_choose (--yes alone does not: -1),
// else the answer is no (the lines a write listed and left before --linux).
int Choose(Terminal &term, UpdateChoice choice, const std::string &question, const char *option,
           bool must_choose) {
  if (choice == UPDATE_YES || choice == UPDATE_LEAVE) {
    term.Tell(question + " " + option + (choice == UPDATE_YES ? "=update" : "=leave"));
    return choice == UPDATE_YES ? 1 : 0;
  }
  if (!isatty(fileno(term.in)) && term.options->dry_run) {
    term.Say(question);
    term.Say(SurfaceText(TXT_LINUX_DRY_RUN_YES));
    return 1;
  }
  if (!isatty(fileno(term.in))) {
    if (!must_choose) return 0;
    term.Say(question);
    term.Say(Text(TXT_LINUX_CHOOSE_BY_OPTION, (std::string(option) + "=update|leave").c_str()));
    return -1;
  }
  return term.AskOnTerminal(question) ? 1 : 0;
}

bool WriteWhole(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

// A file replaced whole: a temporary file beside it with its mode and
// owner, synced, renamed over it, the directory synced. errno on failure.
bool ReplaceFile(const std::string &path, const std::string &contents) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  std::string temp = path + ".kormelde-new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (fd < 0) return false;
  bool ok = fchown(fd, st.st_uid, st.st_gid) == 0 || geteuid() != 0;
  ok = ok && WriteWhole(fd, contents) && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = saved;
    return false;
  }
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

// The partitions of a block device that something holds (a mounted file
// system, a device mapper): a partition's device opens with O_EXCL only
// when nothing does. Writing under a mounted volume's cache would be lost
// or would confuse it.
std::vector<unsigned> BusyPartitions(const RegisteredDisk &d) {
  std::vector<unsigned> busy;
  if (!d.identity.block) return busy;
  std::string base = "/sys/dev/block/" + std::to_string(major(d.identity.rdev)) + ":" +
                     std::to_string(minor(d.identity.rdev));
  DIR *dir = opendir(base.c_str());
  if (!dir) return busy;
  while (struct dirent *e = readdir(dir)) {
    std::string number;
    if (e->d_name[0] == '.' || !ReadWholeFile(base + "/" + e->d_name + "/partition", &number))
      continue;
    int fd = open((std::string("/dev/") + e->d_name).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd >= 0)
      close(fd);
    else if (errno == EBUSY)
      busy.push_back((unsigned)atoi(number.c_str()));
  }
  closedir(dir);
  return busy;
}

} // namespace

WindowsScan ScanDiskWindows(DiskSet *disks, int id, uint32_t signature, bool has_new,
                            uint32_t new_signature, DiskError *error) {
  DiskError ignored;
  if (!error) error = &ignored;
  *error = DISK_OK;
  HandleReader reader = {OpenPhysicalDisk(disks, id, 'r', error), 0, {}, DISK_OK};
  if (reader.handle == INVALID_DISK_HANDLE) return WindowsScan();
  ImageContainer container = IMAGE_RAW;
  DiskBytes bytes;
  bytes.context = &reader;
  bytes.read = ReadThroughHandle;
  bytes.will_read = WillReadThroughHandle;
  bytes.size = reader.size = PosixDataBytes(reader.handle, &container);
  const RegisteredDisk *d = PosixRegistered(disks, id);
  // mtools reads at an offset of the named file: raw data only.
  if (d && container == IMAGE_RAW) bytes.path = d->path;
  // The tables count the disk's logical sectors (4096 bytes on some).
  uint32_t sector_size = PosixSectorSize(reader.handle);
  WindowsScan scan =
      ScanWindows(bytes, ReadPartitions(bytes, sector_size), signature, has_new, new_signature);
  CloseDisk(reader.handle);
  *error = reader.error;
  return scan;
}

bool DecideSystems(const SystemsContext &c, const SurveyedDisk &target, uint32_t old_signature,
                   uint32_t new_signature, SystemsPlan *plan) {
  Terminal &term = *c.term;
  const RunOptions &options = *term.options;
  *plan = SystemsPlan();
  if (target.format != FORMAT_AT || old_signature == new_signature) return true;
  DiskError error = DISK_OK;
  plan->windows = ScanDiskWindows(c.disks, target.id, old_signature, true, new_signature, &error);
  // Stores that could not be searched are not known to be absent.
  if (error != DISK_OK) {
    term.Say(Text(TXT_WRITE_FAILED, target.number));
    term.Say(Text(TXT_LINUX_REASON, DiskErrorText(error)));
    return false;
  }
  // Stores on the other disks read for the checks that name it too (a
  // clone's own Windows, a second disk's boot store): shown, never changed.
  for (const SurveyedDisk &o : *c.surveyed) {
    if (o.id == target.id || o.format != FORMAT_AT || o.error != DISK_OK) continue;
    WindowsScan other = ScanDiskWindows(c.disks, o.id, old_signature, false, 0);
    if (!other.references.empty()) plan->others.push_back({o.number, other});
  }
  plan->scanned = true;
  plan->old_signature = old_signature;
  FILE *err = term.err;
  const WindowsScan &w = plan->windows;
  if (!w.references.empty()) {
    term.Say(Text(TXT_LINUX_WINDOWS_HEAD, (unsigned)w.references.size(), (unsigned)old_signature));
    PrintReferences(err, w, old_signature, new_signature, LIST_THIS_DISK);
  }
  for (const auto &other : plan->others) {
    const SurveyedDisk *o = nullptr;
    for (const SurveyedDisk &d : *c.surveyed)
      if (d.number == other.first) o = &d;
    term.Say(Text(TXT_LINUX_WINDOWS_OTHER_HEAD, other.first, o ? Shown(o->path).c_str() : "?",
                  (unsigned)other.second.references.size(), (unsigned)old_signature));
    PrintReferences(err, other.second, old_signature, new_signature, LIST_OTHER_DISK);
  }
  if (!options.quiet) PrintProblems(err, w, false);
  std::vector<BytePatch> patches = PlanReferencePatches(w.references, old_signature, new_signature);
  if (!patches.empty()) {
    int answer = Choose(term, options.windows,
                        Text(TXT_LINUX_WINDOWS_ASK, (unsigned)patches.size()), "--windows", true);
    if (answer < 0) return false;
    if (answer > 0) {
      if (w.refused()) {
        term.Say(SurfaceText(TXT_LINUX_WINDOWS_REFUSED));
        PrintProblems(err, w, true);
        return false;
      }
      for (unsigned busy : BusyPartitions(*PosixRegistered(c.disks, target.id)))
        for (const WindowsReference &ref : w.references)
          if (ref.store_partition == busy && Updatable(ref)) {
            term.Say(SurfaceText(TXT_LINUX_WINDOWS_REFUSED));
            term.Say(
                Text(TXT_LINUX_WINDOWS_PROBLEM, busy, SurfaceText(TXT_LINUX_WINDOWS_BUSY), ""));
            return false;
          }
      plan->patches = patches;
    }
  }
  // The Linux lines: only the PARTUUID tokens change.
  std::vector<PartuuidReference> lines = FindReferences(*c.files, old_signature, 1);
  if (!lines.empty()) {
    int answer =
        Choose(term, options.linux_lines, SurfaceText(TXT_LINUX_LINES_ASK), "--linux", false);
    if (answer < 0) return false;
    if (answer > 0)
      for (const ConfigFile &f : *c.files) {
        if (f.name == "/proc/cmdline") continue;
        bool names = false;
        ScanPartuuids(f.contents, [&](const PartuuidToken &t) {
          names = names || t.signature == old_signature;
        });
        if (!names) continue;
        plan->retargeted.push_back(&f);
        // The old version goes into the backup file: kept only for one.
        if (options.backup) plan->undo.files.push_back({f.name, f.contents});
      }
    plan->new_signature = new_signature;
  }
  plan->undo.patches = plan->patches;
  plan->undo_text = plan->undo.empty() ? std::string() : FormatUndoRecords(plan->undo);
  fflush(err);
  return true;
}

bool PlanRestore(Terminal &term, const uint8_t *records, size_t size, uint32_t saved_signature,
                 uint32_t disk_signature, SystemsPlan *plan) {
  UndoRecords undo;
  if (!ParseUndoRecords(records, size, &undo)) {
    term.Say(SurfaceText(TXT_LINUX_RESTORE_RECORDS_BAD));
    return false;
  }
  *plan = SystemsPlan();
  plan->restore = true;
  plan->patches = ReversePatches(undo.patches);
  // A backup taken by the restore undoes the restore.
  plan->undo.patches = plan->patches;
  for (const FileVersion &saved : undo.files) {
    std::string now;
    unsigned count = 0;
    if (ReadWholeFile(saved.path, &now) && now == saved.contents) continue; // put back already
    if (now != ReplacePartuuids(saved.contents, saved_signature, disk_signature, &count)) {
      term.Say(Text(TXT_LINUX_RESTORE_FILE_EDITED, Shown(saved.path).c_str()));
      continue;
    }
    plan->files.push_back(saved);
    plan->undo.files.push_back({saved.path, now});
  }
  plan->undo_text = plan->undo.empty() ? std::string() : FormatUndoRecords(plan->undo);
  if (!undo.empty()) {
    term.Tell(Text(TXT_LINUX_RESTORE_RECORDS, (unsigned)plan->patches.size(),
                   (unsigned)plan->files.size()));
    for (const BytePatch &p : plan->patches)
      term.Tell("  " + std::to_string(p.offset) + ": " + Shown(p.what));
    for (const FileVersion &f : plan->files)
      term.Tell("  " + Shown(f.path));
  }
  return true;
}

bool WriteSystemFiles(Terminal &term, const SystemsPlan &plan) {
  bool ok = true;
  if (!plan.patches.empty())
    term.Tell(Text(TXT_LINUX_WINDOWS_WRITTEN, (unsigned)plan.patches.size()));
  auto replace = [&](const std::string &path, const std::string &contents) {
    if (ReplaceFile(path, contents)) {
      term.Tell(Text(TXT_LINUX_LINES_WRITTEN, Shown(path).c_str()));
    } else {
      term.Say(Text(TXT_LINUX_LINES_FAILED, Shown(path).c_str(), strerror(errno)));
      ok = false;
    }
  };
  for (const FileVersion &f : plan.files)
    replace(f.path, f.contents);
  for (const ConfigFile *f : plan.retargeted) {
    unsigned count = 0;
    replace(f->name, ReplacePartuuids(f->contents, plan.old_signature, plan.new_signature, &count));
  }
  return ok;
}

void PrintWindowsCount(Terminal &term, const WindowsScan &scan, uint32_t signature) {
  // A disk without Windows stores shows as before.
  if (scan.references.empty() && scan.problems.empty()) return;
  term.Result(Text(TXT_LINUX_WINDOWS_COUNT, (unsigned)signature, (unsigned)scan.references.size()));
  PrintReferences(term.out, scan, signature, signature, LIST_NOW);
  PrintProblems(term.out, scan, true);
  PrintProblems(term.out, scan, false);
  term.Flush(term.out);
}

void WindowsJson(JsonWriter &j, const WindowsScan &scan) {
  j.Key("windows_references").Number(scan.references.size());
  j.Key("windows").BeginArray();
  for (const WindowsReference &r : scan.references) {
    j.BeginObject();
    j.Key("store_partition").Number(r.store_partition);
    j.Key("store").String(r.store_path);
    j.Key("object").String(r.object);
    if (r.store == STORE_BCD) {
      j.Key("description").String(r.description);
      j.Key("element").String(BcdElementName(r.element));
      j.Key("nested").Bool(r.form == BCD_NESTED);
    } else {
      j.Key("volume").String(r.description);
    }
    j.Key("signature").String(JsonSignature(r.signature));
    j.Key("partition_offset").Number(r.partition_start);
    if (r.partition)
      j.Key("partition").Number(r.partition);
    else
      j.Key("partition").Null();
    if (r.located)
      j.Key("disk_offset").Number(r.disk_offset);
    else
      j.Key("disk_offset").Null();
    j.Key("updatable").Bool(Updatable(r));
    j.EndObject();
  }
  j.EndArray();
  j.Key("windows_problems").BeginArray();
  for (const WindowsProblem &p : scan.problems) {
    j.BeginObject();
    j.Key("partition").Number(p.partition);
    j.Key("refusal").Bool(IsRefusal(p.kind));
    j.Key("what").String(ProblemText(p.kind));
    j.Key("detail").String(p.detail);
    j.EndObject();
  }
  j.EndArray();
}
