#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Velloran needs.
# Idempotent; run as root on Debian 12. Packages already present are left alone.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev clang-format
  # libraries
  qt6-base-dev libsqlite3-dev sqlite3 libssl-dev libcurl4-openssl-dev libmicrohttpd-dev
  libpcre2-dev libasound2-dev libjack-jackd2-dev libpulse-dev libsoxr-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libshout-dev ladspa-sdk swh-plugins
  # external encoders and audio tools used at run time and by the tests
  lame twolame vorbis-tools ffmpeg sox
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev wrk nginx-light
  # real peers started by the tests
  pulseaudio pulseaudio-utils jackd2 alsa-utils libasound2-plugins
  icecast2 python3-aiosmtpd xvfb xauth
  # the browser that the page tests drive (through playwright-core from npm)
  chromium
  # time zones for the date-time tests
  tzdata
)

# npm installs the front-end libraries of the browser pages (web/package-lock.json) and the
# browser-test driver. A Node.js that is already installed (for instance from another source)
# is kept; otherwise Debian's packages provide it.
if ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root to install packages" >&2
  exit 1
fi
# jackd2 asks whether to enable real-time scheduling; answer for it.
echo "jackd2 jackd/tweak_rt_limits boolean false" | debconf-set-selections
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
