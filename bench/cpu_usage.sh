#!/usr/bin/env bash
# CPU of the real program on a real X display (Xvfb), as an operator's PC spends it:
# runs bench/cpu_bench from each build folder given (default: build), state by state,
# the builds side by side, and prints one table. KELDRIN_CPU_SECONDS sets the time per
# state (default 60); KELDRIN_CPU_ROUNDS repeats the whole table (default 1) and prints
# each figure's runs and their median. Example, before against after:
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
rounds=${KELDRIN_CPU_ROUNDS:-1}
for round in $(seq "$rounds"); do
  for s in "${states[@]}"; do
    for i in "${!builds[@]}"; do
      "${builds[$i]}/bench/cpu_bench" --benchmark_filter="Cpu/$s/" --benchmark_format=json 2>/dev/null |
        python3 -c 'import json,sys; print(sys.argv[1], sys.argv[2], json.load(sys.stdin)["benchmarks"][0]["cpu_percent"])' "$s" "$i" \
          >>"$work/runs"
    done
  done
done
python3 - "$work/runs" "${builds[@]}" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    state, build, cpu = line.split()
    runs.setdefault(state, {}).setdefault(int(build), []).append(float(cpu))
builds = sys.argv[2:]
print("%-26s" % "state" + "".join(" %30s" % b for b in builds))
for state, by in runs.items():
    cells = []
    for i in range(len(builds)):
        v = by.get(i, [])
        cells.append("%.2f %% (%s)" % (statistics.median(v), " ".join("%.2f" % x for x in v)) if v else "-")
    print("%-26s" % state + "".join(" %30s" % c for c in cells))
PY
