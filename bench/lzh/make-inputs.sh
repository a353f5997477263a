#!/usr/bin/env bash
# Makes the two benchmark inputs in the given folder (default bench-inputs/):
#   shot.bmp     a 1920x1080 24-bit screenshot of a desktop with text and windows,
#                taken under a private Xvfb with a few X programs open;
#   binaries.bin 64 MiB of the system's shared libraries, concatenated;
#   random.bin   64 MiB of random bytes (what photos, videos and archives look like to a packer).
# Then runs lzh_bench on them when its path is given as the second argument.
set -euo pipefail
# The X programs and the bench get their own HOME, XDG folders and TMPDIR, as the tests do.
if [ -z "${ZORVIN_ISOLATED:-}" ]; then
  exec sh "$(dirname "$0")/../../tests/run-isolated.sh" env ZORVIN_ISOLATED=1 bash "$0" "$@"
fi
out=${1:-bench-inputs}
bench=${2:-}
mkdir -p "$out"

if [ ! -s "$out/binaries.bin" ]; then
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +20k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c $((64 * 1024 * 1024)) > "$out/binaries.bin" || true
fi

if [ ! -s "$out/random.bin" ]; then
  head -c $((64 * 1024 * 1024)) /dev/urandom > "$out/random.bin"
fi

if [ ! -s "$out/shot.bmp" ]; then
  display=
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=:$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  pids=()
  cleanup() { kill "${pids[@]}" "$xvfb" 2>/dev/null || true; }
  trap cleanup EXIT
  for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  export DISPLAY=$display
  openbox >/dev/null 2>&1 & pids+=($!)
  xsetroot -solid '#3a6ea5' 2>/dev/null || true
  xmessage -geometry 900x700+40+40 -file /etc/services >/dev/null 2>&1 & pids+=($!)
  xedit -geometry 800x600+1000+80 /etc/ssl/openssl.cnf >/dev/null 2>&1 & pids+=($!)
  xcalc -geometry 300x400+1500+600 >/dev/null 2>&1 & pids+=($!)
  xclock -geometry 200x200+1000+750 >/dev/null 2>&1 & pids+=($!)
  xlogo -geometry 200x200+1250+750 >/dev/null 2>&1 & pids+=($!)
  xeyes -geometry 200x150+100+850 >/dev/null 2>&1 & pids+=($!)
  sleep 2 # let the programs draw; nothing to wait on
  import -window root BMP3:"$out/shot.bmp"
fi

ls -l "$out/shot.bmp" "$out/binaries.bin" "$out/random.bin"
if [ -n "$bench" ]; then
  "$bench" "$out/shot.bmp" "$out/binaries.bin" "$out/random.bin"
fi
