#include "support/scripted_surface.h"

#include <cstring>

#include "ui/commands.h"
#include "ui/texts.h"

static ScriptedSurface *Of(Dialog dialog) {
  return static_cast<ScriptedSurface *>(dialog);
}

const char *SurfaceText(const char *text) {
  return text;
}

void SurfaceProgress(Dialog, int, int) {}

int SurfaceMessage(Dialog dialog, const char *text, const char *caption, unsigned style) {
  ScriptedSurface *s = Of(dialog);
  s->messages.push_back({text, caption, style});
  if (style == MB_YESNO_STYLE && s->on_question) s->on_question();
  int fallback = style == MB_YESNO_STYLE ? ANSWER_NO : ANSWER_OK;
  if (style != MB_YESNO_STYLE || s->answers.empty()) return fallback;
  int answer = s->answers.front();
  s->answers.pop_front();
  return answer;
}

unsigned SurfaceGetText(Dialog dialog, int id, char *buffer, int size) {
  const std::string &text = Of(dialog)->fields[id];
  return CopyFieldText(text.data(), text.size(), buffer, size);
}

void SurfaceSetText(Dialog dialog, int id, const char *text) {
  Of(dialog)->fields[id] = text;
  Of(dialog)->field_writes.push_back({id, text});
}

unsigned SurfaceGetInt(Dialog dialog, int id, int *translated) {
  return ParseDialogInt(Of(dialog)->fields[id].c_str(), translated);
}

void SurfaceSetInt(Dialog dialog, int id, unsigned value) {
  SurfaceSetText(dialog, id, std::to_string(value).c_str());
}

// The typed calls show what the Windows dialog shows.
void SurfaceReport(Dialog dialog, const char *report) {
  SurfaceMessage(dialog, report, TXT_TITLE, MB_OK_STYLE);
}

int SurfaceConfirmRewrite(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  return MessageBoxF(dialog, MB_YESNO_STYLE, TXT_TITLE, TXT_WRITE_CONFIRM, disk,
                     (unsigned)old_signature, (unsigned long)new_signature);
}

std::vector<uint32_t> g_shutdowns;

void SurfaceRewritten(Dialog dialog, int disk, uint32_t old_signature, uint32_t new_signature) {
  if (MessageBoxF(dialog, MB_YESNO_STYLE, TXT_TITLE, TXT_WRITE_SUCCESS, disk,
                  (unsigned long)old_signature, (unsigned long)new_signature) == ANSWER_YES)
    g_shutdowns.push_back(9); // EWX_SHUTDOWN | EWX_POWEROFF
}
