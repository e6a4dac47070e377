#!/usr/bin/env bash
# Measures the HTTP client against curl on a loopback nginx started here:
#   - a 1 GiB download: http_transfer download against curl -o
#   - a 1 GiB multipart upload to the same sink: http_transfer upload against curl -F
#   - 1000 sequential small JSON POSTs: http_transfer posts against curl_posts
#     (libcurl with a fresh easy handle for each request)
# Prints the throughput ratios ours/curl, the small-request time ratio and our
# peak resident memory. Each measurement is the best of RUNS runs.
#
# Usage: bench/http_bench.sh [BUILD_DIR]     (default: build; programs in BUILD_DIR/bin)
# Environment: HTTP_BENCH_MIB (file size, default 1024), HTTP_BENCH_POSTS
# (default 1000), HTTP_BENCH_RUNS (default 3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/bin
mib=${HTTP_BENCH_MIB:-1024}
posts=${HTTP_BENCH_POSTS:-1000}
runs=${HTTP_BENCH_RUNS:-3}
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

# best_time VAR command...: runs the command RUNS times (after `prepare`, when
# set) and stores the shortest wall time in seconds in VAR.
prepare=""
best_time() {
  local var=$1 best="" start end took
  shift
  for _ in $(seq "$runs"); do
    [[ -n "$prepare" ]] && eval "$prepare"
    start=$(now)
    "$@" >"$work/out" 2>"$work/err" || {
      echo "failed: $*" >&2
      cat "$work/err" >&2
      return 1
    }
    end=$(now)
    took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    if [[ -z "$best" ]] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then
      best=$took
    fi
  done
  printf -v "$var" '%s' "$best"
}

peak_rss() { sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' "$work/err" | tail -1; }
# Every byte of the file must have moved, by our count and by curl's.
check_moved() {
  local moved
  moved=$(sed -n "s/.*moved=\([0-9]*\).*/\1/p; s/^curl_uploaded=\([0-9]*\)$/\1/p" "$work/err" "$work/out" | tail -1)
  if [[ "$moved" -lt "$1" ]]; then
    echo "$2 moved ${moved:-nothing} of $1 bytes" >&2
    exit 1
  fi
}

start_nginx
url="http://127.0.0.1:$port"
file="$work/www/big.bin"
head -c $((mib * 1048576)) /dev/zero | tr '\0' 'k' >"$file"
bytes=$(stat -c %s "$file")
echo "nginx on 127.0.0.1:$port, file of $mib MiB, $runs runs each, best run counted"

prepare="rm -f '$work/got.bin'"
best_time ours_down "$bin/http_transfer" download "$url/big.bin" "$work/got.bin"
rss_down=$(peak_rss)
check_moved "$bytes" "our download"
cmp -s "$file" "$work/got.bin" || { echo "downloaded file differs" >&2; exit 1; }
best_time curl_down curl -s -f -o "$work/got.bin" "$url/big.bin"
prepare=""

best_time ours_up "$bin/http_transfer" upload "$url/sink" "$file" big.bin
rss_up=$(peak_rss)
check_moved "$bytes" "our upload"
grep -q '"rt":1' "$work/out" || { echo "upload reply missing" >&2; exit 1; }
best_time curl_up curl -s -f -o /dev/null -w 'curl_uploaded=%{size_upload}\n' \
  -F "file_data=@$file;filename=big.bin" "$url/sink"
check_moved "$bytes" "curl's upload"

best_time ours_posts "$bin/http_transfer" posts "$url/Login" "$posts"
rss_posts=$(peak_rss)
best_time curl_posts "$bin/curl_posts" "$url/Login" "$posts"

awk -v bytes="$bytes" -v od="$ours_down" -v cd="$curl_down" -v ou="$ours_up" -v cu="$curl_up" \
  -v op="$ours_posts" -v cp="$curl_posts" -v n="$posts" \
  -v rd="$rss_down" -v ru="$rss_up" -v rp="$rss_posts" 'BEGIN {
  mib = bytes / 1048576
  printf "download %d MiB: ours %.3f s (%.0f MiB/s), curl -o %.3f s (%.0f MiB/s), throughput ratio ours/curl %.2f (target >= 0.90)\n", mib, od, mib / od, cd, mib / cd, cd / od
  printf "upload   %d MiB: ours %.3f s (%.0f MiB/s), curl -F %.3f s (%.0f MiB/s), throughput ratio ours/curl %.2f (target >= 0.90)\n", mib, ou, mib / ou, cu, mib / cu, cu / ou
  printf "small POSTs x%d: ours %.3f s, libcurl fresh handles %.3f s, time ratio ours/libcurl %.2f (target <= 1.20)\n", n, op, cp, op / cp
  printf "our peak resident memory: download %.1f MiB, upload %.1f MiB, small POSTs %.1f MiB (target < 16 MiB)\n", rd / 1024, ru / 1024, rp / 1024
}'
