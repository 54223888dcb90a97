# Checks for the end-to-end and release scripts, sourced by each: every
# check prints one line, "ok - <what>" or "not ok - <what>", and counts in
# `passed` or `failures`. A script that wants more said on a failure (the
# window's state, say) defines on_failure(). wait_for() is the one bounded
# poll they all use.

passed=0
failures=0

ok() {
  echo "ok - $*"
  passed=$((passed + 1))
}

not_ok() {
  echo "not ok - $*"
  failures=$((failures + 1))
  if declare -F on_failure >/dev/null; then on_failure; fi
}

# check <description> <command...>
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}

# wait_for <seconds> <command...>: true as soon as the command succeeds,
# polling every 0.1 s; after the deadline the command has one last try.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  while ((SECONDS < deadline)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# finish: the closing line "<checks_name>: N passed, M failed", then the end
# of the script, with status 0 only when no check failed.
finish() {
  echo "${checks_name:-checks}: $passed passed, $failures failed"
  [ "$failures" -eq 0 ]
  exit
}

# end_processes <pid...>: asks each to end, gives it two seconds, then kills it.
end_processes() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null; done
  for pid in "$@"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  return 0
}
