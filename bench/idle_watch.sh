#!/usr/bin/env bash
# Runs the built sentory watching 32 machines with all three logs while no
# event is written, and prints the processor time it used, as a share of one
# core, and its peak resident size. Half of the machines hold no log files,
# the other half small logs; with IDLE_LOG_MIB=N every machine holds three
# full logs of N MiB instead (goal: 6 MiB resident at 16). The monitor visits
# one log a pass, a pass every 3 s, so every one of the 96 logs has been
# visited after 288 s: IDLE_SECONDS=300 or more sees them all. A figure, not
# a test; the goals are 0.1% of one core and 8 MiB.
#
# Given log sizes in MiB, it watches instead, for each size in turn, one
# machine with one full System log of that size, and prints the processor
# time of each visit (a pass every 3 s) and the peak resident size, side by
# side: bench/idle_watch.sh build 0 4 64 256 1024.
#
# Usage: bench/idle_watch.sh [build folder [MiB ...]] (default: build);
# IDLE_SECONDS sets the time watched (default 60).

set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
[ $# -gt 0 ] && shift
sizes=("$@")
seconds=${IDLE_SECONDS:-60}
log_mib=${IDLE_LOG_MIB:-}
for program in sentory sentory-eventlog event_log_bench; do
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
printf '#!/bin/sh\necho "$@" >>runs.txt\n' >"$site/alert.sh"
chmod +x "$site/alert.sh"

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

# Watches with the given options for $seconds after startup, and sets
# cpu, wall, peak_kib, status, unable and alerts.
watch_site() {
  (cd "$site" && exec "$build/sentory" "$@" /S EWISF /R alert.sh \
    >monitor.txt 2>&1) &
  monitor_pid=$!
  sleep 2  # past startup
  if ! kill -0 "$monitor_pid" 2>/dev/null; then
    cat "$site/monitor.txt" >&2
    exit 1
  fi
  local start_cpu start_time
  start_cpu=$(cpu_ns)
  start_time=$(date +%s%N)
  sleep "$seconds"
  cpu=$(($(cpu_ns) - start_cpu))
  wall=$(($(date +%s%N) - start_time))
  peak_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$monitor_pid/status")
  kill -INT "$monitor_pid"
  status=0
  wait "$monitor_pid" || status=$?
  monitor_pid=
  unable=$(grep -c '^Unable to open' "$site/monitor.txt" || true)
  alerts=$(grep -c '^\*\*\*Alert' "$site/monitor.txt" || true)
}

if [ ${#sizes[@]} -gt 0 ]; then
  mkdir "$site/SIZED"
  empty_us=
  for mib in "${sizes[@]}"; do
    "$build/event_log_bench" fill "$site/SIZED/System.evt" "$mib"
    watch_site /M0 SIZED /SYS
    # One visit in each pass, one pass every 3 s.
    awk -v cpu="$cpu" -v wall="$wall" -v peak="$peak_kib" -v mib="$mib" \
      -v empty="$empty_us" -v status="$status" -v unable="$unable" 'BEGIN {
      visits = wall / 3e9
      us = cpu / visits / 1000
      printf "log of %5d MiB: %.1f visits, %.1f us processor time a visit", \
             mib, visits, us
      if (empty != "") printf " (%.2f x the first size)", us / empty
      printf "; peak resident %d KiB = %.2f MiB; exit status %d, %d open " \
             "failures\n", peak, peak / 1024, status, unable
    }'
    [ -n "$empty_us" ] ||
      empty_us=$(awk -v cpu="$cpu" -v wall="$wall" 'BEGIN {
        print cpu / (wall / 3e9) / 1000 }')
  done
  exit 0
fi

args=()
for n in $(seq 0 31); do
  machine=$(printf 'IDLE%02d' "$n")
  mkdir "$site/$machine"
  args+=("/M$n" "$machine")
  for log in System Security Application; do
    if [ -n "$log_mib" ]; then
      "$build/event_log_bench" fill "$site/$machine/$log.evt" "$log_mib"
      continue
    fi
    [ $((n % 2)) -eq 1 ] || continue
    for id in 1 2 3; do
      "$build/sentory-eventlog" write "$machine" "$log" --source Idle \
        --id "$id" --type information "event $id" >/dev/null
    done
  done
done

watch_site "${args[@]}" /SYS /SEC /APP
what="32 machines x 3 logs"
[ -n "$log_mib" ] && what="$what of $log_mib MiB"
awk -v cpu="$cpu" -v wall="$wall" -v peak="$peak_kib" -v status="$status" \
  -v unable="$unable" -v alerts="$alerts" -v watched="$seconds" \
  -v what="$what" -v goal_kib=$([ -n "$log_mib" ] && echo 6144 || echo 8192) 'BEGIN {
  share = 100 * cpu / wall
  printf "idle watch: %s for %d s: processor time %.1f ms, " \
         "%.4f%% of one core (goal 0.1%%: %s); peak resident %d KiB = %.2f MiB " \
         "(goal %d MiB: %s); exit status %d after Ctrl-C, %d open failures, " \
         "%d alerts\n", what, watched, cpu / 1e6, share,
         share <= 0.1 ? "met" : "NOT met", peak, peak / 1024, goal_kib / 1024,
         peak <= goal_kib ? "met" : "NOT met", status, unable, alerts
}'
