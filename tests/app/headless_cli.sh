#!/bin/sh
# The commands without a window, as a script would run them: the installed
# binary's own start-up, a demo logger, the profile from the docs.
#   headless_cli.sh THLOGGER-CONFIG PROFILE
set -u
tool=$1
profile=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
unset DISPLAY WAYLAND_DISPLAY

"$tool" apply "$profile" --demo=drive:"$work/drive" --record "$work/record.csv" --timeout 20 \
  2>"$work/apply.err"
status=$?
[ "$status" -eq 0 ] || fail "apply exited $status: $(cat "$work/apply.err")"
grep -q "^configuring" "$work/apply.err" || fail "no progress lines: $(cat "$work/apply.err")"
[ "$(wc -l <"$work/record.csv")" -eq 2 ] || fail "record: $(cat "$work/record.csv")"
tail -n 1 "$work/record.csv" | grep -q ",cold-room,[0-9a-f]\{64\},verified$" ||
  fail "record line: $(tail -n 1 "$work/record.csv")"

"$tool" read --demo=drive:"$work/drive" --timeout 20 >"$work/read.out" 2>/dev/null ||
  fail "read exited $?"
grep -q "^Device Name: 冷库 4$" "$work/read.out" || fail "read: $(cat "$work/read.out")"

sed 's/"intervalSeconds": "60"/"intervalSeconds": "sixty"/' "$profile" >"$work/bad.json"
"$tool" apply "$work/bad.json" --demo=drive:"$work/drive" 2>"$work/bad.err"
status=$?
[ "$status" -eq 1 ] || fail "a bad profile exited $status"
grep -q '"intervalSeconds"' "$work/bad.err" || fail "the field is not named: $(cat "$work/bad.err")"
echo "ok"
