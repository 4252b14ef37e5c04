#!/usr/bin/env bash
# CPU of the real program on a real X display (Xvfb), as an operator's PC spends it:
# runs bench/cpu_bench from each build folder given (default: build), state by state,
# and prints one table. KELDRIN_CPU_SECONDS sets the time per state (default 60);
# KELDRIN_CPU_ROUNDS repeats the whole table (default 1) and prints each figure's runs
# and their median. Example, before against after:
#   bench/cpu_usage.sh /tmp/before/build build
#
# The builds run at the same time, each on an Xvfb of its own: on a shared machine the
# CPU a run takes drifts by a factor of two from one minute to the next, and runs side
# by side drift together. The last columns are therefore the median, over the rounds,
# of each build's figure divided by the first build's figure of the same round.
set -euo pipefail
cd "$(dirname "$0")/.."
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
for b in "${builds[@]}"; do
  [ -x "$b/bench/cpu_bench" ] || { echo "no $b/bench/cpu_bench: build the target cpu_bench there" >&2; exit 1; }
done
work=$(mktemp -d)
xvfbs=()
trap 'kill "${xvfbs[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
displays=()
for i in "${!builds[@]}"; do
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display$i" 2>/dev/null &
  xvfbs+=($!)
  for _ in $(seq 100); do [ -s "$work/display$i" ] && break; sleep 0.1; done
  displays+=(":$(cat "$work/display$i")")
done

states=(stopped acquiring_8_probes recording_0_1s recording_0_1s_100k_rows)
rounds=${KELDRIN_CPU_ROUNDS:-1}
for round in $(seq "$rounds"); do
  for s in "${states[@]}"; do
    pids=()
    for i in "${!builds[@]}"; do
      DISPLAY=${displays[$i]} QT_QPA_PLATFORM=xcb "${builds[$i]}/bench/cpu_bench" --benchmark_filter="Cpu/$s/" \
        >"$work/out.$i" 2>/dev/null &
      pids+=($!)
    done
    for i in "${!builds[@]}"; do
      wait "${pids[$i]}" || true
      cpu=$(grep -o 'cpu_percent=[0-9.]*' "$work/out.$i" | cut -d= -f2 || true)
      echo "$round $s $i ${cpu:-nan}" >>"$work/runs"
    done
  done
done
python3 - "$work/runs" "${builds[@]}" <<'PY'
import math, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    rnd, state, build, cpu = line.split()
    runs.setdefault(state, {}).setdefault(int(build), {})[int(rnd)] = float(cpu)
builds = sys.argv[2:]
head = "%-26s" % "state" + "".join(" %30s" % b for b in builds)
head += "".join(" %22s" % ("build %d / build 1" % (i + 1)) for i in range(1, len(builds)))
print(head)
for state, by in runs.items():
    cells = []
    for i in range(len(builds)):
        v = [x for x in by.get(i, {}).values() if not math.isnan(x)]
        cells.append("%.2f %% (%s)" % (statistics.median(v), " ".join("%.2f" % x for x in v)) if v else "failed")
    for i in range(1, len(builds)):
        r = [by[i][k] / by[0][k] for k in by.get(0, {}) if k in by.get(i, {})
             and by[0][k] > 0 and not math.isnan(by[i][k])]
        cells.append("%.2f" % statistics.median(r) if r else "-")
    print("%-26s" % state + "".join(" %30s" % c for c in cells[:len(builds)])
          + "".join(" %22s" % c for c in cells[len(builds):]))
PY
