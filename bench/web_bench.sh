#!/usr/bin/env bash
# Web server load scenario: requests per second and 99th-percentile latency of
#   (1) a small built-in file (1 KiB, with the admin's Basic credentials),
#   (2) a 401 answer (no credentials, anonymous access none),
# under 200 concurrent clients that open a new connection for every request (wrk with
# "Connection: close"), beside the same file served by a stock `python3 -m http.server` in the
# same run; then the memory each open (idle) connection costs both servers.
#
# Usage: bench/web_bench.sh [path/to/web_bench_server]     (DURATION=seconds, default 10)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
server="${1:-$(dirname "$0")/../build/bench/web_bench_server}"
duration="${DURATION:-10}"
connections="${CONNECTIONS:-200}"
bench_setup webbench
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

head -c 1024 /dev/urandom | base64 -w 0 | head -c 1024 > "$work/small.txt"

ours=$(free_port)
"$server" "$ours" "$work/small.txt" > /dev/null &
pids+=($!)
ours_pid=$!
peer=$(free_port)
python3 -m http.server "$peer" --bind 127.0.0.1 --directory "$work" > /dev/null 2>&1 &
pids+=($!)
peer_pid=$!
wait_port "$ours"
wait_port "$peer"

auth="Authorization: Basic $(printf 'admin:secret' | base64)"
printf '%-34s %12s %10s  %s\n' scenario "requests/s" "p99 ms" "errors"
read -r o_rps o_p99 o_err < <(run_wrk -H "$auth" "http://127.0.0.1:$ours/small.txt")
printf '%-34s %12s %10s  %s\n' "velloran built-in file" "$o_rps" "$o_p99" "$o_err"
read -r u_rps u_p99 u_err < <(run_wrk "http://127.0.0.1:$ours/small.txt")
printf '%-34s %12s %10s  %s\n' "velloran 401 answer" "$u_rps" "$u_p99" "$u_err (401 expected)"
read -r p_rps p_p99 p_err < <(run_wrk "http://127.0.0.1:$peer/small.txt")
printf '%-34s %12s %10s  %s\n' "python3 -m http.server, same file" "$p_rps" "$p_p99" "$p_err"
awk -v a="$o_rps" -v b="$p_rps" -v c="$u_rps" 'BEGIN {
  if (b > 0) printf "ratio velloran/python: file %.2f, 401 %.2f (requests/s)\n", a / b, c / b }'

# Memory per open connection: N idle connections that sent half a request each.
idle=${IDLE:-200}
hold_connections() {
  python3 - "$1" "$idle" <<'PY' &
import socket, sys, time
port, n = int(sys.argv[1]), int(sys.argv[2])
held = []
for _ in range(n):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET /small.txt HTTP/1.1\r\nHost: x\r\n")
    held.append(s)
print("held", flush=True)
time.sleep(3600)
PY
}
for name in velloran python; do
  if [[ $name == velloran ]]; then port=$ours pid=$ours_pid; else port=$peer pid=$peer_pid; fi
  before=$(rss_kib "$pid")
  hold_connections "$port" > "$work/hold.txt"
  holder=$!
  for _ in $(seq 100); do grep -q held "$work/hold.txt" && break; sleep 0.1; done
  sleep 1
  after=$(rss_kib "$pid")
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  awk -v n="$name" -v a="$before" -v b="$after" -v c="$idle" \
    'BEGIN { printf "%-10s RSS %d KiB -> %d KiB with %d idle connections: %.1f KiB each\n",
             n, a, b, c, (b - a) / c }'
done
