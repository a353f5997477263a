#!/bin/sh
# Installs the build into a staging folder and builds the Debian package from it, then checks
# what a user's machine would get: the files, the computed dependencies, no maintainer
# scripts (removing the package never touches anyone's home), the desktop and AppStream
# validators, lintian when present, and the unpacked program, which answers --version and
# keeps its data in ~/.config/zorvin/ although its own folder is writable here.
# Usage: check-package.sh BUILD_DIR VERSION   (run through tests/run-isolated.sh)
set -u
build=$1
version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/package-XXXXXX") || exit 1
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
need() {
  command -v "$1" >/dev/null 2>&1 || { echo "FAIL: $1 is missing (scripts/setup installs it)" >&2; exit 1; }
}
need cpack
need dpkg-deb
need desktop-file-validate
need appstreamcli

expected="usr/bin/zorvin
usr/share/applications/zorvin.desktop
usr/share/metainfo/com.velmora.zorvin.metainfo.xml
usr/share/man/man1/zorvin.1.gz
usr/share/doc/zorvin/copyright
usr/share/doc/zorvin/changelog.Debian.gz"
for size in 16 22 24 32 48 64 128 256; do
  expected="$expected
usr/share/icons/hicolor/${size}x${size}/apps/zorvin.png"
done

# 1. cmake --install into a staging folder: the same rules the package uses.
DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install"; }
for f in $expected; do
  [ -f "$work/stage/$f" ] || fail "installed tree lacks $f"
done
# Each icon is as large as its folder says (PNG width and height at bytes 16..23).
for size in 16 22 24 32 48 64 128 256; do
  png="$work/stage/usr/share/icons/hicolor/${size}x${size}/apps/zorvin.png"
  [ -f "$png" ] || continue
  got=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
  [ "$got" = "${size}x${size}" ] || fail "icon in ${size}x${size} is $got"
done

# 2. The validators, on the installed files.
desktop-file-validate "$work/stage/usr/share/applications/zorvin.desktop" >"$work/desktop.log" 2>&1
if [ $? -ne 0 ] || grep -q 'error' "$work/desktop.log"; then
  cat "$work/desktop.log" >&2
  fail "desktop-file-validate"
fi
appstreamcli validate --no-net "$work/stage/usr/share/metainfo/com.velmora.zorvin.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
grep -q '<launchable type="desktop-id">zorvin.desktop</launchable>' \
  "$work/stage/usr/share/metainfo/com.velmora.zorvin.metainfo.xml" || fail "metainfo does not launch zorvin.desktop"
grep -q '<release version="2.66"' "$work/stage/usr/share/metainfo/com.velmora.zorvin.metainfo.xml" ||
  fail "metainfo has no 2.66 release"

# 3. The package, from the same build.
cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/out/zorvin_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  fail "no zorvin_*.deb"
  rm -rf "$work"
  exit 1
fi
case $(basename "$deb") in
  "zorvin_${version}-"*"_$(dpkg --print-architecture).deb") ;;
  *) fail "package file name $(basename "$deb")" ;;
esac
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/files"
printf '%s\n' $expected | sort >"$work/expected"
diff -u "$work/expected" "$work/files" >&2 || fail "package file list"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libsodium23 qt6-qpa-plugins; do
  case ", $depends," in
    *", $lib "* | *", $lib,"*) ;;
    *) fail "Depends lacks $lib: $depends" ;;
  esac
done
for field in Maintainer Section Priority Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field"
done
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e"
for script in preinst postinst prerm postrm config; do
  [ -e "$work/control/$script" ] && fail "maintainer script $script"
done
[ -f "$work/control/md5sums" ] || fail "no md5sums"

# 4. lintian, when installed: no errors.
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  cat "$work/lintian.log"
  grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
else
  echo "lintian not installed: skipped"
fi

# 5. The unpacked program: --version, then a real start (no display needed) to see where its
# data goes. Root could write into the unpacked usr/bin, so this also shows that an
# installed copy never uses its own folder.
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
said=$("$root/usr/bin/zorvin" --version 2>&1)
case $said in
  "zorvin $version "*) ;;
  *) fail "--version said: $said" ;;
esac
config=${XDG_CONFIG_HOME:-$HOME/.config}/zorvin
mkdir -p "$config"
# Past the first-run question, as a user who has answered it.
printf '[ZorvinSetting]\r\nZorvinOpMsg=1\r\n' >"$config/zorvin.ini"
port=$((20000 + $$ % 30000))
QT_QPA_PLATFORM=offscreen "$root/usr/bin/zorvin" --bind-address 127.0.0.1 --port "$port" \
  >"$work/run.log" 2>&1 &
pid=$!
# Start-up ends with the version stamp in the settings file.
tries=0
until grep -q '^Major=2' "$config/zorvin.ini" 2>/dev/null || ! kill -0 "$pid" 2>/dev/null || [ $tries -ge 300 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
grep -q '^Major=2' "$config/zorvin.ini" || { cat "$work/run.log" >&2; fail "the unpacked program did not start with its data in $config"; }
kill -TERM "$pid" 2>/dev/null
wait "$pid"
[ "$(ls "$root/usr/bin")" = "zorvin" ] || fail "the program wrote beside itself: $(ls "$root/usr/bin" | tr '\n' ' ')"

rm -rf "$work"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed: $(basename "$deb")"
