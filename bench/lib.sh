# Shared pieces of the whole-process load scenarios in bench/: a work folder removed at exit with
# the helper processes stopped, free loopback ports and waiting for a server, the CPU time of a
# command, wrk's figures, a private Icecast2 server and the head of a Velloran.ini.
# Sourced by the scenario scripts after `set -euo pipefail`:
#   source "$(dirname "$0")/lib.sh"

# bench_setup NAME: a fresh folder $work (/tmp/velloran-NAME-XXXXXX). Processes whose ids are
# added to the array pids are stopped, and the folder is removed, when the script exits.
bench_setup() {
  work="$(mktemp -d "/tmp/velloran-$1-XXXXXX")"
  pids=()
  wrk_options=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_port PORT: returns once something accepts on 127.0.0.1:PORT; ends the script after 10 s.
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "server on port $1 did not start" >&2
  exit 1
}

# cpu_and_peak COMMAND...: prints "cpu_seconds max_rss_kib" of the command under GNU time: user
# plus system time, waited-for children included; the peak is the largest single process. The
# command's output is discarded and its exit status ignored (the scenarios end it by time-out).
cpu_and_peak() {
  local out
  out="$(mktemp -p "$work" time-XXXXXX)"
  /usr/bin/time -f "%U %S %M" -o "$out" "$@" > /dev/null 2>&1 || true
  tail -n 1 "$out" | awk '{ printf "%.2f %d\n", $1 + $2, $3 }'
}
# cpu_seconds COMMAND...: the CPU seconds alone.
cpu_seconds() {
  cpu_and_peak "$@" | awk '{ print $1 }'
}

# run_wrk URL [wrk options]: $connections clients that open a new connection for every request
# ("Connection: close") for $duration seconds, with the options in the array wrk_options.
# Prints "requests_per_second p99_ms non2xx_or_errors".
run_wrk() {
  local out
  out=$(wrk -t2 -c"$connections" -d"${duration}s" "${wrk_options[@]}" --latency \
    -H "Connection: close" "$@")
  local rps p99 errors
  rps=$(awk '/^Requests\/sec:/ { print $2 }' <<< "$out")
  p99=$(awk '$1 == "99%" { v = $2; if (v ~ /us$/) { sub(/us/, "", v); v /= 1000 }
                          else if (v ~ /ms$/) { sub(/ms/, "", v) }
                          else if (v ~ /s$/) { sub(/s/, "", v); v *= 1000 } print v }' <<< "$out")
  errors=$(awk '/Non-2xx|Socket errors/ { sub(/^ +/, ""); printf "%s; ", $0 }' <<< "$out")
  echo "${rps:-0} ${p99:-0} ${errors:-none}"
}

# start_icecast PASSWORD LOGLEVEL LIMITS: a private Icecast2 on a free loopback port
# ($icecast_port), source and admin password PASSWORD, LIMITS the content of its <limits>
# element, its logs (error.log, access.log) in $work; returns once it answers.
start_icecast() {
  local password=$1 loglevel=$2 limits=$3
  icecast_port=$(free_port)
  chmod 777 "$work"  # the server writes its logs as nobody
  cat > "$work/icecast.xml" <<XML
<icecast>
  <limits>$limits</limits>
  <authentication><source-password>$password</source-password><admin-user>admin</admin-user>
    <admin-password>$password</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$icecast_port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths><basedir>/usr/share/icecast2</basedir><logdir>$work</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>$loglevel</loglevel></logging>
  <security><chroot>0</chroot><changeowner><user>nobody</user><group>nogroup</group></changeowner></security>
</icecast>
XML
  icecast2 -c "$work/icecast.xml" > "$work/icecast.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    curl -sf -o /dev/null "http://127.0.0.1:$icecast_port/status-json.xsl" && break
    sleep 0.1
  done
}

# ini_head N [GENERAL_LINES]: the [General] section of a Velloran.ini for N slots and no alarm
# slots, closing without a question, plus GENERAL_LINES, then the web server switched off.
ini_head() {
  printf '[General]\nSlotCount=%d\nAlarmSlotCount=0\nCloseConfirmation=off\n%s' "$1" "${2:-}"
  printf '[Webserver]\nEnabled=off\n'
}
