#!/usr/bin/env bash
# Every C++ source file follows .clang-format; prints the files that do not.
set -euo pipefail
cd "$1"
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' \
                                  'bench/*.cpp' 'bench/*.h' 2>/dev/null || find src tests tools bench -name '*.cpp' -o -name '*.h')
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "$f: not formatted (clang-format -i $f)"; bad=1
  fi
done
[ $bad -eq 0 ] && echo "ok: ${#files[@]} files follow .clang-format"
exit $bad
