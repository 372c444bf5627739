# Counted checks for the test scripts that drive built programs: each check
# prints "ok: ..." or "FAIL: ...", and finish ends the script with status 0
# only when some check ran and none failed. Sourced, never run.
passed=0
failed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { # description, command...: one counted check
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}
