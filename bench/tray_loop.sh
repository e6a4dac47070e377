#!/usr/bin/env bash
# The tray's whole path, many times over, in a sanitizer build: each round is
# the tray suite (a wall of its own with trayer, the icon docked, the maker's
# site from the menu, Exit asked while the panel restarts and answered No,
# then Exit answered Yes with status 0). A heap fault at exit shows as a
# failed round; the address sanitizer's report is kept in the round's log.
# Not a test: run it by hand, after make test-asan builds build-asan, e.g.
#   bench/tray_loop.sh 200              # rounds
#   bench/tray_loop.sh 200 build        # the same with the ordinary build
set -uo pipefail
rounds=${1:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${2:-build-asan}
suite=$build/bin/e2e_tray
[[ -x $suite ]] || { echo "no $suite: build it first" >&2; exit 2; }
logs=$(mktemp -d)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
passed=0 failed=0 reports=0
start=$(date +%s)
for ((round = 1; round <= rounds; round++)); do
    log=$logs/round-$round.log
    keep=0
    if timeout 300 "$suite" >"$log" 2>&1; then passed=$((passed + 1)); else
        failed=$((failed + 1)) keep=1
        echo "round $round failed: $log" >&2
    fi
    if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|malloc_consolidate|double free|corrupted' "$log"; then
        reports=$((reports + 1)) keep=1
        echo "round $round: a sanitizer or heap report in $log" >&2
    fi
    ((keep)) || rm -f "$log"
done
echo "$rounds rounds of the tray path with $(basename "$build"): passed $passed, failed $failed," \
    "sanitizer or heap reports $reports, $(($(date +%s) - start)) s; logs of failed rounds in $logs"
((failed == 0 && reports == 0))
