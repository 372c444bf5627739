#!/usr/bin/env bash
# The source folders include only the folders below them (see the README's
# picture): a window never includes another window, app/ no window, the
# core no widget folder. Prints each include that breaks the rule.
set -euo pipefail
src="$1/src"
declare -A allowed=(
  [program]="about app card core db devices duplicates fragment refbooks register users"
  [register]="app cardfiles core db printout"
  [card]="app core db pictures"
  [fragment]="app core pictures"
  [refbooks]="app core db"
  [users]="app core db"
  [duplicates]="app core db"
  [devices]="app carddav core db"
  [carddav]="cardfiles core db"
  [about]="app"
  [app]="cardfiles core db"
  [cardfiles]="core db"
  [printout]="core pictures"
  [pictures]="core"
  [core]="db"
  [db]=""
)
bad=0
for dir in "$src"/*/; do
  name=$(basename "$dir")
  if [ -z "${allowed[$name]+set}" ]; then
    echo "src/$name: a folder the layout does not know"; bad=1; continue
  fi
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    [ "$target" = "$name" ] && continue
    [ -d "$src/$target" ] || continue # a library's header, not one of ours
    if ! grep -qw "$target" <<<"${allowed[$name]}"; then
      echo "${file#"$1"/}: includes $target/"; bad=1
    fi
  done < <(grep -HE '^#include "[a-z]+/' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done
[ $bad -eq 0 ] && echo "ok: every folder includes only the folders below it"
exit $bad
