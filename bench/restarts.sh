#!/usr/bin/env bash
# Sign-ins, kill -9s and restarts, as a wall meets them over months: N times
# Panoview starts (ending the pages the killed run left), signs in, lights its
# three Chromium pages and is killed with SIGKILL; then a last run signs in,
# signs out and ends. It prints what is left: new entries in /tmp, page
# profiles, Chromium and page browser processes, sockets.
# Not a test: run it by hand (after make build), e.g.
#   bench/restarts.sh 20
set -euo pipefail
rounds=${1:-20}
source "$(dirname "$0")/support/wall.sh"
tmp_before=$(own_tmp)
profiles_before=$( (find "$profiles" -maxdepth 1 -name 'brovia-profile-*' 2>/dev/null || true) | wc -l)
wall_setup
lit=0
for ((round = 1; round <= rounds; round++)); do
    panoview_start
    sign_in
    if waitfor 900 all_live; then lit=$((lit + 1)); else echo "round $round: not lit" >&2; fi
    kill -KILL $pv
    wait $pv 2>/dev/null || true
done
panoview_start
sign_in
waitfor 900 all_live && lit=$((lit + 1))
sign_out || echo "the sign-out left page browsers" >&2
kill -TERM $pv
waitfor 100 test ! -d /proc/$pv || true
sleep 2
echo "$rounds kill -9s and restarts, then a sign-out: lit $lit of $((rounds + 1)) times"
echo "left: page browsers $( (mine Brovia; mine brovia-host) | wc -l)," \
    "Chromium processes $(pgrep -f -- "--user-data-dir=$profiles/" | wc -l || true)," \
    "profiles $(( $( (find "$profiles" -maxdepth 1 -name 'brovia-profile-*' 2>/dev/null || true) | wc -l) - profiles_before))," \
    "sockets $(find "$work/run" -type s | wc -l)," \
    "new entries in /tmp: $(comm -13 <(echo "$tmp_before") <(own_tmp) | grep -c . || true)"
comm -13 <(echo "$tmp_before") <(own_tmp) | sed 's/^/  \/tmp\//' || true
