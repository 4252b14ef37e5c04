# Operating the main window under Wine as an operator does: mouse clicks and typing
# through xdotool. Sourced by wine_e2e.sh, which defines wait_for, windows and $main.
# Qt draws the controls inside one native window, so a button is found by its place:
# the window's client area is at the model's (MainWin::kLeft, kTop); the controls lie
# below the menu bar, 20 pixels high with the windowsvista style and Debian's
# fonts-wqy-microhei under Wine (measured on a screenshot).

# Places of buttons in the client area below the menu bar (their centres).
declare -A button_at=([存到文件]="1031 492" [从文件读]="1031 524" [数据导出]="1031 556" [启动]="577 625")
window_left=50
window_top=50
menu_height=20

count_windows() { windows | wc -l; }

# click_at X Y: a left click at client coordinates below the menu bar.
click_at() {
  xdotool mousemove --sync $((window_left + $1)) $((window_top + menu_height + $2)) click 1
}

# A file dialog is told by its size: Wine's is 770 x 488, a message box is far smaller
# and the main window 1080 wide. Under Wine the dialog may still be open a second after Return, and
# the box that follows may reuse its window, so each step waits for the state it needs.
file_dialog_shown() {
  local w
  for w in $(windows); do
    xdotool getwindowgeometry "$w" 2>/dev/null |
      awk '/Geometry:/ { split($2, g, "x"); exit !(g[1] >= 600 && g[1] < 1000 && g[2] >= 400) }' &&
      return 0
  done
  return 1
}
box_shown() { [ "$(count_windows)" -gt 1 ] && ! file_dialog_shown; }

# file_button NAME FILE: clicks the file button NAME, answers its file dialog with FILE;
# true once the dialog is gone.
file_button() {
  # shellcheck disable=SC2086
  click_at ${button_at[$1]}
  wait_for 20 file_dialog_shown || return 1
  # A cold Wine fills the dialog after showing it; keys typed before that are lost.
  sleep 2
  focus_newest
  xdotool type --delay 50 "$2"
  xdotool key Return
  wait_for 20 '! file_dialog_shown'
}

# Gives the keyboard to the newest window (a dialog or a box): with no window manager,
# the keyboard may otherwise stay with the main window.
focus_newest() {
  local w
  w=$(windows | grep -vx "$main" | tail -n1)
  [ -n "$w" ] && xdotool windowfocus --sync "$w" 2>/dev/null
  sleep 0.3
}

# answer_box: waits for a message box and answers it with Enter; true once it is gone.
answer_box() {
  wait_for 20 box_shown || return 1
  sleep 0.5
  focus_newest
  xdotool key Return
  wait_for 20 'test "$(count_windows)" -eq 1' && sleep 1
}

kill_keldrin() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

