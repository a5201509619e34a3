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
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local limit=$(($1 * 50))
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.02
  done
  return 1
}
