#!/bin/sh
# Runs one test program with its own HOME, XDG folders and TMPDIR in a fresh private folder,
# removed afterwards, so no test reads or writes the user's files (the same layout as
# tests/support/IsolatedHome). The test fails when it left a new zorvin-* folder in the
# system temporary folder all the same.
# Usage: run-isolated.sh PROGRAM [ARGUMENT...]
set -u
real_tmp=${TMPDIR:-/tmp}
root=$(mktemp -d "$real_tmp/isolated-XXXXXX") || exit 1
# A test may leave read-only folders behind; make them removable first.
trap 'chmod -R u+rwx "$root" 2>/dev/null; rm -rf "$root"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for dir in home config data cache runtime tmp; do
  mkdir -m 0700 "$root/$dir" || exit 1
done
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
  XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp"

leftovers() {
  for f in "$real_tmp"/zorvin-*; do
    [ -e "$f" ] || [ -L "$f" ] && printf '%s\n' "$f"
  done
}
before=$(leftovers)

"$@"
status=$?

for f in $(leftovers); do
  case "
$before
" in
  *"
$f
"*) ;;
  *)
    echo "run-isolated: the test left $f in $real_tmp" >&2
    [ "$status" -eq 0 ] && status=1
    ;;
  esac
done
exit "$status"
