// The systems on a disk whose signature changes: the Windows stores that
// name it (posix/winrefs) and the Linux lines that name its PARTUUIDs.
// What they name now and after, the questions that decide whether they
// change with the signature, and the changes themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/json.h"
#include "app/undo.h"
#include "app/winrefs.h"
#include "posix/disk.h"
#include "posix/survey.h"
#include "posix/winrefs.h"

class Terminal;

// What the questions of a write see: the terminal, the run's disks, those
// read for the checks, and the configuration files read.
struct SystemsContext {
  Terminal *term;
  DiskSet *disks;
  const std::vector<SurveyedDisk> *surveyed;
  const std::vector<ConfigFile> *files;
};

// The Windows stores of a pinned disk that name signature (read on a read
// handle of its own). *error: why the disk could not be read whole.
WindowsScan ScanDiskWindows(DiskSet *disks, int id, uint32_t signature, bool has_new,
                            uint32_t new_signature, DiskError *error = nullptr);

// What a write or a restore changes besides the signature, decided before
// it: the patches go through RunOptions::patches, the files are rewritten
// after the signature, and undo goes into the backup file.
struct SystemsPlan {
  bool restore = false; // the changes are the backup's, undone
  bool scanned = false;
  uint32_t old_signature = 0;
  WindowsScan windows;                             // the disk written
  std::vector<std::pair<int, WindowsScan>> others; // other disks naming old_signature
  std::vector<BytePatch> patches;
  std::vector<FileVersion> files; // new versions, written after the signature
  // Configuration files whose PARTUUIDs follow the signature (from
  // old_signature to new_signature): each new version is made as it is
  // written, one at a time.
  std::vector<const ConfigFile *> retargeted;
  uint32_t new_signature = 0;
  UndoRecords undo;
  std::string undo_text;
};

// Before the confirmation: lists the references with what each names now
// and after, then asks (--windows, --linux) whether they change. False:
// the write is refused or declined (told why).
bool DecideSystems(const SystemsContext &c, const SurveyedDisk &target, uint32_t old_signature,
                   uint32_t new_signature, SystemsPlan *plan);

// A restore: the backup's records (after its boot area) listed; they are
// undone with the signature. A file is put back only where it still holds
// what the write made of it (its saved version with saved_signature's
// PARTUUIDs naming disk_signature); one edited since is left, and said so.
// False when the records cannot be read (told why).
bool PlanRestore(Terminal &term, const uint8_t *records, size_t size, uint32_t saved_signature,
                 uint32_t disk_signature, SystemsPlan *plan);

// After the signature was written: the configuration files. False when one
// could not be rewritten (told which and why; the old version stays).
bool WriteSystemFiles(Terminal &term, const SystemsPlan &plan);

// The references and problems as members of the current JSON object.
void WindowsJson(JsonWriter &j, const WindowsScan &scan);

// get: the count of references and each, on standard output, where there
// are any (or problems).
void PrintWindowsCount(Terminal &term, const WindowsScan &scan, uint32_t signature);
