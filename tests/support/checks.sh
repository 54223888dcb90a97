# Checks for the end-to-end and release scripts, sourced by each: every
# check prints one line, "ok - <what>" or "not ok - <what>", and counts in
# `passed` or `failures`. A script that wants more said on a failure (the
# window's state, say) defines on_failure(); one that keeps a record of its
# own defines on_check(), which hears "pass <what>" or "fail <what>".
# wait_for() is the one bounded poll they all use. e2e.sh brings these with
# the rest of the scripts' set-up.

passed=0
failures=0

ok() {
  echo "ok - $*"
  passed=$((passed + 1))
  if declare -F on_check >/dev/null; then on_check pass "$*"; fi
}

not_ok() {
  echo "not ok - $*"
  failures=$((failures + 1))
  if declare -F on_check >/dev/null; then on_check fail "$*"; fi
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

# finish [LOG...]: after a failure the last 40 lines of each LOG; then the
# closing line "<checks_name>: N passed, M failed" (by default the script's
# name) and the end of the script, with status 0 only when no check failed.
finish() {
  local log
  if ((failures > 0)); then
    for log in "$@"; do
      echo "--- $log"
      tail -n 40 "$log" 2>/dev/null
    done
  fi
  echo "${checks_name:-$(basename "$0" .sh)}: $passed passed, $failures failed"
  [ "$failures" -eq 0 ]
  exit
}
