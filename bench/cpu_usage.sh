#!/usr/bin/env bash
# CPU of the real program on a real X display (Xvfb), as an operator's PC spends it:
# runs bench/cpu_bench from each build folder given (default: build), state by state,
# the builds side by side, and prints one table. KELDRIN_CPU_SECONDS sets the time per
# state (default 60). Example, before against after:
#   bench/cpu_usage.sh /tmp/before/build build
set -euo pipefail
cd "$(dirname "$0")/.."
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
for b in "${builds[@]}"; do
  [ -x "$b/bench/cpu_bench" ] || { echo "no $b/bench/cpu_bench: build the target cpu_bench there" >&2; exit 1; }
done
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb

states=(stopped acquiring_8_probes recording_0_1s recording_0_1s_100k_rows)
printf '%-28s' state; printf ' %22s' "${builds[@]}"; echo
for s in "${states[@]}"; do
  printf '%-28s' "$s"
  for b in "${builds[@]}"; do
    cpu=$("$b/bench/cpu_bench" --benchmark_filter="Cpu/$s/" --benchmark_format=json 2>/dev/null |
      python3 -c 'import json,sys; print("%.2f %%" % json.load(sys.stdin)["benchmarks"][0]["cpu_percent"])')
    printf ' %22s' "$cpu"
  done
  echo
done
