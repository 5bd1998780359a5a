#!/usr/bin/env bash
# Regenerates the message template (kormelde.pot, from the English message
# ids in src/posix/language.cpp) and ja.po (from src/ui/texts.h), then
# merges the template into every other language's .po file.
#   po/update.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$here/../src
xgettext --from-code=UTF-8 --keyword=N_ --language=C++ --package-name=kormelde \
  --no-location --sort-output -o "$here/kormelde.pot" "$src/posix/language.cpp"
tool=$(mktemp)
trap 'rm -f "$tool"' EXIT
c++ -std=c++17 -I "$src" "$here/make_ja_po.cpp" \
  "$src/posix/language.cpp" -o "$tool"
"$tool" >"$here/ja.po"
for po in "$here"/*.po; do
  [ "$(basename "$po")" = ja.po ] && continue
  msgmerge --quiet --update --backup=none "$po" "$here/kormelde.pot"
done
