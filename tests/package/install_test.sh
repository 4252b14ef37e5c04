#!/usr/bin/env bash
# Builds the .deb from a build folder, checks it with lintian (no error, no warning),
# unpacks it into a scratch root and starts the installed program offscreen: it must
# still be running when we stop it.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg-deb -f "$deb" Depends | grep -q libqt6serialport6
dpkg-deb -f "$deb" Depends | grep -q libmosquitto1

# Debian's own checker, as a packager runs it; informational tags are printed but pass.
lint=(lintian --display-info --fail-on error,warning)
if [ "$(id -u)" -eq 0 ]; then lint+=(--allow-root); fi
if ! "${lint[@]}" "$deb"; then
  echo "lintian found errors or warnings in the package (tags above)"
  exit 1
fi
dpkg -x "$deb" "$work/root"
for f in usr/bin/keldrin usr/bin/keldrin-sim usr/bin/keldrin-collect usr/share/applications/keldrin.desktop \
         usr/share/icons/hicolor/scalable/apps/keldrin.svg; do
  test -e "$work/root/$f" || { echo "missing in package: $f"; exit 1; }
done

mkdir "$work/run"
cd "$work/run"
set +e
QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/keldrin"
rc=$?
set -e
if [ "$rc" -ne 124 ]; then
  echo "the installed keldrin ended early with exit code $rc"
  exit 1
fi
# The desktop entry's start: a per-user data folder, made on first start.
grep -qx 'Exec=keldrin --user-folder' "$work/root/usr/share/applications/keldrin.desktop"
set +e
HOME="$work/home" XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/keldrin" --user-folder
rc=$?
set -e
if [ "$rc" -ne 124 ] || [ ! -d "$work/home/.local/share/Keldrin" ]; then
  echo "the desktop start did not run in its per-user folder (exit code $rc)"
  exit 1
fi
echo "package installs and starts"
