#!/usr/bin/env bash
# Runs a command on a private Xvfb server. The server chooses a free display number itself
# (-displayfd), so any number of these can start at the same moment (xvfb-run -a can race for
# the same number under a parallel ctest). The server ends with the command.
set -u
work="$(mktemp -d /tmp/velloran-xvfb-XXXXXX)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 300); do
  [[ -s "$work/display" ]] && break
  if ! kill -0 "$server" 2>/dev/null; then
    echo "xvfb-exec: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [[ ! -s "$work/display" ]]; then
  echo "xvfb-exec: Xvfb gave no display number" >&2
  exit 1
fi
DISPLAY=":$(head -n 1 "$work/display")" "$@"
