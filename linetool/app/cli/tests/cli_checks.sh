# Shared by the linetool-cli contract tests (sourced): a scratch folder that
# goes on exit, and the check helpers. `finish` ends the script with the count.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected actual what
  [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
