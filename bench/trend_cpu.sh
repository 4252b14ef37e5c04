#!/usr/bin/env bash
# What the trend window costs in CPU while recording: the real program (build/keldrin)
# on an Xvfb display against keldrin-sim with 8 probes, driven as an operator would
# with xdotool: 全选, "0.1秒", 启动, and for the second kind of run 查看 → 趋势图 (it
# follows the last ten minutes as it opens). The process's CPU time is read from
# /proc/PID/stat over KELDRIN_CPU_SECONDS (default 60) once recording runs, without
# and with the trend window (moved beside the main window, as an operator would place
# it), in the order without, with, with, without (KELDRIN_CPU_ROUNDS times, default 1),
# and printed as a share of one core.
#   bench/trend_cpu.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${KELDRIN_CPU_SECONDS:-60}
rounds=${KELDRIN_CPU_ROUNDS:-1}
for t in keldrin tools/keldrin-sim; do
  [ -x "$build/$t" ] || { echo "no $build/$t: build the targets keldrin and keldrin-sim" >&2; exit 1; }
done
for t in Xvfb xdotool; do
  command -v "$t" >/dev/null || { echo "$t is needed (packages xvfb, xdotool)" >&2; exit 1; }
done
build=$(cd "$build" && pwd)
tick=$(getconf CLK_TCK)

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 2304x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb

# utime + stime of a process, in clock ticks.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }

# The client area lies below the menu bar; controls are placed relative to it.
menu_bar=25
click_client() {  # window, x, y within the client area
  xdotool mousemove --window "$1" "$2" $(($3 + menu_bar)) click 1
  sleep 0.5
}

# One run; prints the share of one core the program used, in percent.
run() {
  local trend=$1 dir sim app win
  dir=$(mktemp -d "$work/run.XXXXXX")
  printf 3 > "$dir/端口号.txt"
  printf 9600 > "$dir/波特率.txt"
  "$build/tools/keldrin-sim" --dir "$dir" --com 3 --probes 8 > "$dir/sim.out" 2>&1 &
  sim=$!
  pids+=($sim)
  for _ in $(seq 50); do [ -e "$dir/COM3" ] && break; sleep 0.1; done
  (cd "$dir" && exec "$build/keldrin") > "$dir/keldrin.out" 2>&1 &
  app=$!
  pids+=($app)
  win=$(xdotool search --sync --onlyvisible --pid "$app" --name 'Keldrin' | head -n1)
  sleep 2
  click_client "$win" 408 613            # 全选 (376,601 80x24)
  click_client "$win" 930 458            # 组合框3 (8,440 + 888,8 68x20): its list opens
  xdotool key Home Return; sleep 0.5     # "0.1秒", the first item
  click_client "$win" 577 625            # 启动 (537,601 80x49)
  if [ "$trend" = 1 ]; then
    xdotool mousemove --window "$win" 20 $((menu_bar / 2)) click 1   # 管理, the first menu
    sleep 0.5
    xdotool key Right Right Right Return # 查看 → 趋势图
    xdotool search --sync --onlyvisible --pid "$app" --name '^趋势图$' | head -n1 | xargs -I{} xdotool windowmove {} 1200 0
  fi
  # Recording: the journal of unsaved rows grows.
  local before after
  sleep 3
  before=$(stat -c %s "$dir/未保存记录.dat" 2>/dev/null || echo 0)
  sleep 2
  after=$(stat -c %s "$dir/未保存记录.dat" 2>/dev/null || echo 0)
  if [ "$after" -le "$before" ]; then
    echo "not recording (journal $before -> $after bytes); see $dir/keldrin.out" >&2
    exit 1
  fi
  if [ "$trend" = 1 ] && [ -z "$(xdotool search --onlyvisible --pid "$app" --name '^趋势图$')" ]; then
    echo "the trend window is not open" >&2
    exit 1
  fi
  local c0 c1 t0 t1
  c0=$(cpu_ticks "$app"); t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ticks "$app"); t1=$(date +%s.%N)
  kill "$app" "$sim" 2>/dev/null || true
  wait "$app" "$sim" 2>/dev/null || true
  awk -v c="$((c1 - c0))" -v hz="$tick" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.2f", 100 * c / hz / (t1 - t0) }'
}

without=() with=()
for _ in $(seq "$rounds"); do
  without+=("$(run 0)")
  with+=("$(run 1)")
  with+=("$(run 1)")
  without+=("$(run 0)")
done
mean() { printf '%s\n' "$@" | awk '{ s += $1 } END { printf "%.2f", s / NR }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "CPU, % of one core over ${seconds} s, recording at 0.1秒 with 8 probes:"
echo "  without the trend window: ${without[*]}  (mean $(mean "${without[@]}"), median $(median "${without[@]}"))"
echo "  with it open, following:  ${with[*]}  (mean $(mean "${with[@]}"), median $(median "${with[@]}"))"
awk -v a="$(median "${without[@]}")" -v b="$(median "${with[@]}")" 'BEGIN { printf "  the trend costs %.2f points (medians)\n", b - a }'
