#!/bin/bash
# Runs the real program under a virtual X display with a system tray, the
# way a user meets it: the icon docks, a click opens the menu, "Quit" ends
# the program with exit code 0, and a second start while it runs leaves at
# once without a second icon. Saves a screenshot of the open menu.
#
#   gui_check.sh <program> [default screenshot directory]
#
# The screenshot goes to $QUOR_ARTIFACTS_DIR, else to the given directory,
# else to the current one. Needs Xvfb, trayer, xdotool, xwininfo and
# ImageMagick's import.

set -u

program=${1:?usage: gui_check.sh <program> [screenshot directory]}
artifacts=${QUOR_ARTIFACTS_DIR:-${2:-$PWD}}

work=$(mktemp -d "${TMPDIR:-/tmp}/quor-gui.XXXXXX")
xvfbPid=""
trayerPid=""
appPid=""
secondPid=""

cleanup()
{
    for pid in $secondPid $appPid $trayerPid $xvfbPid; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null
            for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -9 "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail()
{
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Polls a command for up to $1 seconds.
waitFor()
{
    local seconds=$1; shift
    local tries=$((seconds * 10))
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

for tool in Xvfb trayer xdotool xwininfo import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -x "$program" ] || fail "no program at $program"
mkdir -p "$artifacts" || fail "cannot create $artifacts"

# A free display of our own, whatever else runs on this machine. A server
# that is still going away can delete the socket of a new one on the same
# display number, so a display counts only once a client can reach it.
for _ in 1 2 3; do
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfbPid=$!
    if waitFor 10 test -s "$work/display"; then
        export DISPLAY=":$(head -n 1 "$work/display")"
        waitFor 5 xwininfo -root >/dev/null 2>&1 && break
    fi
    kill "$xvfbPid" 2>/dev/null
    wait "$xvfbPid" 2>/dev/null
    xvfbPid=""
    : >"$work/display"
done
[ -n "$xvfbPid" ] || fail "Xvfb did not start"

trayer --edge top --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
trayerPid=$!
waitFor 10 sh -c 'xdotool search --name "^panel$" >/dev/null 2>&1' || fail "trayer did not start"

rootWindow=$(xwininfo -root | awk '/Window id:/ { print $4 }')

# The program's windows (icon and menu), by the pid JUCE puts on them.
windowsOf() { xdotool search --pid "$1" 2>/dev/null; }

# Succeeds once the program's icon sits in the tray, visible and wider than a sliver.
iconDocked()
{
    local window parent width state
    for window in $(windowsOf "$appPid"); do
        parent=$(xwininfo -children -id "$window" 2>/dev/null | awk '/Parent window id:/ { print $4 }')
        width=$(xwininfo -id "$window" 2>/dev/null | awk '/Width:/ { print $2 }')
        state=$(xwininfo -id "$window" 2>/dev/null | awk '/Map State:/ { print $3 }')
        if [ -n "$parent" ] && [ "$parent" != "$rootWindow" ] && [ "${width:-0}" -ge 16 ] && [ "$state" = IsViewable ]; then
            icon=$window
            return 0
        fi
    done
    return 1
}

# Windows that belong to the program, by class, wherever they sit.
programWindowCount() { xwininfo -root -tree | grep -c '("QUOR Virtual Channels" "QUOR Virtual Channels")'; }

"$program" >"$work/program.log" 2>&1 &
appPid=$!
icon=""
waitFor 15 iconDocked || {
    kill -0 "$appPid" 2>/dev/null || fail "the program ended at start (is another copy running?)"
    fail "the icon never docked in the tray"
}
echo "icon docked: window $icon"

# A second start while the first runs: it must leave at once, quietly.
"$program" >"$work/second.log" 2>&1 &
secondPid=$!
waitFor 5 sh -c "! kill -0 $secondPid 2>/dev/null" || fail "a second start did not end"
wait "$secondPid"
secondStatus=$?
secondPid=""
[ "$secondStatus" -eq 0 ] || fail "a second start ended with exit code $secondStatus"
[ "$(programWindowCount)" -eq 1 ] || fail "a second start left a window behind"
kill -0 "$appPid" 2>/dev/null || fail "the first copy ended when the second started"
echo "second start: exit code 0, no second icon"

# Give the simulated mixer the moment it needs to show up in the menu.
sleep 2

menuOpen()
{
    menu=$(xwininfo -root -tree | awk '/"menu": \("QUOR Virtual Channels"/ { print $1; exit }')
    [ -n "$menu" ] && [ "$(xwininfo -id "$menu" 2>/dev/null | awk '/Map State:/ { print $3 }')" = IsViewable ]
}
menu=""
# On a loaded machine a click can land before the icon is ready for it: try again.
for _ in 1 2 3; do
    xdotool mousemove --window "$icon" 11 11 click 1
    waitFor 5 menuOpen && break
done
menuOpen || fail "clicking the icon opened no menu"
sleep 0.5
import -window root "$artifacts/menu.png" || fail "no screenshot"
echo "menu open: screenshot in $artifacts/menu.png"

# "Quit" is the last line of the menu.
# JUCE ignores a click that comes too soon after the pointer reached an item,
# so a click that came too early on a loaded machine is simply repeated.
eval "$(xdotool getwindowgeometry --shell "$menu")"
for _ in 1 2 3; do
    menuOpen || break
    xdotool mousemove --window "$menu" $((WIDTH / 2)) $((HEIGHT - 13))
    sleep 0.3
    xdotool click 1
    waitFor 5 sh -c "! kill -0 $appPid 2>/dev/null" && break
done
waitFor 5 sh -c "! kill -0 $appPid 2>/dev/null" || fail "the program did not end within a few seconds of Quit"
wait "$appPid"
status=$?
appPid=""
[ "$status" -eq 0 ] || fail "the program ended with exit code $status"
echo "quit: exit code 0"
echo "PASS"
