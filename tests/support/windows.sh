# Waiting for the program's windows and processes under a virtual X server,
# with xdotool (no window manager). Sourced, never run.

# Prints the id of a visible window whose title matches; fails when none
# appears in time.
wait_window() { # title pattern, seconds
  local ids
  for _ in $(seq 1 $(($2 * 10))); do
    ids=$(xdotool search --onlyvisible --name "$1" 2>/dev/null)
    if [ -n "$ids" ]; then
      echo "${ids%%$'\n'*}"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

visible() { # window id
  xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$1"
}

wait_gone() { # window id, seconds
  for _ in $(seq 1 $(($2 * 10))); do
    visible "$1" || return 0
    sleep 0.1
  done
  return 1
}

wait_exit() { # pid, seconds
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}
