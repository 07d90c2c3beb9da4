#!/usr/bin/env bash
# End to end with the window on a virtual X display: run through xvfb-run,
# driven with xdotool. Arguments: the quorvel program, the samples folder.
set -uo pipefail
quorvel=$1
samples=$2
ws=$(mktemp -d)
trap '[ -n "${KEEP_WS:-}" ] || rm -rf "$ws"' EXIT
export QUORVEL_REGISTRY="$ws/settings.reg" LANG=C
unset LANGUAGE LC_ALL LC_MESSAGES QT_QPA_PLATFORM
cp "$samples/page1.png" "$samples/page2.png" "$samples/empty.png" "$ws/"
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# Exit code of background job $1, killed after $2 seconds (then 124).
finish() {
  local waited=0
  while kill -0 "$1" 2>/dev/null && [ "$waited" -lt "$2" ]; do sleep 0.2; waited=$((waited + 1)); done
  if kill -0 "$1" 2>/dev/null; then kill "$1"; wait "$1"; return 124; fi
  wait "$1"
}
visible_window() {  # the id of the first visible window titled $1, waiting up to 30 s
  timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1
}
named_window() {  # a visible window of process $1 titled $2 (any script), waiting up to $3 s (30)
  local w
  for _ in $(seq $((${3:-30} * 5))); do
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
      [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$2" ] && { echo "$w"; return; }
    done
    sleep 0.2
  done
}
press() {  # press KEY in window ID
  xdotool windowfocus --sync "$2" key "$1"
}

# Without /end the window shows, processes the files, and stays until it
# is closed (Esc); closing ends the run with 0.
"$quorvel" "/empty:$ws/empty.png" /cut:ltrb "$ws/page1.png" "$ws/page2.png" 2>"$ws/err1" &
pid=$!
win=$(visible_window Quorvel)
check "the window appears" test -n "$win"
for _ in $(seq 150); do [ -f "$ws/trim/page2.png" ] && break; sleep 0.2; done
check "the command line's files are processed" test -s "$ws/trim/page2.png"
# The batch ends at a tick of its timer after the last result; should Esc
# come before, the close question is answered No (Esc) and Esc tried again.
for _ in 1 2 3 4 5; do
  [ -n "$win" ] && press Escape "$win"
  box=$(named_window "$pid" Query 1)
  [ -z "$box" ] && break
  press Escape "$box"
done
finish "$pid" 150
check "closing the window ends the run with 0" test $? -eq 0
check "the window placement is saved" grep -q '"Right"=dword:0000[0-9a-f][1-9a-f]' "$ws/settings.reg"

# Closing during a batch asks first (the default answer, Yes, stops the
# batch and closes): in Japanese, the question box is titled 確認.
mkdir -p "$ws/many"
for i in $(seq 40); do cp "$ws/page1.png" "$ws/many/p$i.png"; done
LANGUAGE=ja "$quorvel" "/empty:$ws/empty.png" "$ws"/many/p*.png 2>"$ws/err4" &
pid=$!
win=$(visible_window Quorvel)
for _ in $(seq 150); do [ -n "$(ls "$ws/many/trim" 2>/dev/null)" ] && break; sleep 0.2; done
[ -n "$win" ] && press Escape "$win"
box=$(named_window "$pid" 確認)
check "closing during a batch asks first" test -n "$box"
[ -n "$box" ] && press Return "$box"
finish "$pid" 150
check "Yes stops the batch and closes with 0" test $? -eq 0
check "the stopped batch left files unprocessed" test "$(ls "$ws/many/trim" | wc -l)" -lt 40

# A first run without stored settings or options cuts all four sides.
mkdir -p "$ws/first" && cp "$ws/page2.png" "$ws/first/"
QUORVEL_REGISTRY="$ws/first.reg" "$quorvel" /end "$ws/first/page2.png" 2>"$ws/err5" &
finish $! 300
check "a first run with no settings and no options works" test $? -eq 0
check "the first run wrote its result" test -s "$ws/first/trim/page2.png"

# /end /yes: processes again without asking and closes itself with 0.
touch -d '2000-01-01' "$ws/trim/page1.png"
"$quorvel" /end /yes "$ws/page1.png" 2>"$ws/err2" &
finish $! 150
check "/end closes the window with the batch's exit code 0" test $? -eq 0
check "/yes replaced the result" test "$(stat -c %Y "$ws/trim/page1.png")" -gt 946684800

# A rejected command line shows an error box; answering it ends with 1, and
# the same text is on standard error.
"$quorvel" /bogus 2>"$ws/err3" &
pid=$!
box=$(visible_window Error)
check "a rejected command line shows an error box" test -n "$box"
[ -n "$box" ] && press Return "$box"
finish "$pid" 60
check "the rejected run ends with 1" test $? -eq 1
check "the box's text is also on standard error" \
  grep -q "Unknown command line option is specified" "$ws/err3"

if [ "$failures" -ne 0 ]; then
  echo "--- standard error of the runs"; cat "$ws"/err*
  echo "$failures checks failed"
  exit 1
fi
echo "all checks passed"
