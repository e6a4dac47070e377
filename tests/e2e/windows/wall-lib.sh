# What the Windows wall suites share, sourced by each (wall-test,
# installer-test) once it has set wine, cloud, accounts and root: the
# pass/fail count, a work folder removed at the end, the three-monitor wall
# of scripts/winwall (1920x1080 each, a 32-pixel panel on the first) with
# its Wine prefix in code page 936, the Linux stand-in cloud service on a
# port of its own, and the steps an operator takes, done with xdotool.
# shellcheck shell=bash

failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d "${TMPDIR:-/tmp}/winwall-test.XXXXXX")
cloud_pid= wall=
cleanup() {
  "$(dirname "$wine")/wineserver" -k 2>/dev/null
  [[ -n $cloud_pid ]] && kill "$cloud_pid" 2>/dev/null
  [[ -n $wall ]] && "$root/scripts/winwall" stop "$wall"
  rm -rf "$work"
}
trap cleanup EXIT

wall=$("$root/scripts/winwall" start --monitors 3 --size 1920x1080 --panel 32) || exit 1
export "$wall"
wall=${DISPLAY}
export WINE=$wine WINEARCH=win32 WINEPREFIX=$work/prefix LOCPATH=$work/locale LANG=zh_CN.UTF-8
export WINEDLLOVERRIDES='winemenubuilder.exe,mscoree,mshtml=d'
"$root/scripts/winwall" locale "$work/locale"
"$root/scripts/winwall" prefix "$WINEPREFIX"

"$cloud" 0 "$accounts" >"$work/cloud.log" 2>&1 &
cloud_pid=$!
for _ in $(seq 100); do
  port=$(head -1 "$work/cloud.log" 2>/dev/null | grep -o '[0-9]\+$') && [[ -n $port ]] && break
  sleep 0.1
done
[[ -n ${port:-} ]] || { echo "${0##*/}: the cloud service did not start"; exit 1; }
service=http://127.0.0.1:$port
page() { printf '%s/%s/%s.html?token=%%s&flag=multiscreen%s' "$service" "$1" "$2" "$3"; }
# The wall's configuration in DIR: three pages of the stand-in service.
write_config() {
  cat >"$1/Panoview.config" <<CONFIG
{
	"userid":	"admin",
	"address":	"$service",
	"factoryid":	"F001",
	"web":	"$service",
	"srurl":	[{
			"pri":	"true",
			"url":	"$(page KnitUI W_Factory "")"
		}, {
			"pri":	"false",
			"url":	"$(page HosieryUI A_MachineMonitor "&areaname=A|B")"
		}, {
			"pri":	"false",
			"url":	"$(page EmbrUI D_OrderSchedule "&orderid=1&autoscroll=y")"
		}]
}
CONFIG
}

# Starts Panoview.exe of the folder panoview_dir (default $work/bin) with
# the words, its debugger output into LOG; its status goes to LOG.status
# when it ends.
start_panoview() {
  local log=$1
  shift
  rm -f "$log.status"
  (cd "${panoview_dir:-$work/bin}" && WINEDEBUG=-all,warn+debugstr "$wine" Panoview.exe "$@" >"$log" 2>&1
   echo $? >"$log.status") &
}
# Waits (SECONDS, 30 at most by default) for a window of that exact name;
# prints its id.
window_named() {
  local id
  for _ in $(seq $((${2:-30} * 10))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# Waits (30 s at most) for Panoview's status; prints it.
status_of() {
  for _ in $(seq 300); do
    [[ -f $1.status ]] && { cat "$1.status"; return 0; }
    sleep 0.1
  done
  echo timeout
}
# The absolute geometry of a window: "X Y WxH".
geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                           /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w "x" h}'
}
# Signs in as an operator does: the password typed into the login dialog
# after the keys that bring the focus to its box (from the button: Tab to the
# account, Tab to the password), then Enter; prints the Brovia.exe windows'
# geometries once three are there.
sign_in() {
  local login=$1 browsers=()
  shift
  xdotool windowactivate --sync "$login" key "$@"
  xdotool type --delay 50 123456
  xdotool key Return
  for _ in $(seq 300); do
    mapfile -t browsers < <(xdotool search --onlyvisible --name '^Brovia - ' 2>/dev/null)
    ((${#browsers[@]} >= 3)) && break
    sleep 0.1
  done
  for w in "${browsers[@]}"; do geometry "$w"; done | sort -n
}
# Waits (60 s at most: the keep-alive ticks every 30 s) for the question of
# a failed keep-alive, named by its caption; prints its window.
keep_alive_question() { window_named "$1" 60; }
no_browsers_left() {
  for _ in $(seq 100); do
    [[ -z $(xdotool search --onlyvisible --name '^Brovia - ' 2>/dev/null) ]] && return 0
    sleep 0.1
  done
  return 1
}

expected_work=("0 0 1920x1048" "1920 0 1920x1048" "3840 0 1920x1048")
