#include "posix/terminal.h"

#include <time.h>
#include <unistd.h>

#include <cstring>

#include "app/partuuid.h"
#include "posix/systems.h"

#include "ui/commands.h"
#include "ui/reasons.h"
#include "ui/texts.h"

static TermSurface *Of(Dialog dialog) {
  return static_cast<TermSurface *>(dialog);
}

static bool IsYes(const char *line) {
  while (*line == ' ' || *line == '\t')
    line++;
  size_t n = strcspn(line, " \t\r\n");
  if (n == 0) return false;
  return (n == 1 && (line[0] == 'y' || line[0] == 'Y')) ||
         (n == 3 && strncmp(line, "yes", 3) == 0) || (n == 3 && strncmp(line, "YES", 3) == 0) ||
         (n == 3 && strncmp(line, "Yes", 3) == 0) ||
         (n == strlen(SurfaceText(TXT_LINUX_YES)) &&
          strncmp(line, SurfaceText(TXT_LINUX_YES), n) == 0);
}

// Prints the question, then takes the answer from the option or the
// terminal. Without either the answer is No: nothing blocks.
static int Ask(TermSurface *s, const char *text) {
  // Quiet: a question --yes or --no answers is not shown.
  if (s->options->quiet && s->options->answers != ANSWERS_ASK)
    return s->options->answers == ANSWERS_YES ? ANSWER_YES : ANSWER_NO;
  fprintf(s->err, "%s\n%s", text, SurfaceText(TXT_LINUX_ASK_PROMPT));
  int answer = ANSWER_NO;
  if (s->options->answers == ANSWERS_YES) {
    fprintf(s->err, "%s\n", SurfaceText(TXT_LINUX_YES));
    answer = ANSWER_YES;
  } else if (s->options->answers == ANSWERS_NO) {
    fprintf(s->err, "%s\n", SurfaceText(TXT_LINUX_NO));
  } else if (!isatty(fileno(s->in))) {
    fprintf(s->err, "%s\n", SurfaceText(TXT_LINUX_NO_TERMINAL));
  } else {
    fflush(s->err);
    char line[256];
    if (!fgets(line, sizeof line, s->in))
      fputc('\n', s->err);
    else if (IsYes(line))
      answer = ANSWER_YES;
  }
  fflush(s->err);
  return answer;
}

int AskOnTerminal(TermSurface *s, const char *text) {
  RunOptions asking = *s->options;
  asking.answers = ANSWERS_ASK;
  asking.quiet = false;
  const RunOptions *saved = s->options;
  s->options = &asking;
  int answer = Ask(s, text);
  s->options = saved;
  return answer;
}

static void Print(FILE *to, const char *text) {
  fprintf(to, "%s\n", text);
  fflush(to);
}

int SurfaceMessage(Dialog dialog, const char *text, const char *, unsigned style) {
  TermSurface *s = Of(dialog);
  if (style == MB_YESNO_STYLE) return Ask(s, text);
  Print(s->err, text);
  return ANSWER_OK;
}

void SurfaceReport(Dialog dialog, const char *report) {
  if (!Of(dialog)->options->json) Print(Of(dialog)->out, report);
}

const SurveyedDisk *FindSurveyed(const WriteContext *context, int number) {
  if (!context) return nullptr;
  for (const SurveyedDisk &d : context->disks)
    if (d.number == number) return &d;
  return nullptr;
}

std::vector<int> CollidingDisks(const WriteContext *context, int disk, uint32_t signature) {
  std::vector<int> numbers;
  if (!context || signature == 0) return numbers;
  for (const SurveyedDisk &d : context->disks)
    if (d.number != disk && d.has_signature && d.signature == signature)
      numbers.push_back(d.number);
  return numbers;
}

// Before the question: the disks that already carry the new value (itself a
// question), and the configuration lines that would point nowhere.
static bool CheckConsequences(TermSurface *s, int disk, uint32_t old_signature,
                              uint32_t new_signature) {
  // Disks whose signature could not be read are left out of the comparison:
  // say which.
  if (s->write && !s->options->quiet)
    for (const SurveyedDisk &d : s->write->disks)
      if (d.number != disk && d.error != DISK_OK) {
        fprintf(s->err, SurfaceText(TXT_LINUX_UNREAD_REASON), d.number, d.path.c_str(),
                DiskErrorText(d.error));
        fputc('\n', s->err);
      }
  std::vector<int> colliding = CollidingDisks(s->write, disk, new_signature);
  if (!colliding.empty()) {
    std::string list;
    char item[MESSAGE_BUFFER_SIZE];
    for (int n : colliding) {
      snprintf(item, sizeof item, SurfaceText(TXT_LINUX_COLLISION_ITEM), n,
               FindSurveyed(s->write, n)->path.c_str());
      list += item;
    }
    char text[MESSAGE_BUFFER_SIZE];
    snprintf(text, sizeof text, SurfaceText(TXT_LINUX_COLLISION_ASK), (unsigned)new_signature,
             list.c_str());
    if (Ask(s, text) != ANSWER_YES) return false;
  }
  const SurveyedDisk *target = FindSurveyed(s->write, disk);
  if (!target || target->format != FORMAT_AT || old_signature == new_signature) return true;
  std::vector<PartuuidReference> found = FindReferences(s->write->files, old_signature);
  if (found.empty()) {
    if (!s->options->quiet) {
      fprintf(s->err, SurfaceText(TXT_LINUX_REFERENCES_NONE), (unsigned)old_signature);
      fputc('\n', s->err);
    }
  } else {
    fprintf(s->err, "%s\n", SurfaceText(TXT_LINUX_REFERENCES_HEAD));
    for (const PartuuidReference &r : found) {
      fprintf(s->err, SurfaceText(TXT_LINUX_REFERENCE_ITEM), r.file.c_str(), r.line,
              Partuuid(old_signature, r.partition).c_str(),
              Partuuid(new_signature, r.partition).c_str());
      fputc('\n', s->err);
    }
  }
  fflush(s->err);
  return true;
}

// The question names the device and what tells it from an equal disk
// (model, serial, a loop device's backing file), so that a user fixing a
// clone sees which of the two will change.
int SurfaceConfirmRewrite(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  TermSurface *s = Of(dialog);
  if (!CheckConsequences(s, disk, old_signature, new_signature)) return ANSWER_NO;
  // The systems on the disk (a restore's come from its backup).
  if (s->systems && !s->systems->restore &&
      !DecideSystems(s, disk, old_signature, new_signature, s->systems))
    return ANSWER_NO;
  const RegisteredDisk *d = PosixRegistered(s->disks, disk);
  std::string path = d ? d->path : "?";
  std::string which = d ? d->model : "";
  if (d && !d->identity.tag.empty() && d->identity.tag != d->model)
    which += (which.empty() ? "" : ", ") + d->identity.tag;
  if (which.empty()) which = "-";
  char text[MESSAGE_BUFFER_SIZE];
  snprintf(text, sizeof text, SurfaceText(TXT_WRITE_CONFIRM_LINUX), disk, (unsigned)old_signature,
           (unsigned long)new_signature, path.c_str(), which.c_str());
  return Ask(s, text);
}

// The result on standard output, or beside the questions with --json.
void SurfaceRewritten(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  TermSurface *s = Of(dialog);
  FILE *to = s->options->json ? s->err : s->out;
  char text[MESSAGE_BUFFER_SIZE];
  if (old_signature == new_signature) {
    snprintf(text, sizeof text, SurfaceText(TXT_LINUX_UNCHANGED), disk,
             (unsigned long)old_signature);
    Print(to, text);
    return;
  }
  snprintf(text, sizeof text, SurfaceText(TXT_WRITE_SUCCESS_LINUX), disk,
           (unsigned long)old_signature, (unsigned long)new_signature);
  Print(to, text);
  const SurveyedDisk *target = FindSurveyed(s->write, disk);
  if (!target || target->linux_partitions.empty()) return;
  fprintf(to, "%s\n", SurfaceText(TXT_LINUX_PARTUUID_HEAD));
  for (unsigned n : target->linux_partitions) {
    fprintf(to, SurfaceText(TXT_LINUX_PARTUUID_ITEM), Partuuid(old_signature, n).c_str(),
            Partuuid(new_signature, n).c_str());
    fputc('\n', to);
  }
  fflush(to);
}

static double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + t.tv_nsec / 1e9;
}

// A bar on standard error while the sweep runs, drawn only on a terminal;
// then one line with the reads done and the time they took.
void SurfaceProgress(Dialog dialog, int done, int total) {
  TermSurface *s = Of(dialog);
  if (done == 0) s->sweep_start = Now();
  if (isatty(fileno(s->err)) && !s->options->quiet) {
    enum { WIDTH = 40 };
    int filled = total > 0 ? done * WIDTH / total : WIDTH;
    fprintf(s->err, "\r[%.*s%*s] %3d%%", filled, "########################################",
            WIDTH - filled, "", total > 0 ? done * 100 / total : 100);
    if (done == total) fputs("\r\033[K", s->err);
    fflush(s->err);
  }
  if (done == total) {
    fprintf(s->err, SurfaceText(TXT_LINUX_ACCESS_DONE), done, Now() - s->sweep_start);
    fputc('\n', s->err);
    fflush(s->err);
  }
}

unsigned SurfaceGetText(Dialog dialog, int id, char *buffer, int size) {
  const std::string &text = Of(dialog)->fields[id];
  return CopyFieldText(text.data(), text.size(), buffer, size);
}

// The two progress lines are shown while they differ from their idle text.
void SurfaceSetText(Dialog dialog, int id, const char *text) {
  TermSurface *s = Of(dialog);
  s->fields[id] = text;
  const char *idle = id == IDC_GET_TEXT      ? TXT_GET_IDLE
                     : id == IDC_ACCESS_TEXT ? TXT_ACCESS_IDLE
                                             : nullptr;
  if (!idle || strcmp(text, idle) == 0 || s->options->quiet) return;
  Print(s->err, text);
}

unsigned SurfaceGetInt(Dialog dialog, int id, int *translated) {
  return ParseDialogInt(Of(dialog)->fields[id].c_str(), translated);
}

void SurfaceSetInt(Dialog dialog, int id, unsigned value) {
  Of(dialog)->fields[id] = std::to_string(value);
}
