#!/usr/bin/env bash
# The real keldrin.exe from the zip, under Wine in Xvfb, used as an operator would:
# COM3 is a pseudo-terminal (the receiver box's end is held here), the settings are
# read from and the journal written to files with Chinese names, a table file made by
# the Linux build is read and saved back byte for byte, and its CSV export equals the
# Linux build's export of the same rows; the box's terminal goes away with its COM3
# link and comes back on a new one, and Keldrin opens it again by itself. Then the
# installer installs silently, the
# installed program starts from its Start-menu shortcut, and the uninstaller removes it.
# Usage: wine_e2e.sh APP_FOLDER FIXTURES SETUP_EXE, with WINEPREFIX a prefix set to
# Windows 10. Prints one line per check and a closing count; exits non-zero on failure.
set -euo pipefail
app=$(realpath "$1")
fixtures=$(realpath "$2")
setup=$(realpath "$3")
: "${WINEPREFIX:?}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH  # the zip must carry every DLL it needs
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d /tmp/keldrin-wine.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com3"
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAILED: $*"; failed=$((failed + 1)); }
# wait_for SECONDS 'CONDITION': true once the shell condition holds (looked at anew
# every 0.2 s).
wait_for() {
  local until=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$until" ]; do
    eval "$2" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

# A display of our own.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for 20 'test -s "$work/display"' || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$work/display")

# The receiver box's end of COM3.
python3 "$here/box_end.py" "$work" &
box=$!
pids+=($box)
wait_for 20 'test -s "$work/pty"' || { echo "no pseudo-terminal"; exit 1; }
ln -sfn "$(cat "$work/pty")" "$WINEPREFIX/dosdevices/com3"

wd=$work/wd
mkdir -p "$wd"
printf 3 > "$wd/端口号.txt"
printf 9600 > "$wd/波特率.txt"
cp "$fixtures/fixture.tbl" "$wd/"

# A broker on this machine's loopback, and publishing turned on: the Windows build's
# libmosquitto says the rig is online and follows the port's state.
broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  echo "listener $broker_port 127.0.0.1"
  echo "allow_anonymous true"
  echo "user $(id -un)"
} > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" 2>/dev/null &
pids+=($!)
wait_for 20 "mosquitto_pub -h 127.0.0.1 -p $broker_port -t probe -m x" || { echo "no broker"; exit 1; }
mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t 'keldrin/wine/status' > "$work/status.txt" 2>/dev/null &
pids+=($!)
printf '[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%s\nrig=wine\n' "$broker_port" > "$wd/发布.ini"

windows() { xdotool search --onlyvisible --class keldrin.exe 2>/dev/null | sort; }
t0=$(date +%s%N)
(cd "$wd" && exec wine "$app/keldrin.exe" >"$work/keldrin.log" 2>&1) &
pids+=($!)
if wait_for 60 'test -n "$(windows)"'; then
  ok "the window comes up ($(( ($(date +%s%N) - t0) / 1000000 )) ms after start)"
else
  bad "no window within 60 s"; cat "$work/keldrin.log"; xdotool search --name "" 2>/dev/null | head; exit 1
fi
main=$(windows | head -n1)

greeting() { od -An -tx1 -N4 "$work/received.bin" 2>/dev/null | tr -d ' \n'; }
if wait_for 20 'test "$(greeting)" = 5ca50000'; then
  ok "the connect greeting 5C A5 00 00 arrives on COM3"
else
  bad "no greeting on COM3: $(greeting)"
fi
title="Keldrin3.0              已连接COM3"
if wait_for 10 'test "$(xdotool getwindowname "$main")" = "$title"'; then
  ok "the title says \"$title\""
else
  bad "the title is \"$(xdotool getwindowname "$main")\""
fi
online='{"state":"online","port":{"name":"COM3","state":"connected"}}'
if wait_for 20 "grep -qF '$online' '$work/status.txt'"; then
  ok "publishing: the rig is online at the broker with COM3 connected"
else
  bad "publishing: the broker has $(cat "$work/status.txt")"
fi
if wait_for 10 'test -f "$wd/未保存记录.dat"'; then
  ok "the journal 未保存记录.dat appears under its Chinese name beside 端口号.txt and 波特率.txt"
else
  bad "no 未保存记录.dat: $(ls "$wd")"
fi

. "$here/wine_clicks.sh"

# 从文件读 the Linux build's table file, save it back, and export it.
if file_button 从文件读 fixture.tbl && answer_box; then ok "从文件读 reads the Linux build's table file"; else bad "从文件读"; fi
if file_button 存到文件 windows.tbl && answer_box && wait_for 10 'cmp -s "$wd/windows.tbl" "$fixtures/fixture.tbl"'; then
  ok "存到文件 writes the same bytes as the Linux build"
else
  bad "存到文件: $(ls -l "$wd")"
fi
# A name no file there starts with: the dialog completes typed names.
if file_button 数据导出 export && answer_box && wait_for 10 'cmp -s "$wd/export.csv" "$fixtures/linux.csv"'; then
  ok "数据导出 writes the same CSV bytes (GBK, CR LF) as the Linux build"
else
  bad "数据导出: $(ls "$wd"; od -An -c "$wd/export.csv" 2>/dev/null | head -5)"
fi

# The adapter pulled while acquiring: the box's end of the terminal closes and COM3 is
# gone. Wine reports nothing for a vanished terminal, so it is the quiet link (30 s
# without a byte) that finds the port will not open again. Then the box returns on a
# new terminal under the same name, and Keldrin greets it by itself.
polled() { [ "$(stat -c %s "$work/received.bin")" -gt 4 ]; }
# shellcheck disable=SC2086
click_at ${button_at[启动]}
wait_for 10 polled || bad "启动 sent no poll: $(od -An -tx1 "$work/received.bin" | head -2)"
kill "$box"
rm -f "$WINEPREFIX/dosdevices/com3"
lost="Keldrin              连接断开COM3，重连中。。。"
if wait_for 45 'test "$(xdotool getwindowname "$main")" = "$lost"'; then
  ok "a vanished COM3 is noticed while acquiring: the title says \"$lost\""
  if wait_for 10 "grep -qF '\"state\":\"reconnecting\"' '$work/status.txt'"; then
    ok "publishing: the broker hears that COM3 is reconnecting"
  else
    bad "publishing: no reconnecting state at the broker: $(tail -n2 "$work/status.txt")"
  fi
else
  bad "after the unplug the title is \"$(xdotool getwindowname "$main")\""
fi
python3 "$here/box_end.py" "$work" 2 &
pids+=($!)
wait_for 20 'test -s "$work/pty2"' || { echo "no second pseudo-terminal"; exit 1; }
ln -sfn "$(cat "$work/pty2")" "$WINEPREFIX/dosdevices/com3"
greeting2() { od -An -tx1 -N4 "$work/received2.bin" 2>/dev/null | tr -d ' \n'; }
if wait_for 20 'test "$(greeting2)" = 5ca50000' &&
  wait_for 10 'test "$(xdotool getwindowname "$main")" = "Keldrin              已连接COM3"'; then
  ok "COM3 made again is opened by itself: the greeting arrives on the new terminal"
else
  bad "no healing: greeting \"$(greeting2)\", title \"$(xdotool getwindowname "$main")\""
fi
kill_keldrin

# The installer, silently; the program from its shortcut; the uninstaller.
wine "$setup" /S >/dev/null 2>&1 || true
wineserver -w
installed="$WINEPREFIX/drive_c/Program Files/Keldrin"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Keldrin/Keldrin.lnk"
if [ -f "$installed/keldrin.exe" ] && [ -f "$installed/platforms/qwindows.dll" ] && [ -f "$shortcut" ]; then
  ok "the installer installs silently for every user, with a Start-menu shortcut"
else
  bad "silent install: $(ls "$installed" 2>&1 | head -5)"
fi
user_folder="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/Keldrin"
rm -rf "$user_folder"
(cd "$work" && exec wine start /unix "$shortcut" >/dev/null 2>&1) &
# A new folder has no port yet: the start says "连接失败" (a port that cannot be opened),
# and once that is answered the journal is made there.
if wait_for 60 'test -n "$(windows)"' && wait_for 10 'test -d "$user_folder"' && answer_box &&
  wait_for 10 'test -f "$user_folder/未保存记录.dat"'; then
  ok "the shortcut starts the installed program in %LOCALAPPDATA%\\Keldrin, which says 连接失败 with no port yet"
else
  bad "the shortcut did not start Keldrin in its folder: $(ls "$user_folder" 2>&1)"
fi
kill_keldrin
wine "$installed/uninstall.exe" /S >/dev/null 2>&1 || true
wineserver -w
if wait_for 30 'test ! -e "$installed/keldrin.exe"' && [ ! -e "$shortcut" ]; then
  ok "the uninstaller removes the program and its shortcut, and keeps the operator's folder"
  [ -d "$user_folder" ] || bad "the uninstaller removed the operator's folder"
else
  bad "uninstall left: $(ls "$installed" 2>&1 | head -5)"
fi

echo "Wine end to end: $passed passed, $failed failed"
[ "$failed" = 0 ]
