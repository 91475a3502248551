#!/usr/bin/env bash
# Processor time of the operator window, printed side by side with zembra-cli:
#  1. the idle window (timer ticking every second, eight phones in the device map), in
#     single and in multi mode, over a quiet stretch, with its memory (resident set) at the end;
#  2. one single download of the same job into the same simulated phone, from zembra-cli and
#     from the window (시작 pressed by the program, off screen), each run several times;
#     the window's start-up and close without a download are shown too.
# Usage: bench/window_cpu.sh [--idle-seconds N] [--runs N] [--font-mib N] [--rate BPS]
set -euo pipefail
cd "$(dirname "$0")/.."
idle=20 runs=3 mib=4 rate=12000000
while (($#)); do
    case $1 in
    --idle-seconds) idle=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --font-mib) mib=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    *) echo "usage: $0 [--idle-seconds N] [--runs N] [--font-mib N] [--rate BPS]" >&2; exit 2 ;;
    esac
done
build=${ZEMBRA_BUILD_DIR:-build}
app=$build/app/zembra cli=$build/cli/zembra-cli sim=$build/sim/zembra-phone-sim
work=$(mktemp -d /tmp/zembra-bench.XXXXXX)
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm QT_QPA_PLATFORM=offscreen
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
source scripts/demo_job.sh
make_demo_job "$work"
# A large firmware-like font (data, then padding) so that the transfer dominates.
big=$work/big_font1_0x400000.bin
{ head -c $((mib * 1048576 / 2)) /dev/urandom; head -c $((mib * 1048576 / 2)) /dev/zero | tr '\0' '\377'; } >"$big"

"$sim" --port COM65 --count 8 --rate "$rate" >"$work/sim.out" 2>&1 &
sim_pid=$!
wait_for_phones "$work/sim.out" 8

cpu_us() {  # processor time of a process (all its threads) in microseconds
    local total=0 t ns
    for t in /proc/"$1"/task/*; do
        read -r ns _ <"$t/schedstat"
        total=$((total + ns / 1000))
    done
    echo "$total"
}

rss_mib() {  # resident memory of a process in MiB
    awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' /proc/"$1"/status
}

echo "== Idle window: processor time over ${idle} s, timer ticking, eight phones in the map =="
for mode in single multi; do
    opts=()
    [[ $mode == multi ]] && opts=(--multi)
    "$app" "${opts[@]}" --quit-after $(((idle + 4) * 1000)) >/dev/null 2>&1 &
    pid=$!
    sleep 3
    before=$(cpu_us "$pid")
    sleep "$idle"
    after=$(cpu_us "$pid")
    rss=$(rss_mib "$pid")
    wait "$pid" || true
    printf '  %-6s mode: %6.1f ms in %d s = %.3f %% of one core, %s MiB resident\n' "$mode" \
        "$(echo "scale=1; ($after - $before) / 1000" | bc)" "$idle" \
        "$(echo "scale=4; ($after - $before) / ($idle * 10000)" | bc)" "$rss"
done

# user system elapsed of one command (children's resource use, from bash's time).
measure() {
    local TIMEFORMAT='%U %S %R'
    { time "$@" >/dev/null 2>&1; } 2>&1
}

echo "== One single download: code 128 KiB + font ${mib} MiB, USB phone paced at $rate bit/s =="
printf '  %-34s %9s %9s %9s %9s\n' "" "user s" "system s" "cpu s" "wall s"
report() {
    local label=$1 u s r
    read -r u s r
    printf '  %-34s %9.2f %9.2f %9.2f %9.2f\n' "$label" "$u" "$s" "$(echo "$u + $s" | bc)" "$r"
}
for ((i = 1; i <= runs; i++)); do
    measure "$cli" --port COM65 --code "$code" --font1 "$big" | report "zembra-cli, run $i"
    measure "$app" --code "$code" --font1 "$big" --press-start --exit-when-done |
        report "zembra window (off screen), run $i"
done
measure "$app" --quit-after 0 | report "zembra window start and close alone"
