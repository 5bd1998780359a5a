#include "posix/language.h"

#include <iconv.h>
#include <langinfo.h>
#include <libintl.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <string>

#include "ui/surface.h"
#include "ui/texts.h"

#define N_(text) text

// Every text the Linux program shows: texts.h's Japanese, the Windows
// program's own, beside its English message id. po/ja.po gives back the
// Japanese exactly (tests/posix/catalog_test checks it).
const CatalogEntry kCatalog[] = {
    {TXT_BAD_DISK, N_("The disk number is not valid.")},
    {TXT_DRIVE_ASK, N_("A drive name was given instead of a number.\nRead drive name [%c:] as "
                       "disk number [%d]\nand go on?")},
    {TXT_DRIVE_FAILED, N_("A drive name was given instead of a number,\nbut the disk number of "
                          "drive name [%c:]\ncould not be found.")},
    {TXT_GET_BUSY, N_("Reading the information of disk #%d.")},
    {TXT_READ_FAILED, N_("Reading the disk failed (%d)")},
    {TXT_GEOMETRY_FAILED, N_("Reading the disk's geometry failed (%d/geo)")},
    {TXT_LAYOUT_FAILED, N_("Reading the partition table failed (%d/ddl)")},
    {TXT_NO_IPL, N_("No hard disk IPL was found. (%d)")},
    {TXT_FORMAT_UNKNOWN_WARN, N_("The machine type of the boot record could not be told (%d)")},
    {TXT_REPORT_HEAD, N_("NTSig\t= %8.8lX\nPSiz\t= %d\nDISK\t= %.0fMB\n")},
    {TXT_REPORT_AT, N_("Format\t= AT compatible\n")},
    {TXT_REPORT_PC98, N_("Format\t= PC-9821\n")},
    {TXT_REPORT_UNKNOWN, N_("Format\t= unknown\n")},
    {TXT_REPORT_PARTITIONS, N_("Partitions\t= ")},
    {TXT_REPORT_ITEM, N_("%.0fMB(#%d) ")},
    {TXT_ACCESS_BUSY, N_("Accessing disk #%d.")},
    {TXT_WRITE_UNKNOWN, N_("The machine type of the boot record could not be told,\nso the NT "
                           "signature cannot be rewritten. (%d)")},
    {TXT_NEWSIG_EMPTY, N_("The new NT signature could not be read.")},
    {TXT_WRITE_FAILED, N_("Rewriting the NT signature failed. Disk\t= %d\n")},
    {TXT_WRITE_SUCCESS_LINUX,
     N_("The NT signature was rewritten.\nDisk\t= %d\nOld NTSig\t= [%8.8lX]\nNew NTSig\t= "
        "[%8.8lX]\nNote: the PARTUUID of every partition on this disk changed with the\n"
        "      NT signature. Update fstab entries and boot entries that name a\n"
        "      PARTUUID.")},
    {TXT_WRITE_CONFIRM_LINUX, N_("Change the NT signature of disk #%d from [%8.8X]\nto "
                                 "[%8.8lX]?\n  Disk: %s (%s)")},
    {TXT_NOTICE, N_("                ** Kormelde: read this first **\n\n"
                    "This program changes the part of a hard disk called the MBR.\n"
                    "It was written with care, but it may still have bugs. If a change\n"
                    "to the MBR fails, it can do serious harm to the hard disk.\n"
                    "Use it at your own risk, after testing it well in a safe setting.\n"
                    "Problems will be worked on, but nothing is guaranteed, and there is\n"
                    "no warranty of any kind, even where the author or distributor is at\n"
                    "fault.\n"
                    "This program does not support RAID and similar setups.")},
    {TXT_LINUX_VERSION, N_("kormelde %s (build %s)")},
    {TXT_LINUX_USAGE,
     N_("Usage: kormelde [OPTION]... COMMAND [ARGUMENT]...\n"
        "\n"
        "Commands:\n"
        "  list [IMAGE...]\n"
        "      list the disks (number, path, size, format, NT signature, model);\n"
        "      disks that share a signature are marked.\n"
        "  get DISK\n"
        "      show the NT signature, partitions, size and format.\n"
        "  access DISK\n"
        "      make the disk busy (200 reads of 64 KiB) to see which it is.\n"
        "  write DISK SIG [IMAGE...]\n"
        "      set the NT signature to SIG: 1-8 hex digits (0 clears) or\n"
        "      random (a random value no disk carries).\n"
        "  restore DISK BACKUP [IMAGE...]\n"
        "      set the NT signature back to that of a --backup file, after\n"
        "      checking that BACKUP belongs to this disk.\n"
        "  IMAGE: image files to take into the check for equal signatures.\n"
        "  write and restore write only after yes to the notice and question.\n"
        "\n"
        "DISK:\n"
        "  0, 1, 2 ...   a number from kormelde list (no upper bound)\n"
        "  /dev/sdb      a whole-disk device\n"
        "  disk.img      an image file (raw, fixed VHD, HDI, NHD)\n"
        "  /dev/sdb1, /  a partition or mount point (get only: after a\n"
        "                question, the disk that holds it is read)\n"
        "  Name a file whose name is all digits as ./3.\n"
        "\n"
        "Options:\n"
        "  -y, --yes        answer yes to every question.\n"
        "  -n, --no         answer no to every question.\n"
        "                   Without either and without a terminal: no (yes for\n"
        "                   --dry-run).\n"
        "  -q, --quiet      print results and errors only (no notice, questions\n"
        "                   or progress); write and restore need --yes or --no.\n"
        "  --backup=FILE    save the boot area (first 32 sectors) to FILE before\n"
        "                   writing. An existing FILE is never overwritten.\n"
        "  --dry-run        write, restore: every check and question, no write;\n"
        "                   without a terminal the questions are answered yes.\n"
        "  --windows=update|leave  write: also change the references to the old\n"
        "                   signature in the Windows boot store and drive letters\n"
        "                   on the disk (recorded in --backup, undone by restore).\n"
        "                   Without a terminal one of the two must be given: --yes\n"
        "                   does not answer it.\n"
        "  --linux=update|leave  write: also change the PARTUUID lines found (each\n"
        "                   file replaced whole; the old one kept in --backup).\n"
        "                   Without a terminal: leave.\n"
        "  --root=DIR       look for PARTUUID references in /etc and /boot under\n"
        "                   DIR (/proc/cmdline is not read).\n"
        "  --json           print the result of list, get, write, restore as JSON.\n"
        "  -o, --output=COLUMNS  list: the columns to show, get: the values to\n"
        "                   print alone (number,path,size,format,signature,same,model;\n"
        "                   same: list only).\n"
        "  --value          get: the NT signature alone (-o signature).\n"
        "  --sector-size=N  an image file's logical sector size (512 or 4096,\n"
        "                   512 by default); refused for a block device whose\n"
        "                   own size differs.\n"
        "  -h, --help       show this help.\n"
        "  -V, --version    show the version and build.\n"
        "  Short options may be bundled (-yq), long ones abbreviated (--dry).\n"
        "\n"
        "Results (the report of get, the result of write) go to standard output;\n"
        "questions, progress and errors to standard error.\n"
        "Exit status: 0 done (--dry-run included), 1 refused, declined or failed,\n"
        "2 bad usage\n"
        "\n"
        "qcow2, VMDK, VDI, VHDX and dynamic VHD images are opened through a qemu-nbd\n"
        "of their own (package qemu-utils); no root needed. qemu-img check runs\n"
        "before a write; an image a VM or another QEMU program holds is not written.\n")},
    {TXT_LINUX_USAGE_HINT, N_("kormelde: %s (see kormelde --help)\n")},
    {TXT_LINUX_BAD_OPTION, N_("unknown option: %s")},
    {TXT_LINUX_QUIET_NEEDS_ANSWER, N_("--quiet hides the questions: give --yes or --no as well")},
    {TXT_LINUX_OPTION_ARGUMENT, N_("%s needs a value")},
    {TXT_LINUX_WRITE_ONLY, N_("%s goes with write and restore only")},
    {TXT_LINUX_JSON_NOT_ACCESS, N_("--json does not go with access")},
    {TXT_LINUX_NOT_IMAGE, N_("not an image file or disk to compare: %s")},
    {TXT_LINUX_NO_COMMAND, N_("no command")},
    {TXT_LINUX_BAD_COMMAND, N_("unknown command: %s")},
    {TXT_LINUX_ARG_COUNT, N_("wrong number of arguments for %s")},
    {TXT_LINUX_YES_AND_NO, N_("--yes and --no cannot be given together")},
    {TXT_LINUX_BACKUP_MISSING, N_("--backup needs a file name")},
    {TXT_LINUX_BAD_SECTOR_SIZE, N_("--sector-size is 512 or 4096: %s")},
    {TXT_LINUX_BAD_SIGNATURE, N_("give the NT signature as 1-8 hex digits or random: %s")},
    {TXT_LINUX_ASK_PROMPT, N_("(y/N) ")},
    {TXT_LINUX_YES, N_("yes")},
    {TXT_LINUX_NO, N_("no")},
    {TXT_LINUX_NO_TERMINAL, N_("no (no terminal; answer yes with --yes)")},
    {TXT_LINUX_CANCELLED, N_("Cancelled. Nothing was written.")},
    {TXT_LINUX_READ_CANCELLED, N_("Cancelled.")},
    {TXT_LINUX_UNREAD_GROUP, N_("Disk %s cannot be read: %s")},
    {TXT_LINUX_BAD_COLUMN, N_("unknown column: %s")},
    {TXT_LINUX_LIST_GET_ONLY, N_("%s goes with list and get only")},
    {TXT_LINUX_OUTPUT_JSON, N_("%s and --json cannot be given together")},
    {TXT_LINUX_DRY_RUN_YES, N_("yes (--dry-run without a terminal; nothing is written)")},
    {TXT_LINUX_DRY_RUN_RANDOM, N_("The random value is [%08lX]. To write this value:\n  %s")},
    {TXT_LINUX_ALREADY, N_("Disk #%d already has the NT signature [%08lX]. Nothing was written.")},
    {TXT_LINUX_RESTORE_HINT,
     N_("The boot area as it was before is in the backup file [%s]. To restore it:\n  %s")},
    {TXT_LINUX_GPT_NO_SIGNATURE, N_("Disk %s is a GPT disk. A GPT disk has no NT signature.")},
    {TXT_LINUX_MOUNT_POINT_ASK, N_("A mount point was given instead of a number.\nRead [%s] as "
                                   "disk number [%d] (%s)\nand go on?")},
    {TXT_LINUX_REASON, N_("Reason: %s")},
    {TXT_LINUX_INTERRUPTED, N_("Stopped by %s: the disk holds what is said above; nothing was "
                               "changed after it.")},
    {TXT_LINUX_OUTPUT_FAILED, N_("Standard output could not be written: %s")},
    {TXT_LINUX_DISK_PATH, N_("Disk #%d = %s")},
    {TXT_LINUX_PATH_ERROR, N_("[%s] %s")},
    {TXT_LINUX_PARTITION_ASK, N_("A partition was given instead of a number.\nRead [%s] as disk "
                                 "number [%d](%s)\nand go on?")},
    {TXT_LINUX_PARTITION_REFUSED, N_("[%s] is a partition.\nName the disk by its number or by "
                                     "the whole disk's path for this command.")},
    {TXT_LINUX_BACKUP_EXISTS, N_("The backup file [%s] exists already. It is not overwritten.")},
    {TXT_LINUX_LIST_NUMBER, N_("Number")},
    {TXT_LINUX_LIST_PATH, N_("Path")},
    {TXT_LINUX_LIST_SIZE, N_("Size")},
    {TXT_LINUX_LIST_FORMAT, N_("Format")},
    {TXT_LINUX_LIST_SIGNATURE, N_("NT signature")},
    {TXT_LINUX_LIST_MODEL, N_("Model/serial")},
    {TXT_LINUX_LIST_COLLIDES, N_("Same as")},
    {TXT_LINUX_LIST_IMAGE, N_("image (%s)")},
    {TXT_LINUX_FORMAT_AT, N_("AT compatible")},
    {TXT_LINUX_FORMAT_PC98, N_("PC-9821")},
    {TXT_LINUX_FORMAT_GPT, N_("GPT")},
    {TXT_LINUX_FORMAT_NONE, N_("none")},
    {TXT_LINUX_FORMAT_UNKNOWN, N_("unknown")},
    {TXT_LINUX_FORMAT_UNREAD, N_("unreadable")},
    {TXT_LINUX_LIST_COLLISIONS,
     N_("Note: disks marked (*) carry the same NT signature as another disk. Windows\n"
        "      keeps one of them offline. Change one with write DISK random.")},
    {TXT_LINUX_WRITE_REFUSED, N_("Disk #%d (%s) cannot be written. Nothing was written.")},
    {TXT_LINUX_GPT_REASON,
     N_("This is a GPT disk. This program does not handle a GPT disk's disk GUID.")},
    {TXT_LINUX_BACKUP_UNUSABLE, N_("The backup file [%s] cannot be created: %s")},
    {TXT_LINUX_NOT_DIRECTORY, N_("Not a directory.")},
    {TXT_LINUX_NO_DIRECTORY, N_("No such directory.")},
    {TXT_LINUX_DIRECTORY_DENIED, N_("No permission to write to the directory.")},
    {TXT_LINUX_DIRECTORY_READ_ONLY, N_("Read-only file system.")},
    {TXT_LINUX_BACKUP_SAVED,
     N_("The boot area as it was before the write is in the backup file [%s].")},
    {TXT_LINUX_SIGNATURE_NOW, N_("NT signature checked [%8.8lX], NT signature now [%8.8lX]")},
    {TXT_LINUX_COLLISION_ASK,
     N_("The new NT signature [%08X] is already on these disks:\n%s"
        "With two disks of the same signature, Windows keeps one of them offline.\n"
        "Go on all the same?")},
    {TXT_LINUX_COLLISION_ITEM, N_("  disk #%d %s\n")},
    {TXT_LINUX_RANDOM_FAILED, N_("No random value could be had.")},
    {TXT_LINUX_REFERENCES_HEAD,
     N_("After the rewrite, the PARTUUID on these lines points to no partition:")},
    {TXT_LINUX_REFERENCES_NONE, N_("No setting refers to PARTUUID=%08x-NN.")},
    {TXT_LINUX_REFERENCES_MORE, N_("  ... and %lu more lines")},
    {TXT_LINUX_FILES_UNREAD, N_("These files could not be read: whether lines in them refer to "
                                "PARTUUID=%08x-NN is not known:")},
    {TXT_LINUX_FILE_UNREAD_ITEM, N_("  %s: %s")},
    {TXT_LINUX_FILE_DIRECTORY, N_("It is a directory.")},
    {TXT_LINUX_FILE_FIFO, N_("It is a FIFO (named pipe).")},
    {TXT_LINUX_FILE_DEVICE, N_("It is a device.")},
    {TXT_LINUX_FILE_NOT_REGULAR, N_("It is not a regular file.")},
    {TXT_LINUX_FILE_DANGLING,
     N_("It is a symbolic link to nothing (under --root, links resolve inside it).")},
    {TXT_LINUX_FILE_TOO_LARGE, N_("It is larger than %d MiB.")},
    {TXT_LINUX_FILE_OVER_TOTAL,
     N_("The files read before it reached the bound of them all (%d MiB).")},
    {TXT_LINUX_ROOT_UNUSABLE, N_("--root [%s] cannot be used: %s")},
    {TXT_LINUX_ROOT_EMPTY, N_("None of the files that may refer to a PARTUUID (/etc/fstab, "
                              "/etc/crypttab, /boot/grub/grub.cfg, ...) is there.")},
    {TXT_LINUX_REFERENCE_ITEM, N_("  %s:%u: PARTUUID=%s -> %s")},
    {TXT_LINUX_PARTUUID_HEAD, N_("PARTUUIDs changed:")},
    {TXT_LINUX_PARTUUID_ITEM, N_("  %s -> %s")},
    {TXT_LINUX_UNCHANGED, N_("The NT signature is unchanged.\nDisk\t= %d\nNTSig\t= [%8.8lX]\n"
                             "The PARTUUIDs are unchanged too.")},
    {TXT_LINUX_DRY_RUN_DONE, N_("--dry-run: every check passed. Nothing was written.")},
    {TXT_LINUX_RESTORE_UNREADABLE, N_("[%s] cannot be read.")},
    {TXT_LINUX_RESTORE_SIZE, N_("[%s] is not a --backup file (it must be %d bytes).")},
    {TXT_LINUX_RESTORE_FORMAT,
     N_("[%s] is not a backup of this disk: the formats differ (disk %s, file %s).")},
    {TXT_LINUX_RESTORE_DIFFERS,
     N_("[%s] is not a backup of this disk: its content differs from 0x%X on. %s")},
    {TXT_LINUX_RESTORE_TABLE_DIFFERS, N_("The partition table differs too (re-partitioned?).")},
    {TXT_LINUX_RESTORE_TABLE_SAME, N_("The partition table is the same.")},
    {TXT_LINUX_ACCESS_DONE, N_("Test access done: %d reads in %.3f s.")},
    {TXT_LINUX_LIST_EMPTY, N_("No disk was found.")},
    {TXT_LINUX_GET_BUSY, N_("Reading the information of disk %s.")},
    {TXT_LINUX_ACCESS_BUSY, N_("Accessing disk %s.")},
    {TXT_LINUX_READ_FAILED, N_("Disk %s could not be read.")},
    {TXT_LINUX_GEOMETRY_FAILED, N_("The size of disk %s could not be read.")},
    {TXT_LINUX_LAYOUT_FAILED, N_("The partition table of disk %s could not be read.")},
    {TXT_LINUX_NO_IPL, N_("Disk %s has no boot record (no 55 AA boot mark in sector 0): an empty "
                          "disk, or one never partitioned.")},
    {TXT_LINUX_FORMAT_UNKNOWN_WARN,
     N_("Disk %s: the boot record could not be told to be AT-compatible or PC-9821.")},
    {TXT_POSIX_OK, N_("No error.")},
    {TXT_POSIX_NO_SUCH_DISK, N_("There is no such disk.")},
    {TXT_POSIX_NO_PERMISSION, N_("No permission to open the disk. Run as root.")},
    {TXT_POSIX_NO_PERMISSION_ROOT, N_("The system refuses to open this disk, even for root.")},
    {TXT_POSIX_LOCKED, N_("Another program is writing to the disk (it is locked).")},
    {TXT_POSIX_NOT_A_DISK, N_("This is not a disk (a directory or the like).")},
    {TXT_POSIX_TOO_SHORT, N_("The disk is too small (it has no 32-sector boot area).")},
    {TXT_POSIX_BAD_CONTAINER, N_("The image file's header or footer is not valid.")},
    {TXT_POSIX_BACKUP_FAILED,
     N_("The backup file could not be created (it exists already, or the like). Nothing was "
        "written.")},
    {TXT_POSIX_IO_ERROR, N_("Reading or writing the disk failed.")},
    {TXT_POSIX_UNSUPPORTED_IMAGE,
     N_("Image files of this kind cannot be used directly. Attach them with qemu-nbd.")},
    {TXT_POSIX_READ_ONLY, N_("The disk is read-only.")},
    {TXT_POSIX_IMAGE_IN_USE, N_("The image is in use by a running virtual machine or another QEMU "
                                "program.")},
    {TXT_POSIX_IMAGE_REFUSED, N_("QEMU could not open the image.")},
    {TXT_POSIX_IMAGE_ENCRYPTED, N_("The image is encrypted; without its key it is not opened.")},
    {TXT_POSIX_IMAGE_READ_ONLY,
     N_("This image is only read, never written: QEMU does not write its kind (streamOptimized "
        "VMDK), or its data may lie outside it (a VMDK extent named by a path or a device, a "
        "qcow2 external data file).")},
    {TXT_POSIX_IMAGE_CHECK_FAILED,
     N_("qemu-img check found errors in the image, so nothing is written.")},
    {TXT_POSIX_NO_QEMU, N_("qemu-nbd or qemu-img is missing: install qemu-utils.")},
    {TXT_LINUX_QEMU_SAID, N_("%s (QEMU: %s)")},
    {TXT_POSIX_DISK_CHANGED,
     N_("The disk's boot area changed after it was checked, so nothing was written.")},
    {TXT_POSIX_OTHER_DISK, N_("The name now points to another disk than the one first checked "
                              "(a disk was attached or removed). Nothing was written.")},
    {TXT_POSIX_NO_NUMBER_LEFT, N_("No disk number is left to give.")},
    {TXT_POSIX_SECTOR_SIZE,
     N_("--sector-size differs from the sector size of the disk (or of the image's header).")},
    {TXT_POSIX_NO_LAYOUT, N_("The partition table cannot be read (a GPT disk, or the like).")},
    {TXT_POSIX_NOT_EXPECTED,
     N_("The NT signature changed after it was checked, so nothing was written.")},
    {TXT_POSIX_NO_BOOT_MARK, N_("There is no boot mark (55 AA at 0x1FE).")},
    {TXT_POSIX_SECTOR_UNSUPPORTED,
     N_("The image's sector size (as its header records it) is not supported; 512 bytes is.")},
    {TXT_POSIX_WRITE_UNDONE,
     N_("The write failed. The disk is as it was (the old NT signature; nothing changed).")},
    {TXT_POSIX_WRITE_LEFT_NEW, N_("Checking the write failed and it could not be undone. The "
                                  "disk holds the new NT signature.")},
    {TXT_POSIX_WRITE_TORN,
     N_("The write failed and could not be undone. The disk's NT signature is neither the old "
        "nor the new value (only part of it was rewritten).")},
    {TXT_POSIX_WRITE_UNVERIFIED, N_("The write failed and the disk could not be read back. What "
                                    "NT signature the disk holds is not known.")},
    {TXT_POSIX_FORMAT_UNKNOWN,
     N_("Where the NT signature lies (AT compatible or PC-9821) cannot be told.")},
    {TXT_LINUX_WINDOWS_HEAD,
     N_("%u places in the Windows stores on this disk name the old NT signature [%08X]:")},
    {TXT_LINUX_WINDOWS_OTHER_HEAD,
     N_("Disk #%d %s: %u places in its Windows stores name [%08X] too (not changed):")},
    {TXT_LINUX_WINDOWS_ITEM, N_("  %u:%s: %s -> %s")},
    {TXT_LINUX_WINDOWS_NOW_ITEM, N_("  %u:%s: %s")},
    {TXT_LINUX_WINDOWS_NAMES, N_("[%08X] partition %u")},
    {TXT_LINUX_WINDOWS_NAMES_NONE, N_("[%08X] offset %llu (no such partition on this disk)")},
    {TXT_LINUX_WINDOWS_KEPT, N_("unchanged (%s)")},
    {TXT_LINUX_WINDOWS_NESTED, N_("a nested element (ramdisk, VHD)")},
    {TXT_LINUX_WINDOWS_NOT_LOCATED, N_("its place on the disk is not known")},
    {TXT_LINUX_WINDOWS_NO_PARTITION, N_("it names no partition of this disk")},
    {TXT_LINUX_WINDOWS_OTHER_KEPT, N_("another disk")},
    {TXT_LINUX_WINDOWS_PROBLEM, N_("  partition %u: %s%s")},
    {TXT_LINUX_WINDOWS_HIVE_DIRTY, N_("the hive has changes still in its logs (dirty)")},
    {TXT_LINUX_WINDOWS_HIVE_CHECKSUM, N_("the hive's checksum is wrong")},
    {TXT_LINUX_WINDOWS_HIBERNATED, N_("Windows is hibernated (Fast Startup)")},
    {TXT_LINUX_WINDOWS_UNCLEAN, N_("the volume was not shut down cleanly ($LogFile)")},
    {TXT_LINUX_WINDOWS_NOT_PLAIN, N_("the data is resident, compressed, sparse or encrypted")},
    {TXT_LINUX_WINDOWS_NEW_NAMED,
     N_("a store already names the new NT signature (drive letters would clash)")},
    {TXT_LINUX_WINDOWS_BITLOCKER, N_("a BitLocker volume: nothing inside can be read, and "
                                     "BitLocker may ask for its recovery key")},
    {TXT_LINUX_WINDOWS_DYNAMIC, N_("a dynamic disk (type 0x42)")},
    {TXT_LINUX_WINDOWS_ZERO,
     N_("the new NT signature is 0: Windows writes another at its next start")},
    {TXT_LINUX_WINDOWS_NOT_SEARCHED, N_("not searched")},
    {TXT_LINUX_WINDOWS_ASK, N_("Also update the %u references in the Windows on this disk?")},
    {TXT_LINUX_WINDOWS_REFUSED, N_("The Windows stores cannot be updated; nothing was written:")},
    {TXT_LINUX_WINDOWS_WRITTEN, N_("%u references in the Windows stores were updated.")},
    {TXT_LINUX_WINDOWS_COUNT, N_("Places in the Windows stores that name [%08X]: %u")},
    {TXT_LINUX_CHOOSE_BY_OPTION, N_("No terminal to answer on: choose with %s.")},
    {TXT_LINUX_LINES_CLONE, N_("Left unchanged, these lines would name the partitions of disk #%d "
                               "%s, which carries the old NT signature too:")},
    {TXT_LINUX_LINES_ASK, N_("Also update the PARTUUIDs in these lines?")},
    {TXT_LINUX_LINES_WRITTEN, N_("[%s] was updated.")},
    {TXT_LINUX_LINES_FAILED, N_("[%s] could not be updated (it is as it was): %s")},
    {TXT_LINUX_RESTORE_RECORDS, N_("The backup also undoes %u changes on the disk and %u files:")},
    {TXT_LINUX_RESTORE_RECORDS_BAD,
     N_("The backup file's record of changes is damaged; nothing was written.")},
    {TXT_LINUX_BAD_UPDATE_CHOICE, N_("%s is update or leave")},
    {TXT_LINUX_WINDOWS_BUSY, N_("in use (mounted)")},
    {TXT_LINUX_RESTORE_FILE_EDITED, N_("[%s] was changed after the write; it is left as it is.")},
};
const size_t kCatalogSize = sizeof kCatalog / sizeof kCatalog[0];

static const CatalogEntry *Find(const char *text) {
  for (const CatalogEntry &entry : kCatalog)
    if (strcmp(entry.japanese, text) == 0) return &entry;
  return nullptr;
}

const char *SurfaceText(const char *text) {
  const CatalogEntry *entry = Find(text);
  return entry ? dgettext(KORMELDE_DOMAIN, entry->english) : text;
}

// The catalogs beside the program when it runs from the build tree
// (build/linux/locale), else under its install prefix (PREFIX/bin/kormelde,
// PREFIX/share/locale), wherever that is.
static std::string LocaleDir() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "/usr/share/locale";
  self[n] = '\0';
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  std::string beside = dir + "/locale";
  if (access((beside + "/ja/LC_MESSAGES/" KORMELDE_DOMAIN ".mo").c_str(), R_OK) == 0) return beside;
  return dir + "/../share/locale";
}

// Whether UTF-8 TEXT converts to CODESET without loss.
static bool Showable(const char *text, const char *codeset) {
  iconv_t cd = iconv_open(codeset, "UTF-8");
  if (cd == (iconv_t)-1) return false;
  std::string in = text;
  std::string out(in.size() * 4 + 16, '\0');
  char *from = &in[0], *to = &out[0];
  size_t left = in.size(), room = out.size();
  bool ok = iconv(cd, &from, &left, &to, &room) != (size_t)-1 &&
            iconv(cd, nullptr, nullptr, &to, &room) != (size_t)-1;
  iconv_close(cd);
  return ok;
}

void InitLanguage(const char *locale_dir) {
  // The texts' language and character set only: numbers keep their C form
  // in every report, and no other category is loaded.
  setlocale(LC_CTYPE, "");
  setlocale(LC_MESSAGES, "");
  bindtextdomain(KORMELDE_DOMAIN, locale_dir ? locale_dir : LocaleDir().c_str());
  // A character set that cannot show the language's texts (Japanese under
  // LC_CTYPE=C) would turn them into question marks: English instead.
  const char *codeset = nl_langinfo(CODESET);
  bind_textdomain_codeset(KORMELDE_DOMAIN, "UTF-8");
  if (!Showable(dgettext(KORMELDE_DOMAIN, kCatalog[0].english), codeset))
    setlocale(LC_MESSAGES, "C");
  bind_textdomain_codeset(KORMELDE_DOMAIN, codeset);
}
