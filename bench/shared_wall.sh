#!/usr/bin/env bash
# One Chromium for the wall against one Chromium per monitor, on a virtual
# wall of whole 1280x720 monitors with the stand-in cloud service, signed in
# through the login dialog as an operator does:
#   - Enter in the login dialog to every page's "page live" state report
#     (each Brovia's log, see wall/PageReport.h);
#   - memory of the whole wall (every Brovia, brovia-host and every process
#     below them, as its proportional share, Pss from smaps_rollup) per
#     monitor, SETTLE seconds after the last page came up.
# Both models (BROVIA_SHARED unset and BROVIA_SHARED=0) at each size, one
# after the other. PANEL=INDEX:HEIGHT puts a panel (trayer, the tray host)
# along the bottom of monitor INDEX, whose work area it makes HEIGHT pixels
# shorter. DESKTOP=mutter (or gnome-shell, kwin, sway) runs the wall on that
# compositor's XWayland (scripts/waywall) instead of an X server with
# openbox. Not a test: run it by hand, e.g.
#   [PANEL=0:40] [DESKTOP=mutter] bench/shared_wall.sh [MONITOR_COUNTS...]   (default: 3 8)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
settle=${SETTLE:-12}
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(3 8)
[[ -x /usr/bin/chromium ]] || { echo "needs Debian's Chromium" >&2; exit 1; }
now() { date +%s%N; }
waitfor() { # bound in twentieths of a second, command...
    local bound=$1 k
    shift
    for ((k = 0; k < bound; k++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
    return 1
}
family() {
    local c
    echo "$1"
    for c in $(pgrep -P "$1" || true); do family "$c"; done
}
work=""
pids=()
wall_script=xwall
[[ -n ${DESKTOP:-} ]] && wall_script=waywall
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    if [[ -n $work ]]; then
        for p in $(wall_tops); do kill -KILL "$p" 2>/dev/null || true; done
        rm -rf "$work"
    fi
    [[ -n ${DISPLAY:-} ]] && "$root/scripts/$wall_script" stop "$DISPLAY" >/dev/null 2>&1 || true
    pids=()
}
trap cleanup EXIT
# This run's Brovias and its host (by the program's copy and its socket).
wall_tops() {
    local p
    for p in $(pgrep -x Brovia || true); do
        [[ $(readlink "/proc/$p/exe" 2>/dev/null) == "$work/Brovia" ]] && echo "$p"
    done
    for p in $(pgrep -x brovia-host || true); do
        tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q -- "$work/run/" && echo "$p"
    done
    return 0
}

# The running copy's word for each monitor: "PID STATE" per line.
page_states() {
    XDG_RUNTIME_DIR="$work/run" "$work/panoview" --status 2>/dev/null |
        awk '/^entry/ {for (i = 1; i <= NF; i++) if ($i == "pid") print $(i + 1), $5}'
}
# Every monitor live, each in a Brovia other than those named.
all_live_anew() { # monitors, old pids...
    local n=$1 states
    shift
    states=$(page_states)
    [[ $(grep -c ' live$' <<<"$states") -eq $n ]] || return 1
    local p
    for p in "$@"; do grep -q "^$p " <<<"$states" && return 1; done
    return 0
}
# The Brovias whose page is in the shared browser: no Chromium of their own
# below them (a page beside a panel has one).
shared_brovias() {
    local p
    for p in $(page_states | awk '{print $1}'); do
        family "$p" | while read -r q; do tr '\0' ' ' <"/proc/$q/cmdline" 2>/dev/null; echo; done |
            grep -q '^/usr/lib/chromium/chromium ' || echo "$p"
    done
}
# The shared wall's recovery (appended to the results, one line each): a
# killed Brovia of the shared browser to its window closed, and the killed
# host to every page live again, those of the shared browser in new Brovias.
recovery() { # monitors
    local n=$1 host chromium brovia t0 shared m
    host=$(wall_tops | while read -r p; do
        [[ $(cat "/proc/$p/comm" 2>/dev/null) == brovia-host ]] && echo "$p"; done || true)
    chromium=$(pgrep -P "$host" | while read -r q; do
        tr '\0' ' ' <"/proc/$q/cmdline" | grep -q -- --type= || echo "$q"; done || true)
    chromium=${chromium%%$'\n'*}
    shared=$(shared_brovias)
    m=$(wc -w <<<"$shared")
    windows() { xdotool search --onlyvisible --pid "$chromium" 2>/dev/null | wc -l; }
    one_fewer() { [[ $(windows) -eq $((m - 1)) ]]; }
    brovia=${shared%%$'\n'*}
    t0=$(now)
    kill -KILL "$brovia"
    if waitfor 200 one_fewer; then
        recoveries+=("| $n | a killed Brovia to its window closed | $((($(now) - t0) / 1000000)) ms |")
    else
        recoveries+=("| $n | a killed Brovia to its window closed | (not within 10 s; $(windows) windows) |")
    fi
    waitfor 1200 all_live_anew "$n" "$brovia" || true
    local old
    old=$(shared_brovias)
    t0=$(now)
    kill -KILL "$host"
    # shellcheck disable=SC2086
    if waitfor 1200 all_live_anew "$n" $old; then
        recoveries+=("| $n | the killed host to every page live again | $((($(now) - t0) / 1000000)) ms |")
    else
        recoveries+=("| $n | the killed host to every page live again | (not within 60 s) |")
    fi
}
recoveries=()

measure() { # monitors, model (shared|own)
    local n=$1 model=$2 monitors="" entries="" i
    for ((i = 0; i < n; i++)); do monitors+="${monitors:+,}1280x720"; done
    work=$(mktemp -d)
    local out
    local panel=() line
    [[ -n ${PANEL:-} ]] && panel=(--panel "$PANEL")
    if [[ -n ${DESKTOP:-} ]]; then
        # The pages are X11 clients of the compositor's XWayland.
        out=$("$root/scripts/waywall" start "$DESKTOP" --outputs "$n" --size 1280x720 --owner $$)
        unset WAYLAND_DISPLAY
    else
        out=$("$root/scripts/xwall" start --monitors "$monitors" --primary 0 "${panel[@]}" --owner $$)
    fi
    while read -r line; do [[ $line == *=* ]] && export "${line?}"; done <<<"$out"
    "$bin/cloud-service" 0 "$root/companions/cloud-service/accounts.json" >"$work/service.out" 2>/dev/null &
    pids+=($!)
    waitfor 200 test -s "$work/service.out"
    local svc=http://127.0.0.1:$(head -n 1 "$work/service.out")
    local page="$svc/KnitUI/W_Factory.html?token=%s&flag=multiscreen"
    for ((i = 0; i < n; i++)); do
        entries+="${entries:+, }{\"pri\": \"$([[ $i -eq 0 ]] && echo true || echo false)\", \"url\": \"$page\"}"
    done
    echo "{\"userid\": \"admin\", \"address\": \"$svc\", \"factoryid\": \"F001\", \"web\": \"$svc\", \"srurl\": [$entries]}" >"$work/Panoview.config"
    cp "$bin/panoview" "$bin/Brovia" "$bin/brovia-plain" "$bin/brovia-host" "$work/"
    mkdir -m 700 "$work/run" "$work/state"
    local shared=()
    [[ $model == own ]] && shared=(BROVIA_SHARED=0)
    env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/run" XDG_STATE_HOME="$work/state" PANOVIEW_METRICS="$work/panoview.prom" \
        BROVIA_NO_CHROMIUM=0 "${shared[@]}" "$work/panoview" >"$work/panoview.log" 2>&1 &
    local pv=$!
    pids+=($pv)
    local login=""
    find_login() { login=$(xdotool search --onlyvisible --name '^Loomhaven监控' | head -n 1); [[ -n $login ]]; }
    waitfor 400 find_login
    xdotool windowactivate --sync "$login" >/dev/null 2>&1 || true
    xdotool mousemove --window "$login" 134 266 click 1
    xdotool type --delay 20 123456
    local t0
    t0=$(now)
    xdotool key Return
    all_live() {
        local logs
        logs=$(grep -l "page live" "$work"/state/panoview/brovia-*,0.log 2>/dev/null | wc -l)
        [[ $logs -eq $n ]]
    }
    if ! waitfor 1800 all_live; then
        echo "| $n | $model | (not every page came up) | |"
        for f in "$work/panoview.log" "$work"/state/panoview/*.log; do echo "== $f"; tail -n 5 "$f"; done >&2 || true
        kill -TERM "$pv" 2>/dev/null || true
        sleep 3
        cleanup
        return
    fi
    local t1
    t1=$(now)
    if (((t1 - t0) / 1000000 > 10000)); then
        # A slow light-up: what the pages that were not live at once went through.
        for f in "$work"/state/panoview/brovia-*,0.log; do
            grep -q "retrying\|hung\|crashed" "$f" && { echo "== $f"; grep "^Brovia" "$f"; } >&2
        done
    fi
    sleep "$settle"
    local total=0 count=0 browsers=0 top q r line kind
    for top in $(wall_tops); do
        for q in $(family "$top"); do
            r=$(awk '/^Pss:/ {print $2}' "/proc/$q/smaps_rollup" 2>/dev/null || echo 0)
            total=$((total + ${r:-0}))
            if [[ -n ${BREAKDOWN:-} ]]; then
                # What each process is: its program and Chromium's process type.
                line=$(tr '\0' ' ' <"/proc/$q/cmdline" 2>/dev/null || true)
                kind=$(grep -o -- '--\(type\|utility-sub-type\)=[^ ]*' <<<"$line" | tr '\n' ' ' || true)
                kind+=$(grep -o -- '--extension-process' <<<"$line" || true)
                echo "  $model $n: $((${r:-0} / 1024)) MiB ${line%% *} $kind" >&2
            fi
            count=$((count + 1))
            # A Chromium browser process: Chromium's own, without --type=.
            line=$(tr '\0' ' ' <"/proc/$q/cmdline" 2>/dev/null || true)
            if [[ $line == /usr/lib/chromium/chromium\ * && $line != *--type=* ]]; then
                browsers=$((browsers + 1))
            fi
        done
    done
    echo "| $n | $model | $(((t1 - t0) / 1000000)) ms | $((total / 1024 / n)) MiB | $((total / 1024)) MiB | $count | $browsers |"
    [[ $model == shared ]] && recovery "$n"
    kill -TERM "$pv" 2>/dev/null || true
    wait "$pv" 2>/dev/null || true
    gone() { [[ -z $(wall_tops) ]]; }
    waitfor 200 gone || echo "(the wall did not end by itself)" >&2
    cleanup
}

echo "| monitors | browser | Enter to every page live | wall Pss per monitor | wall Pss | processes | browser processes |"
echo "|---|---|---|---|---|---|---|"
for n in "${sizes[@]}"; do
    measure "$n" shared
    measure "$n" own
done
echo
echo "| monitors | recovery of the shared wall | time |"
echo "|---|---|---|"
for line in "${recoveries[@]}"; do echo "$line"; done
