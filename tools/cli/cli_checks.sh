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
