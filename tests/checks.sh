# Shared by the end-to-end tests and the comparisons: counted checks, each
# printed as "ok - NAME" or "not ok - NAME", and waiting for a condition.
passed=0
failed=0

ok() { passed=$((passed + 1)); echo "ok - $1"; }
not() { ! "$@"; }
fail() {
  failed=$((failed + 1))
  echo "not ok - $1"
  [ $# -gt 1 ] && printf '    %s\n' "${@:2}"
}
# check NAME COMMAND...: passes when the command succeeds.
check() {
  local name="$1"
  shift
  if "$@"; then ok "$name"; else fail "$name"; fi
}
# wait_for SECONDS COMMAND...: polls until the command succeeds, for at most
# SECONDS of wall-clock time however long each try takes (a busy machine
# makes tries slow, not fewer); the command is always tried at least once.
wait_for() {
  local end=$(($(date +%s%N) / 1000000 + $1 * 1000))
  shift
  while :; do
    "$@" >/dev/null 2>&1 && return 0
    [ $(($(date +%s%N) / 1000000)) -ge "$end" ] && return 1
    sleep 0.02
  done
}
