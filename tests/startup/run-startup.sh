#!/usr/bin/env bash
# Start-up of the real executable under Wine: the data folder and the log
# under Program Files, the record layout, and one running instance per build
# whose second start fronts the first one's window, found by class and title.
set -uo pipefail
exe=${1:?installer exe}
decoy=${2:?decoy window exe}
build=${ZV_BINARY_DIR:?}
run=$ZV_SOURCE_DIR/tests/wine/wine-run
export WINEPREFIX=$build/wineprefix
export DISPLAY=$(cat "$build/wine-env/display")
data="$WINEPREFIX/drive_c/Program Files/zelvane_down/zelvane"
title="Quillory Setup"  # the text table's STR_MESSAGEBOX_TITLE in English
fail() { echo "FAIL: $*"; [ -n "${first:-}" ] && kill "$first" 2>/dev/null; exit 1; }

rm -rf "$data"
ZV_WINE_TIMEOUT=90 "$run" "$exe" &
first=$!
for _ in $(seq 150); do
  xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 && break
  sleep 0.2
done
xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || fail "the first window did not appear"

log="$data/Log/zelvane_down.log"
[ -f "$log" ] || fail "no log file at $log"
# Every record: date, time with milliseconds, a blank, the message, a line end;
# every line after the first opens with the blank the layout writes.
python3 - "$log" <<'PY' || fail "log layout"
import re, sys
text = open(sys.argv[1], "rb").read().decode("latin-1")
assert text.endswith("\n "), repr(text[-20:])
records = text[:-2].split("\n ")
pat = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} \S.*$")
bad = [r for r in records if not pat.match(r)]
assert not bad, bad
assert any(r.endswith(" LoadResZipFile") for r in records), records
PY

# Another program's minimised window with the same title, made after the
# installer's so that it comes first in a search by title alone.
ready=$build/startup-decoy.ready
rm -f "$ready"
ZV_WINE_TIMEOUT=90 "$run" "$decoy" "$title" "$(winepath -w "$ready")" &
decoy_pid=$!
for _ in $(seq 150); do [ -f "$ready" ] && break; sleep 0.2; done
[ -f "$ready" ] || fail "the decoy window did not appear"

# A second start while the first runs ends with -1 and leaves the first alone,
# and brings the installer's own window forward, never the decoy.
ZV_WINE_TIMEOUT=60 "$run" "$exe"
rc=$?
[ "$rc" -eq 255 ] || fail "second instance exit code $rc, expected -1 (255)"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
wine taskkill /IM decoy_window.exe >/dev/null 2>&1
wait "$decoy_pid"
rc=$?
[ "$rc" -eq 0 ] || fail "the decoy window was touched by the second start (exit $rc)"

# A close request from outside is the user's: the question comes, Yes ends it with 0.
wine taskkill /IM zelvane.exe >/dev/null 2>&1
answered=
for _ in $(seq 100); do
  for w in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" != 650 ]; then
      xdotool mousemove $((X + 5)) $((Y + 5)) click 1 sleep 0.3 key y
      answered=1
      break 2
    fi
  done
  sleep 0.2
done
[ -n "$answered" ] || fail "no close question after the close request"
wait "$first"
rc=$?
[ "$rc" -eq 0 ] || fail "first instance exit code $rc after close, expected 0"
echo "startup: data folder, log layout, single instance: ok"
