#!/usr/bin/env bash
# End to end with the window on a virtual X display of its own, driven with
# xdotool. Arguments: the Xvfb program, the quorvel program, the samples
# folder.
#
# Every step waits for what it needs (the server, a window, a file, the
# program's end) and goes on as soon as it is there; `limit` only ends a
# step that hangs, far beyond what a loaded machine takes.
set -uo pipefail
xvfb=$1
quorvel=$2
samples=$3
limit=120
ws=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  [ -n "${KEEP_WS:-}" ] || rm -rf "$ws"
}
trap cleanup EXIT
export QUORVEL_REGISTRY="$ws/settings.reg" LANG=C
unset LANGUAGE LC_ALL LC_MESSAGES QT_QPA_PLATFORM XAUTHORITY
cp "$samples/page1.png" "$samples/page2.png" "$samples/empty.png" "$ws/"
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# Polls COMMAND until it succeeds (0), process PID has ended (1) or `limit`
# seconds have passed (1).
wait_until() {  # wait_until PID COMMAND...
  local deadline=$((SECONDS + limit))
  until "${@:2}"; do
    kill -0 "$1" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
# The exit code of background job PID once it has ended; killed after
# `limit` seconds (then 124).
finish() {  # finish PID
  wait_until "$1" false
  if kill -0 "$1" 2>/dev/null; then kill "$1"; wait "$1"; return 124; fi
  wait "$1"
}
# Prints the first visible window of process PID titled TITLE (any script).
window_now() {  # window_now PID TITLE
  local w
  for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$2" ] && { echo "$w"; return 0; }
  done
  return 1
}
no_window() {  # no_window PID TITLE
  ! window_now "$1" "$2" >/dev/null
}
window_of() {  # window_of PID TITLE: window_now, waiting for it while PID runs
  local deadline=$((SECONDS + limit)) w
  until w=$(window_now "$1" "$2"); do
    kill -0 "$1" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
  echo "$w"
}
has_entries() {  # has_entries FOLDER
  [ -n "$(ls "$1" 2>/dev/null)" ]
}
press() {  # press KEY in window ID
  timeout 30 xdotool windowfocus --sync "$2" key "$1"
}

# The server picks a free display itself (-displayfd: parallel runs never
# race for a number) and writes it once it accepts connections. -noreset:
# by default the server resets whenever its last client leaves, and a
# program connecting meanwhile fails ("could not connect to display").
"$xvfb" -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1024x24 \
  3>"$ws/display" 2>"$ws/xvfb.log" &
server=$!
if ! wait_until "$server" grep -q . "$ws/display"; then
  echo "Xvfb did not start:"; cat "$ws/xvfb.log"
  exit 1
fi
export DISPLAY=":$(head -1 "$ws/display")"

# Without /end the window shows, processes the files, and stays until it
# is closed (Esc); closing ends the run with 0.
"$quorvel" "/empty:$ws/empty.png" /cut:ltrb "$ws/page1.png" "$ws/page2.png" 2>"$ws/err1" &
pid=$!
win=$(window_of "$pid" Quorvel)
check "the window appears" test -n "$win"
wait_until "$pid" test -f "$ws/trim/page1.png" -a -f "$ws/trim/page2.png"
check "the command line's files are processed" test -s "$ws/trim/page1.png" -a -s "$ws/trim/page2.png"
# The batch ends at a tick of its timer after the last result: Esc before
# that brings the close question, which is answered No (Esc); once its box
# is gone, Esc again, until the program ends.
deadline=$((SECONDS + limit))
while [ -n "$win" ] && kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
  press Escape "$win"
  box=$(window_of "$pid" Query) || break
  press Escape "$box"
  wait_until "$pid" no_window "$pid" Query
done
finish "$pid"
check "closing the window ends the run with 0" test $? -eq 0
check "the window placement is saved" grep -q '"Right"=dword:0000[0-9a-f][1-9a-f]' "$ws/settings.reg"

# Closing during a batch asks first (the default answer, Yes, stops the
# batch and closes): in Japanese, the question box is titled 確認. The
# batch is long enough to be running still after its first result, however
# fast the machine.
mkdir -p "$ws/many"
for i in $(seq 200); do ln "$ws/page1.png" "$ws/many/p$i.png"; done
LANGUAGE=ja "$quorvel" "/empty:$ws/empty.png" "$ws"/many/p*.png 2>"$ws/err4" &
pid=$!
win=$(window_of "$pid" Quorvel)
wait_until "$pid" has_entries "$ws/many/trim"
[ -n "$win" ] && press Escape "$win"
box=$(window_of "$pid" 確認)
check "closing during a batch asks first" test -n "$box"
[ -n "$box" ] && press Return "$box"
finish "$pid"
check "Yes stops the batch and closes with 0" test $? -eq 0
check "the stopped batch left files unprocessed" test "$(ls "$ws/many/trim" | wc -l)" -lt 200

# A first run without stored settings or options cuts all four sides.
mkdir -p "$ws/first" && cp "$ws/page2.png" "$ws/first/"
QUORVEL_REGISTRY="$ws/first.reg" "$quorvel" /end "$ws/first/page2.png" 2>"$ws/err5" &
finish $!
check "a first run with no settings and no options works" test $? -eq 0
check "the first run wrote its result" test -s "$ws/first/trim/page2.png"

# /end /yes: processes again without asking and closes itself with 0.
touch -d '2000-01-01' "$ws/trim/page1.png"
"$quorvel" /end /yes "$ws/page1.png" 2>"$ws/err2" &
finish $!
check "/end closes the window with the batch's exit code 0" test $? -eq 0
check "/yes replaced the result" test "$(stat -c %Y "$ws/trim/page1.png")" -gt 946684800

# A rejected command line shows an error box; answering it ends with 1, and
# the same text is on standard error.
"$quorvel" /bogus 2>"$ws/err3" &
pid=$!
box=$(window_of "$pid" Error)
check "a rejected command line shows an error box" test -n "$box"
[ -n "$box" ] && press Return "$box"
finish "$pid"
check "the rejected run ends with 1" test $? -eq 1
check "the box's text is also on standard error" \
  grep -q "Unknown command line option is specified" "$ws/err3"

if [ "$failures" -ne 0 ]; then
  echo "--- standard error of the runs"; cat "$ws"/err*
  echo "$failures checks failed"
  exit 1
fi
echo "all checks passed"
