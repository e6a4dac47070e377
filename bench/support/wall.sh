# What the wall benchmarks share, sourced by bench/soak.sh and
# bench/restarts.sh: a virtual wall of three 1280x720 monitors with a panel
# on the middle one, the stand-in cloud service (and a second one that serves
# the pages), this run's own copy of Panoview with Brovia and brovia-host and
# a configuration with a Chromium page on every monitor.
#   wall_setup             the wall, the services, the copy and its settings
#   panoview_start         starts the copy; its pid in $pv
#   sign_in                types the password into the login dialog
#   all_live               every monitor's page is live (--status)
#   mine PROGRAM           the running processes of this run's copy of PROGRAM
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=$root/build/bin
work=$(mktemp -d)
export XDG_STATE_HOME=$work/state BROVIA_NO_CHROMIUM=0
mkdir -p "$XDG_STATE_HOME"
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run PANOVIEW_METRICS=$work/panoview.prom
profiles=/tmp/panoview-$(id -u) # where the wall's Chromium profiles live
pids=()
pv=""
status_calls=0

mine() {
    local p
    for p in $(pgrep -x "$1" || true); do
        [[ $(readlink "/proc/$p/exe" 2>/dev/null) == "$work/$1" ]] && echo "$p"
    done
    return 0
}
family() {
    local c
    echo "$1"
    for c in $(pgrep -P "$1" || true); do family "$c"; done
}
wall_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in $(mine Brovia) $(mine brovia-host); do kill -KILL "$p" 2>/dev/null || true; done
    [[ -n ${DISPLAY:-} ]] && "$root/scripts/xwall" stop "$DISPLAY" >/dev/null 2>&1 || true
    [[ -n ${KEEP:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap wall_cleanup EXIT
now() { date +%s; }
# This user's entries in /tmp but for this run's own folder and its walls':
# what a run leaves there is told from what other users' programs make
# meanwhile.
own_tmp() {
    find /tmp -mindepth 1 -maxdepth 1 -user "$(id -u)" ! -path "$work" ! -name 'xwall-*' \
        -printf '%f\n' 2>/dev/null | sort
}
waitfor() { # tenths of a second, command...
    local n=$1
    shift
    for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
service() { # NAME: a stand-in service; its address in $NAME, its pid in $NAME_pid
    "$bin/cloud-service" 0 "$root/companions/cloud-service/accounts.json" >"$work/$1.out" 2>/dev/null &
    pids+=($!)
    eval "$1_pid=$!"
    waitfor 200 test -s "$work/$1.out"
    eval "$1=http://127.0.0.1:$(head -n 1 "$work/$1.out")"
}
wall_setup() {
    local out
    out=$("$root/scripts/xwall" start --monitors 1280x720,1280x720,1280x720 --primary 1 \
        --panel 1:32 --owner $$)
    export "${out?}"
    service svc
    service web
    cp "$bin/panoview" "$bin/Brovia" "$bin/brovia-plain" "$bin/brovia-host" "$work/"
    page() { echo "$web/$1?token=%s&flag=multiscreen"; }
    cat >"$work/Panoview.config" <<CONFIG
{"userid": "admin", "address": "$svc", "factoryid": "F001", "web": "$web",
 "srurl": [{"pri": "true", "url": "$(page KnitUI/W_Factory.html)"},
           {"pri": "false", "url": "$(page HosieryUI/A_MachineMonitor.html)"},
           {"pri": "false", "url": "$(page EmbrUI/D_OrderSchedule.html)"}]}
CONFIG
}
panoview_start() {
    env -u DBUS_SESSION_BUS_ADDRESS "$work/panoview" >>"$work/panoview.log" 2>&1 &
    pv=$!
    pids+=($pv)
}
ask() { "$work/panoview" "$@" 2>&1; }
status() {
    status_calls=$((status_calls + 1))
    ask --status
}
all_live() {
    local s
    s=$(status) || return 1
    [[ $(awk '$1 == "entry" && $5 != "live"' <<<"$s" | wc -l) -eq 0 &&
        $(awk '$1 == "entry"' <<<"$s" | wc -l) -eq 3 ]]
}
dialog=""
find_dialog() {
    dialog=$(xdotool search --onlyvisible --name '^Loomhaven监控' | head -n 1)
    [[ -n $dialog ]]
}
sign_in() {
    waitfor 300 find_dialog || { echo "no login dialog" >&2; return 1; }
    sleep 0.5
    xdotool windowactivate --sync "$dialog" 2>/dev/null || true
    xdotool mousemove --window "$dialog" 134 266 click 1
    xdotool type --delay 30 123456
    xdotool key Return
}
sign_out() { # through the login dialog, as the operator does
    ask --login >/dev/null || true
    waitfor 100 find_dialog && xdotool windowactivate --sync "$dialog" key Return 2>/dev/null
    waitfor 300 test -z "$(mine Brovia)"
}
