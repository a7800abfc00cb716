#!/usr/bin/env bash
# Runs the built sentory watching 32 machines with all three logs while no
# event is written, and prints the processor time it used, as a share of one
# core, and its peak resident size. Half of the machines hold no log files,
# the other half small logs. A figure, not a test; the goals are 0.1% of one
# core and 8 MiB.
#
# Usage: bench/idle_watch.sh [build folder] (default: build); IDLE_SECONDS
# sets the time watched (default 60).

set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${IDLE_SECONDS:-60}
for program in sentory sentory-eventlog; do
  if [ ! -x "$build/$program" ]; then
    echo "no $build/$program: build it first" >&2
    exit 1
  fi
done

site=$(mktemp -d)
monitor_pid=
cleanup() {
  if [ -n "$monitor_pid" ]; then kill -INT "$monitor_pid" 2>/dev/null || true; fi
  rm -rf "$site"
}
trap cleanup EXIT
export SENTORY_ROOT=$site

args=()
for n in $(seq 0 31); do
  machine=$(printf 'IDLE%02d' "$n")
  mkdir "$site/$machine"
  args+=("/M$n" "$machine")
  [ $((n % 2)) -eq 1 ] || continue
  for log in System Security Application; do
    for id in 1 2 3; do
      "$build/sentory-eventlog" write "$machine" "$log" --source Idle \
        --id "$id" --type information "event $id" >/dev/null
    done
  done
done

cd "$site"
printf '#!/bin/sh\necho "$@" >>runs.txt\n' >alert.sh
chmod +x alert.sh
"$build/sentory" "${args[@]}" /SYS /SEC /APP /S EWISF /R alert.sh \
  >monitor.txt 2>&1 &
monitor_pid=$!

# Processor time of the monitor in nanoseconds: the scheduler's own count,
# or user and system time from stat in clock ticks.
cpu_ns() {
  if [ -r "/proc/$monitor_pid/schedstat" ]; then
    cut -d' ' -f1 "/proc/$monitor_pid/schedstat"
  else
    local ticks
    ticks=$(sed 's/.*) //' "/proc/$monitor_pid/stat" | awk '{print $12 + $13}')
    echo $((ticks * 1000000000 / $(getconf CLK_TCK)))
  fi
}

sleep 2  # past startup
if ! kill -0 "$monitor_pid" 2>/dev/null; then
  cat monitor.txt >&2
  exit 1
fi
start_cpu=$(cpu_ns)
start_time=$(date +%s%N)
sleep "$seconds"
end_cpu=$(cpu_ns)
end_time=$(date +%s%N)
peak_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$monitor_pid/status")
kill -INT "$monitor_pid"
status=0
wait "$monitor_pid" || status=$?
monitor_pid=

unable=$(grep -c '^Unable to open' monitor.txt || true)
alerts=$(grep -c '^\*\*\*Alert' monitor.txt || true)
awk -v cpu=$((end_cpu - start_cpu)) -v wall=$((end_time - start_time)) \
  -v peak="$peak_kib" -v status="$status" -v unable="$unable" \
  -v alerts="$alerts" -v watched="$seconds" 'BEGIN {
  share = 100 * cpu / wall
  printf "idle watch: 32 machines x 3 logs for %d s: processor time %.1f ms, " \
         "%.4f%% of one core (goal 0.1%%: %s); peak resident %d KiB = %.2f MiB " \
         "(goal 8 MiB: %s); exit status %d after Ctrl-C, %d open failures, " \
         "%d alerts\n", watched, cpu / 1e6, share, share <= 0.1 ? "met" : "NOT met",
         peak, peak / 1024, peak <= 8192 ? "met" : "NOT met", status, unable, alerts
}'
