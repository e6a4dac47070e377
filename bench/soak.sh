#!/usr/bin/env bash
# A wall left alone for a while with the faults a factory wall meets, on a
# schedule: three 1280x720 monitors with Chromium pages (a panel on the
# middle one), signed in, and every minute one of
#   - a page's renderer killed,            - a Brovia killed,
#   - the shared browser's host killed,    - a monitor unplugged and plugged back,
#   - the pages' server down for a minute, - the cloud service not answering one
#                                            keep-alive, the question answered 否;
# beside them 500 --status calls and 50 --reload's spread over the run.
# It prints Panoview's resident memory, open descriptors and threads at the
# start, after the first round of every fault and at the end, the faults and how many were recovered (every page live
# again within 60 s), the longest time any page was not live, and what is left
# after sign-out and exit: processes, page profiles, sockets, and the user's
# own new entries in /tmp.
# Not a test: run it by hand (after make build), e.g.
#   bench/soak.sh 60        # minutes
set -euo pipefail
minutes=${1:-10}
((minutes >= 1)) || { echo "usage: bench/soak.sh MINUTES" >&2; exit 2; }
source "$(dirname "$0")/support/wall.sh"
tmp_before=$(own_tmp)
wall_setup
panoview_start
sign_in
waitfor 600 all_live || { echo "the wall did not light" >&2; status >&2; exit 1; }

sample() { # resident KiB, descriptors, threads of Panoview
    echo "$(awk '/^VmRSS/ {print $2}' /proc/$pv/status) $(ls /proc/$pv/fd | wc -l) $(awk '/^Threads/ {print $2}' /proc/$pv/status)"
}
read -r rss0 fds0 threads0 <<<"$(sample)"

# --- the faults -----------------------------------------------------------------
faults=0 recovered=0
declare -A fault_count
kill_renderer() {
    local p
    for p in $(mine brovia-host) $(mine Brovia); do
        for c in $(family "$p"); do
            tr '\0' ' ' <"/proc/$c/cmdline" 2>/dev/null | grep -q -- '--type=renderer' &&
                { kill -KILL "$c"; return 0; }
        done
    done
    return 1
}
kill_brovia() { kill -KILL "$(mine Brovia | shuf -n 1)"; }
kill_host() { kill -KILL "$(mine brovia-host | head -n 1)"; }
watched_pause() { # seconds, the pages watched meanwhile
    local i
    for ((i = 0; i < $1; i++)); do watch_pages; sleep 1; done
}
unplug_monitor() {
    xrandr --delmonitor WALL2 >/dev/null
    watched_pause 5
    xrandr --setmonitor WALL2 1280/338x720/190+2560+0 none >/dev/null
}
page_server_down() {
    kill -USR1 "$web_pid"
    watched_pause 60
    kill -USR2 "$web_pid"
}
keepalive_fails() {
    kill -USR1 "$svc_pid"
    local box=""
    find_box() { box=$(xdotool search --onlyvisible --name '^提示$' | head -n 1); [[ -n $box ]]; }
    # The next keep-alive, and its request running into its time limit.
    waitfor 900 find_box || true
    kill -USR2 "$svc_pid"
    [[ -n $box ]] && xdotool windowactivate --sync "$box" key n 2>/dev/null
    [[ -n $box ]]
}
schedule=(kill_renderer kill_brovia kill_host unplug_monitor page_server_down keepalive_fails)

# The longest time a page was not live, from the status lines seen.
declare -A dark_since
longest_dark=0
watch_pages() {
    local s t=$(now) line entry state
    s=$(status) || return 0
    while read -r _ entry _ _ state _; do
        if [[ $state == live || $state == off ]]; then
            if [[ -n ${dark_since[$entry]:-} ]]; then
                ((t - dark_since[$entry] > longest_dark)) && longest_dark=$((t - dark_since[$entry]))
                # Each stretch over 20 s, with the faults before it in faults.log.
                ((t - dark_since[$entry] > 20)) &&
                    echo "$(date -u +%H:%M:%S) entry $entry not live for $((t - dark_since[$entry])) s" >>"$work/faults.log"
                unset "dark_since[$entry]"
            fi
        else
            [[ -n ${dark_since[$entry]:-} ]] || dark_since[$entry]=$t
        fi
    done < <(awk '$1 == "entry"' <<<"$s")
}

start=$(now)
end=$((start + minutes * 60))
reloads=0
next_fault=$((start + 20))
f=0
while (($(now) < end)); do
    watch_pages
    if ((reloads < 50 && $(now) >= start + (reloads + 1) * minutes * 60 / 51)); then
        if ((reloads % 2)); then ask --reload WALL0 >/dev/null || true; else ask --reload >/dev/null || true; fi
        echo "$(date -u +%H:%M:%S) reload $((reloads + 1))" >>"$work/faults.log"
        reloads=$((reloads + 1))
    fi
    if (($(now) >= next_fault)); then
        name=${schedule[f % ${#schedule[@]}]}
        f=$((f + 1))
        echo "$(date -u +%H:%M:%S) $name" >>"$work/faults.log"
        if $name; then
            faults=$((faults + 1))
            fault_count[$name]=$((${fault_count[$name]:-0} + 1))
            # Recovered: every page live again within 60 s of the fault's end.
            for _ in $(seq 60); do
                watch_pages
                all_live && { recovered=$((recovered + 1)); break; }
                sleep 1
            done
        fi
        next_fault=$(($(now) + 60))
        # After the first round of every fault, every path has run once.
        ((f == ${#schedule[@]})) && read -r rssw fdsw threadsw <<<"$(sample)"
    fi
    sleep 1
done
# The rest of the 500 status calls.
while ((status_calls < 500)); do status >/dev/null || true; done
watch_pages
read -r rss1 fds1 threads1 <<<"$(sample)"

# --- sign-out, exit and what is left -------------------------------------------------
sign_out || true
kill -TERM $pv
waitfor 100 test ! -d /proc/$pv || true
sleep 2
left_processes=$( (mine Brovia; mine brovia-host; mine panoview) | wc -l)
left_chromium=$(pgrep -f -- "--user-data-dir=$profiles/" | wc -l || true)
left_profiles=$(find "$profiles" -mindepth 1 -maxdepth 1 -name "brovia-profile-*" 2>/dev/null | wc -l || true)
left_sockets=$(find "$work/run" -type s | wc -l)
left_tmp=$(comm -13 <(echo "$tmp_before") <(own_tmp) | grep -c . || true)

echo "soak of $minutes min on three Chromium pages (shared browser), panel on the middle monitor"
printf '%-34s %12s %12s %12s\n' "" start "first round" end
printf '%-34s %9s KiB %9s KiB %9s KiB\n' "panoview resident memory" "$rss0" "${rssw:--}" "$rss1"
printf '%-34s %12s %12s %12s\n' "panoview open descriptors" "$fds0" "${fdsw:--}" "$fds1"
printf '%-34s %12s %12s %12s\n' "panoview threads" "$threads0" "${threadsw:--}" "$threads1"
for name in "${schedule[@]}"; do printf '  fault %-26s %d\n' "$name" "${fault_count[$name]:-0}"; done
echo "faults $faults, recovered $recovered (every page live within 60 s)"
echo "status calls $status_calls, reloads $reloads"
echo "longest time a page was not live: ${longest_dark} s"
grep 'not live for' "$work/faults.log" | sed 's/^/  /' || true
echo "left after sign-out and exit: processes $left_processes, chromium $left_chromium," \
    "profiles $left_profiles, sockets $left_sockets, new entries in /tmp $left_tmp"
