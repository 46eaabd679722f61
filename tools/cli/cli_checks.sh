# Shared by the command-line contract tests (sourced): a scratch folder that
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
# The checks below run "$cli" and name it by its file name.
prog() { basename "$cli"; }
# Each argument is one command line (split at blanks) that prints the usage on
# stdout and exits 0; --version prints "PROGRAM X.Y.Z".
help_and_version() {
  local args
  for args in "$@"; do
    # shellcheck disable=SC2086
    "$cli" $args >"$work/hout" 2>"$work/herr"
    expect_status 0 $? "$(prog) $args"
    grep -q "^Usage: $(prog)" "$work/hout" || fail "$(prog) $args prints no usage"
  done
  "$cli" --version >"$work/hout" 2>"$work/herr"
  expect_status 0 $? "$(prog) --version"
  grep -qE "^$(prog) [0-9]+\.[0-9]+\.[0-9]+\$" "$work/hout" || fail "--version prints: $(cat "$work/hout")"
}
# Usage errors: one line on stderr that says what is wrong, nothing on stdout,
# exit 2.
usage_error() {  # what-stderr-says args...
  local says=$1
  shift
  "$cli" "$@" >"$work/uout" 2>"$work/uerr"
  expect_status 2 $? "$(prog) $*"
  [ "$(wc -l <"$work/uerr")" -eq 1 ] || fail "$(prog) $*: stderr is not one line: $(cat "$work/uerr")"
  grep -q -- "$says" "$work/uerr" || fail "$(prog) $*: stderr does not say \"$says\": $(cat "$work/uerr")"
  [ -s "$work/uout" ] && fail "$(prog) $* prints on stdout: $(cat "$work/uout")"
}
# station NAME: a fresh station folder $work/NAME holding the sample profile
# ($profile), firmware, write/read test file and preload tree from $res.
station() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1"
  cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/$1/"
}
# The values of a JSON file: field FILE 'python expression on d'.
field() {
  python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(($2))" "$1"
}
# json_valid SCHEMA_FILE DOCUMENT WHAT: the document is one JSON document the
# schema accepts; the whole script is skipped (77) without python3-jsonschema.
json_valid() {
  "$validate" "$1" "$2" 2>"$work/verr"
  local status=$?
  if [ "$status" -eq 77 ]; then
    echo "SKIP: $(cat "$work/verr")"
    exit 77
  fi
  [ "$status" -eq 0 ] || fail "$3 does not match $(basename "$1"): $(cat "$work/verr")"
}
