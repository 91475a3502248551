#!/usr/bin/env bash
# Fuzzes the configuration file's read-save-read round trip, the simulated phone's receive
# side, the engines' receive cutter, the records filters' dates and the font address texts
# with libFuzzer: builds the fuzz programs with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for SECONDS (default 60) on its
# committed corpus (tests/fuzz/corpus/<target>) plus the inputs found in earlier runs
# (build-fuzz/corpus/<target>). A finding is written to build-fuzz/findings/<target>/ and
# ends the script with status 1; once mended, copy the file into tests/fuzz/corpus/<target>/,
# where the ordinary test suite replays it (test_fuzz).
# FUZZ_JOBS=N runs N targets at once (default 1); each target's log is
# build-fuzz/<target>.log.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh
# clang and its sanitizer and fuzzer runtimes are needed here only.
missing=()
for p in clang libclang-rt-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DZEMBRA_FUZZ=ON -DZEMBRA_BUILD_APP=OFF -DZEMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" --target fuzz_config fuzz_phone fuzz_cutter fuzz_dates fuzz_address

# The configuration target saves a file per input (with fsync): memory-backed files keep it fast.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
status=0
jobs=${FUZZ_JOBS:-1}
fuzz_one() {
    local target=$1
    mkdir -p "$dir/corpus/$target" "$dir/findings/$target"
    if ! "$dir/tests/fuzz/entry/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$dir/findings/$target/" "$dir/corpus/$target" \
        "tests/fuzz/corpus/$target" >"$dir/$target.log" 2>&1; then
        echo "fuzz_$target: finding in $dir/findings/$target/ (log: $dir/$target.log)" >&2
        return 1
    fi
    echo "== fuzz_$target for ${seconds}s: $(grep -E 'stat::number_of_executed_units' "$dir/$target.log")"
}
running=0
for target in config phone cutter dates address; do
    if ((running >= jobs)); then
        wait -n || status=1
        ((running--))
    fi
    fuzz_one "$target" &
    ((++running))
done
while ((running > 0)); do
    wait -n || status=1
    ((running--))
done
exit $status
