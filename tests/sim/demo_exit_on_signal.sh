#!/usr/bin/env bash
# Starts the tool's drive demo headless, sends the signal once it has printed
# its folder, and checks that it exits cleanly and the scratch folder is gone.
#   demo_exit_on_signal.sh TOOL SIGNAL
set -u
tool=$1 sig=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT
QT_QPA_PLATFORM=offscreen "$tool" --demo=drive 2>"$out" &
pid=$!
folder=
for _ in $(seq 100); do
  folder=$(sed -n 's/^thlogger-config: virtual drive logger in //p' "$out")
  [ -n "$folder" ] && break
  sleep 0.1
done
[ -n "$folder" ] || { kill -KILL "$pid"; echo "no folder line"; cat "$out"; exit 1; }
[ -d "$folder" ] || { kill -KILL "$pid"; echo "folder missing while running"; exit 1; }
kill "-$sig" "$pid"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || { echo "exit status $rc"; cat "$out"; exit 1; }
[ ! -e "$folder" ] || { echo "$folder left behind"; exit 1; }
