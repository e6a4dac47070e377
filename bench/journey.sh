#!/usr/bin/env bash
# The operator's journey measured on a virtual wall, with the stand-in cloud
# service and plain Brovia windows (BROWSER=chromium for Chromium pages):
#   - start-up: exec of panoview to its tray icon docked in the panel;
#   - a killed Brovia to its replacement's window mapped over the same place;
#   - a monitor change to the last window placed again;
#   - idle CPU time and resident memory of panoview while signed in;
#   - memory of the whole wall (every Brovia and what it started, as its
#     proportional share), per monitor;
#   - with Chromium, bench/shared_wall.sh 3 8: one shared browser against
#     a browser per monitor, Enter to every page live and memory per monitor.
# The login dialog's Enter to the lit wall is bench_login_wall's (built in
# build/bin). Not a test: run it by hand, e.g.
#   bench/journey.sh [IDLE_SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
idle=${1:-120}
work=$(mktemp -d)
export BROVIA_NO_CHROMIUM=1
[[ ${BROWSER:-plain} == chromium ]] && export BROVIA_NO_CHROMIUM=0
# The wall's page browsers: the Brovia processes of this run's own copy.
brovias() {
    local p
    for p in $(pgrep -x Brovia); do
        [[ $(readlink "/proc/$p/exe" 2>/dev/null) == "$work/Brovia" ]] && echo "$p"
    done
    return 0
}
# A process and everything below it (Chromium's processes under Brovia).
family() {
    local c
    echo "$1"
    for c in $(pgrep -P "$1" || true); do family "$c"; done
}
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in $(brovias); do kill -KILL "$p" 2>/dev/null || true; done
    [[ -n ${DISPLAY:-} ]] && "$root/scripts/xwall" stop "$DISPLAY" >/dev/null 2>&1 || true
    [[ -n ${KEEP:-} ]] || rm -rf "$work"; [[ -n ${KEEP:-} ]] && echo "kept $work"
}
trap cleanup EXIT
now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }
waitfor() { # bound in tenths, command...
    local n=$1
    shift
    for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
    return 1
}

out=$("$root/scripts/xwall" start --monitors 1280x720,1280x720,1280x720 --primary 1 --panel 1:32 --owner $$)
export ${out?}
"$bin/cloud-service" 0 "$root/companions/cloud-service/accounts.json" >"$work/service.out" 2>/dev/null &
pids+=($!)
waitfor 200 test -s "$work/service.out"
port=$(head -n 1 "$work/service.out")
svc=http://127.0.0.1:$port
cp "$bin/panoview" "$bin/Brovia" "$bin/brovia-plain" "$bin/brovia-host" "$work/"
mkdir -m 700 "$work/run"
page="$svc/KnitUI/W_Factory.html?token=%s&flag=multiscreen"
cat >"$work/Panoview.config" <<CONFIG
{"userid": "admin", "address": "$svc", "factoryid": "F001", "web": "$svc",
 "srurl": [{"pri": "true", "url": "$page"}, {"pri": "false", "url": "$page"},
           {"pri": "false", "url": "$page"}]}
CONFIG

# Start-up to the tray icon.
t0=$(now)
env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/run" PANOVIEW_METRICS="$work/panoview.prom" "$work/panoview" >"$work/panoview.log" 2>&1 &
pv=$!
pids+=($pv)
# The tray icon docked in the panel (the login dialog may be mapped first).
icon_shown() { "$root/scripts/xwall" tray-icon $pv; }
waitfor 400 icon_shown
t1=$(now)
echo "start-up to tray icon:               $(ms $t0 $t1) ms"

login=""
find_login() { login=$(xdotool search --onlyvisible --name '^Loomhaven监控' | head -n 1); [[ -n $login ]]; }
waitfor 400 find_login
xdotool windowactivate --sync "$login" >/dev/null 2>&1 || true
# Into the password box (the template's 37,145 in dialog units), as an
# operator clicks it, then the password and Enter.
xdotool mousemove --window "$login" 134 266 click 1
xdotool type --delay 20 123456
xdotool key Return
three() { [[ $(brovias | wc -l) -eq 3 ]]; }
waitfor 600 three
sleep 2

# A killed Brovia to its replacement's window mapped.
victim=$(brovias | sed -n 1p)
t0=$(now)
kill -9 "$victim"
replaced() {
    local p
    for p in $(brovias); do
        [[ $p == "$victim" ]] && continue
        xdotool search --onlyvisible --pid "$p" >/dev/null 2>&1 && [[ $(brovias | wc -l) -eq 3 ]] &&
            ! kill -0 "$victim" 2>/dev/null && return 0
    done
    return 1
}
before=$(brovias | sort | tr '\n' ' ')
fresh_mapped() {
    local p q
    for p in $(brovias); do
        [[ " $before " == *" $p "* ]] && continue
        for q in $(family "$p"); do
            xdotool search --onlyvisible --pid "$q" >/dev/null 2>&1 && return 0
        done
    done
    return 1
}
waitfor 1200 fresh_mapped
t1=$(now)
echo "killed Brovia to replacement mapped: $(ms $t0 $t1) ms (of which 1000 ms back-off)"

# A monitor change to the last window placed again.
sleep 2
t0=$(now)
xrandr --delmonitor WALL2 >/dev/null 2>&1
xrandr --setmonitor WALL2 1000/264x720/190+2560+0 none >/dev/null 2>&1
placed() {
    local w
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 1000' && return 0
    done
    return 1
}
waitfor 1200 placed
t1=$(now)
echo "monitor change to window placed:     $(ms $t0 $t1) ms (of which 500 ms settling)"

# Idle CPU and memory while signed in.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
c0=$(ticks $pv)
sleep "$idle"
c1=$(ticks $pv)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pv/status")
echo "idle CPU of panoview over ${idle} s:   $(((c1 - c0) * 1000 / hz)) ms"
echo "resident memory of panoview:         $((rss / 1024)) MiB"
# The wall's memory as its proportional share (Pss): the pages' processes
# share libraries and Chromium's shared memory, which a sum of resident sizes
# would count once per process.
total=0
for p in $(brovias); do
    for q in $(family "$p"); do
        r=$(awk '/^Pss:/ {print $2}' "/proc/$q/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${r:-0}))
    done
done
echo "memory of the wall (Pss):            $((total / 1024 / 3)) MiB per monitor (${BROWSER:-plain})"
# With Chromium pages: the wall's memory and light-up at 3 and 8 monitors,
# one shared browser against a browser per monitor.
if [[ ${BROWSER:-plain} == chromium ]]; then
    echo
    "$root/bench/shared_wall.sh" 3 8
fi
