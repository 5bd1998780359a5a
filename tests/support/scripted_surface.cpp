#include "support/scripted_surface.h"

#include <cstring>

#include "ui/commands.h"

#include "ui/texts.h"

static ScriptedSurface *Of(Dialog dialog) {
  return static_cast<ScriptedSurface *>(dialog);
}

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

RewriteSuccess SurfaceRewriteSuccess(Dialog dialog) {
  if (Of(dialog)->linux_texts) return {TXT_WRITE_SUCCESS_LINUX, MB_OK_STYLE};
  return {TXT_WRITE_SUCCESS, MB_YESNO_STYLE};
}

std::vector<uint32_t> g_shutdowns;

int ShutdownWindows(uint32_t flags) {
  g_shutdowns.push_back(flags);
  return 0;
}
