#!/usr/bin/env bash
# Measures the HTTP client against curl on a loopback nginx started here (on a
# port found free, stopped when the script ends):
#   - a 1 GiB download: http_transfer download (which reports success only
#     once the file's bytes and name are on the disk) against `curl -o`
#     followed by `sync` of that file (the same promise), and against plain
#     `curl -o` (which leaves the bytes in the page cache)
#   - a 1 GiB multipart upload to the same sink: http_transfer upload against curl -F
#   - 1000 sequential small JSON POSTs: http_transfer posts against curl_posts
#     (libcurl with a fresh easy handle for each request)
# The contenders of a measurement run in turn, RUNS rounds, the order rotated
# each round; each one's median wall time counts. Every download starts with
# no target file and nothing dirty in the page cache. Prints every run, the
# throughput ratios ours/curl, the small-request time ratio and our peak
# resident memory.
#
# Usage: bench/http_bench.sh [BUILD_DIR]     (default: build; programs in BUILD_DIR/bin)
# Environment: HTTP_BENCH_MIB (file size, default 1024), HTTP_BENCH_POSTS
# (default 1000), HTTP_BENCH_RUNS (default 5), HTTP_BENCH_PARTS (default
# "download upload posts"), HTTP_BENCH_STRACE=1 (afterwards one download of
# ours under `strace -f -c -w`: where its wall time goes, by system call).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/bin
mib=${HTTP_BENCH_MIB:-1024}
posts=${HTTP_BENCH_POSTS:-1000}
runs=${HTTP_BENCH_RUNS:-5}
parts=${HTTP_BENCH_PARTS:-download upload posts}
nginx=/usr/sbin/nginx

for program in "$bin/http_transfer" "$bin/curl_posts" "$nginx" "$(command -v curl || true)"; do
  if [[ ! -x "$program" ]]; then
    echo "missing: ${program:-curl} (build the http_transfer and curl_posts targets; nginx-light and curl from scripts/bootstrap)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/panoview-http-bench.XXXXXX)
nginx_pid=""
cleanup() {
  if [[ -n "$nginx_pid" ]]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A port nobody listens on; nginx is retried on another when it loses a race.
free_port() {
  local port
  for _ in $(seq 200); do
    port=$((20000 + RANDOM % 12000)) # below the ephemeral range of outgoing connections
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

start_nginx() {
  mkdir -p "$work/www" "$work/temp"
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    client_max_body_size 0;
    location = /sink { default_type application/json; return 200 '{"rt":1}'; }
    location = /Login { default_type application/json; return 200 '{"rt":1,"data":"token"}'; }
  }
}
EOF
    "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
    nginx_pid=$!
    for _ in $(seq 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        return 0
      fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  done
  echo "nginx did not start:" >&2
  cat "$work/error.log" >&2
  return 1
}

now() { date +%s.%N; }

median() { tr ' ' '\n' | grep . | sort -g | awk '{ t[NR] = $1 } END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }

# alternate CONTENDER...: runs the contenders (shell functions) in turn, RUNS
# rounds, the first one of each round moved one place on; before each run the
# function prepare_CONTENDER, after it check_CONTENDER, when defined, both
# untimed. Sets median_CONTENDER (seconds) and runs_CONTENDER (every time).
alternate() {
  local names=("$@") n=$# round i name start end took
  for name in "${names[@]}"; do printf -v "runs_$name" '%s' ""; done
  for ((round = 0; round < runs; round++)); do
    for ((i = 0; i < n; i++)); do
      name=${names[(round + i) % n]}
      if declare -F "prepare_$name" >/dev/null; then "prepare_$name"; fi
      start=$(now)
      "$name" >"$work/out" 2>"$work/err" || {
        echo "failed: $name" >&2
        cat "$work/err" >&2
        return 1
      }
      end=$(now)
      if declare -F "check_$name" >/dev/null; then "check_$name"; fi
      took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
      local -n all="runs_$name"
      all+="$took "
      unset -n all
    done
  done
  for name in "${names[@]}"; do
    local -n all="runs_$name"
    printf -v "median_$name" '%s' "$(median <<<"$all")"
    unset -n all
  done
}

peak_rss() { sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' "$work/err" | tail -1; }
# The largest peak of all runs of ours.
rss_max() {
  local -n max=$1
  local now
  now=$(peak_rss)
  if [[ -z "$max" || "${now:-0}" -gt "$max" ]]; then max=$now; fi
}
# Every byte of the file must have moved, by our count and by curl's.
check_moved() {
  local moved
  moved=$(sed -n "s/.*moved=\([0-9]*\).*/\1/p; s/^curl_uploaded=\([0-9]*\)$/\1/p" "$work/err" "$work/out" | tail -1)
  if [[ "$moved" -lt "$1" ]]; then
    echo "$2 moved ${moved:-nothing} of $1 bytes" >&2
    exit 1
  fi
}
has_part() { [[ " $parts " == *" $1 "* ]]; }

start_nginx
url="http://127.0.0.1:$port"
file="$work/www/big.bin"
got="$work/got.bin"
head -c $((mib * 1048576)) /dev/zero | tr '\0' 'k' >"$file"
sync "$file"
bytes=$(stat -c %s "$file")
echo "nginx on 127.0.0.1:$port, file of $mib MiB, $runs alternating rounds, median counted"

# The downloads. Each one starts without the target and with the page cache
# clean, so no run pays for the one before.
fresh_target() {
  rm -f "$got"
  sync
}
ours_download() { "$bin/http_transfer" download "$url/big.bin" "$got"; }
curl_sync() { curl -s -f -o "$got" "$url/big.bin" && sync "$got"; }
curl_plain() { curl -s -f -o "$got" "$url/big.bin"; }
prepare_ours_download() { fresh_target; }
prepare_curl_sync() { fresh_target; }
prepare_curl_plain() { fresh_target; }
compared_download=""
check_ours_download() {
  rss_max rss_down
  check_moved "$bytes" "our download"
  if [[ -z "$compared_download" ]]; then
    cmp -s "$file" "$got" || { echo "downloaded file differs" >&2; exit 1; }
    compared_download=1
  fi
}
check_curl_sync() { [[ $(stat -c %s "$got") -eq "$bytes" ]] || { echo "curl's download is short" >&2; exit 1; }; }
check_curl_plain() { check_curl_sync; }

ours_upload() { "$bin/http_transfer" upload "$url/sink" "$file" big.bin; }
curl_upload() {
  curl -s -f -o /dev/null -w 'curl_uploaded=%{size_upload}\n' -F "file_data=@$file;filename=big.bin" "$url/sink"
}
check_ours_upload() {
  rss_max rss_up
  check_moved "$bytes" "our upload"
  grep -q '"rt":1' "$work/out" || { echo "upload reply missing" >&2; exit 1; }
}
check_curl_upload() { check_moved "$bytes" "curl's upload"; }

ours_posts() { "$bin/http_transfer" posts "$url/Login" "$posts"; }
curl_posts() { "$bin/curl_posts" "$url/Login" "$posts"; }
check_ours_posts() { rss_max rss_posts; }

rss_down="" rss_up="" rss_posts=""
if has_part download; then
  alternate ours_download curl_sync curl_plain
  echo "download runs (s): ours $runs_ours_download| curl -o + sync $runs_curl_sync| curl -o $runs_curl_plain"
  awk -v bytes="$bytes" -v o="$median_ours_download" -v s="$median_curl_sync" -v c="$median_curl_plain" \
    -v r="$rss_down" 'BEGIN {
    mib = bytes / 1048576
    printf "download %d MiB, medians: ours %.3f s (%.0f MiB/s), curl -o + sync %.3f s (%.0f MiB/s), curl -o %.3f s (%.0f MiB/s)\n", mib, o, mib / o, s, mib / s, c, mib / c
    printf "download throughput ratio ours/(curl -o + sync) %.2f (target >= 1.00), ours/(curl -o) %.2f (target >= 0.90)\n", s / o, c / o
    printf "our peak resident memory, download: %.1f MiB (target < 16 MiB)\n", r / 1024
  }'
fi
if has_part upload; then
  alternate ours_upload curl_upload
  echo "upload runs (s): ours $runs_ours_upload| curl -F $runs_curl_upload"
  awk -v bytes="$bytes" -v o="$median_ours_upload" -v c="$median_curl_upload" -v r="$rss_up" 'BEGIN {
    mib = bytes / 1048576
    printf "upload   %d MiB, medians: ours %.3f s (%.0f MiB/s), curl -F %.3f s (%.0f MiB/s), throughput ratio ours/curl %.2f (target >= 0.90)\n", mib, o, mib / o, c, mib / c, c / o
    printf "our peak resident memory, upload: %.1f MiB (target < 16 MiB)\n", r / 1024
  }'
fi
if has_part posts; then
  alternate ours_posts curl_posts
  echo "small POST runs (s): ours $runs_ours_posts| libcurl $runs_curl_posts"
  awk -v o="$median_ours_posts" -v c="$median_curl_posts" -v n="$posts" -v r="$rss_posts" 'BEGIN {
    printf "small POSTs x%d, medians: ours %.3f s, libcurl fresh handles %.3f s, time ratio ours/libcurl %.2f (target <= 1.20)\n", n, o, c, o / c
    printf "our peak resident memory, small POSTs: %.1f MiB (target < 16 MiB)\n", r / 1024
  }'
fi

if [[ "${HTTP_BENCH_STRACE:-}" == 1 ]]; then
  if command -v strace >/dev/null; then
    fresh_target
    strace -f -c -w -o "$work/strace.txt" "$bin/http_transfer" download "$url/big.bin" "$got" 2>"$work/err"
    echo "one download of ours under strace -f -c -w (wall time by system call):"
    head -n 14 "$work/strace.txt"
  else
    echo "strace missing: no system-call summary" >&2
  fi
fi
