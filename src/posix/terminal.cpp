#include "posix/terminal.h"

#include <cstring>
#include <unistd.h>

#include "ui/commands.h"
#include "ui/texts.h"

static TermSurface *Of(Dialog dialog) {
  return static_cast<TermSurface *>(dialog);
}

void TermBegin(TermSurface *surface, TermCommand command) {
  surface->command = command;
  surface->result_shown = false;
  surface->sweep_started = false;
  surface->declined = false;
  surface->success_next = false;
}

int TermDone(const TermSurface *surface) {
  switch (surface->command) {
  case TERM_GET:
  case TERM_WRITE:
    return surface->result_shown;
  case TERM_ACCESS:
    return surface->sweep_started;
  default:
    return 0;
  }
}

// The report is the one Get message that begins with the report's head.
static bool IsGetReport(const char *text) {
  size_t fixed = strcspn(TXT_REPORT_HEAD, "%");
  return strncmp(text, TXT_REPORT_HEAD, fixed) == 0;
}

static bool IsYes(const char *line) {
  while (*line == ' ' || *line == '\t')
    line++;
  size_t n = strcspn(line, " \t\r\n");
  if (n == 0) return false;
  return (n == 1 && (line[0] == 'y' || line[0] == 'Y')) ||
         (n == 3 && strncmp(line, "yes", 3) == 0) || (n == 3 && strncmp(line, "YES", 3) == 0) ||
         (n == 3 && strncmp(line, "Yes", 3) == 0) ||
         (n == strlen(TXT_LINUX_YES) && strncmp(line, TXT_LINUX_YES, n) == 0);
}

// Prints the question, then takes the answer from the option or the
// terminal. Without either the answer is No: nothing blocks.
static int Ask(TermSurface *s, const char *text) {
  fprintf(s->err, "%s\n%s", text, TXT_LINUX_ASK_PROMPT);
  int answer = ANSWER_NO;
  if (s->answers == TERM_ANSWER_YES) {
    fprintf(s->err, "%s\n", TXT_LINUX_YES);
    answer = ANSWER_YES;
  } else if (s->answers == TERM_ANSWER_NO) {
    fprintf(s->err, "%s\n", TXT_LINUX_NO);
  } else if (!isatty(fileno(s->in))) {
    fprintf(s->err, "%s\n", TXT_LINUX_NO_TERMINAL);
  } else {
    fflush(s->err);
    char line[256];
    if (!fgets(line, sizeof line, s->in))
      fputc('\n', s->err);
    else if (IsYes(line))
      answer = ANSWER_YES;
  }
  if (answer != ANSWER_YES) s->declined = true;
  fflush(s->err);
  return answer;
}

int SurfaceMessage(Dialog dialog, const char *text, const char *, unsigned style) {
  TermSurface *s = Of(dialog);
  if (style == MB_YESNO_STYLE) return Ask(s, text);
  bool result = false;
  if (s->success_next) {
    s->success_next = false;
    result = true;
  } else if (s->command == TERM_GET && IsGetReport(text)) {
    result = true;
  }
  if (result) s->result_shown = true;
  FILE *to = result ? s->out : s->err;
  fprintf(to, "%s\n", text);
  fflush(to);
  return ANSWER_OK;
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
  if (!idle || strcmp(text, idle) == 0) return;
  if (id == IDC_ACCESS_TEXT) s->sweep_started = true;
  fprintf(s->err, "%s\n", text);
  fflush(s->err);
}

unsigned SurfaceGetInt(Dialog dialog, int id, int *translated) {
  return ParseDialogInt(Of(dialog)->fields[id].c_str(), translated);
}

void SurfaceSetInt(Dialog dialog, int id, unsigned value) {
  Of(dialog)->fields[id] = std::to_string(value);
}

RewriteSuccess SurfaceRewriteSuccess(Dialog dialog) {
  Of(dialog)->success_next = true;
  return {TXT_WRITE_SUCCESS_LINUX, MB_OK_STYLE};
}

// There is no Windows to shut down here.
int ShutdownWindows(uint32_t) {
  return 0;
}
