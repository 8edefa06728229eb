#!/usr/bin/env bash
# Recordings web service load scenario, while 32 generator slots record (WAV, real time):
#   (1) /ws/slots and (2) /ws/slots/0/calendarevents for one week out of a recordings table of
#       100 000 rows: requests per second and 99th-percentile latency under 200 concurrent
#       clients that open a new connection for every request (wrk with "Connection: close"),
#       each beside nginx serving the very same answer bytes as a static file in the same run;
#   (3) a large range download (the second half of a 512 MiB recording): throughput of curl
#       reading it from the web service, from nginx and from the disk (file://), same file, same
#       client, best of three runs each.
#
# Usage: bench/web_service_bench.sh [path/to/web_service_bench_server]
#   DURATION=seconds (10), CONNECTIONS (200), SLOTS (32), ROWS (100000), BIG_MIB (512)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
server="${1:-$(dirname "$0")/../build/bench/web_service_bench_server}"
duration="${DURATION:-10}"
connections="${CONNECTIONS:-200}"
slots="${SLOTS:-32}"
rows="${ROWS:-100000}"
big_mib="${BIG_MIB:-512}"
bench_setup wsbench
chmod 755 "$work"  # nginx's worker processes read the files as another user

ours=$(free_port)
"$server" "$ours" "$work" "$slots" "$rows" "$big_mib" > "$work/server.out" 2> "$work/server.err" &
pids+=($!)
for _ in $(seq 600); do grep -q '^ready' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
read -r _ _ big_id big_path < "$work/server.out" || { cat "$work/server.err" >&2; exit 1; }
[[ -n "${big_id:-}" ]] || { echo "the bench server did not start" >&2; exit 1; }
sleep 2  # every slot has its first file open

# nginx serves the same bytes: the answers as static files, the large recording by a link.
calendar="/ws/slots/0/calendarevents?start=2015-06-01T00:00:00Z&end=2015-06-08T00:00:00Z"
mkdir -p "$work/www" "$work/nginx/logs"
curl -sf "http://127.0.0.1:$ours/ws/slots" -o "$work/www/slots.json"
curl -sf "http://127.0.0.1:$ours$calendar" -o "$work/www/calendar.json"
ln -s "$big_path" "$work/www/large.wav"
events=$(grep -o '"id"' "$work/www/calendar.json" | wc -l)
peer=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 2;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { application/json json; audio/wav wav; }
  server {
    listen 127.0.0.1:$peer;
    root $work/www;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)
wait_port "$peer"

# A 30 s time-out: a request that waits long is measured, not dropped and sent again (an
# abandoned request still costs the server its work).
wrk_options=(--timeout 30s)

echo "$slots slots recording; recordings table of $rows rows; calendar week: $events events"
printf '%-38s %12s %10s  %s\n' scenario "requests/s" "p99 ms" "errors"
read -r a_rps a_p99 a_err < <(run_wrk "http://127.0.0.1:$ours/ws/slots")
printf '%-38s %12s %10s  %s\n' "velloran /ws/slots" "$a_rps" "$a_p99" "$a_err"
read -r b_rps b_p99 b_err < <(run_wrk "http://127.0.0.1:$peer/slots.json")
printf '%-38s %12s %10s  %s\n' "nginx, same bytes (static file)" "$b_rps" "$b_p99" "$b_err"
read -r c_rps c_p99 c_err < <(run_wrk "http://127.0.0.1:$ours$calendar")
printf '%-38s %12s %10s  %s\n' "velloran calendarevents (1 week)" "$c_rps" "$c_p99" "$c_err"
read -r d_rps d_p99 d_err < <(run_wrk "http://127.0.0.1:$peer/calendar.json")
printf '%-38s %12s %10s  %s\n' "nginx, same bytes (static file)" "$d_rps" "$d_p99" "$d_err"
awk -v a="$a_rps" -v b="$b_rps" -v c="$c_rps" -v d="$d_rps" 'BEGIN {
  if (b > 0 && d > 0) printf "ratio velloran/nginx (requests/s): slots %.3f, calendar %.3f\n",
                             a / b, c / d }'

# The second half of the file: a player that jumps into a long recording.
size=$(stat -c %s "$big_path")
first=$((size / 2))
speed() {  # best bytes/s of three runs
  local best=0 s
  for _ in 1 2 3; do
    s=$(curl -sf -r "$first-" -o /dev/null -w '%{speed_download}' "$1")
    best=$(awk -v a="$best" -v b="$s" 'BEGIN { print (b > a ? b : a) }')
  done
  echo "$best"
}
cat "$big_path" > /dev/null  # in the page cache for every reader alike
v=$(speed "http://127.0.0.1:$ours/ws/slots/0/getfile/$big_id/large.wav")
n=$(speed "http://127.0.0.1:$peer/large.wav")
f=$(speed "file://$big_path")
mib=$(( (size - first) / 1048576 ))
printf '%-38s %12s\n' "range download of $mib MiB" "MiB/s"
awk -v v="$v" -v n="$n" -v f="$f" 'BEGIN {
  printf "%-38s %12.0f\n%-38s %12.0f\n%-38s %12.0f\n", "velloran getfile (206)", v / 1048576,
         "nginx (206)", n / 1048576, "curl file:// (disk, page cache)", f / 1048576
  if (n > 0 && f > 0) printf "ratio velloran/nginx %.2f, velloran/disk %.2f\n", v / n, v / f }'

kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
cat "$work/server.err"
